#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One prepared statement on one connection, finalised when it goes out of scope. Binding
// indices start at 1, column indices at 0, as SQLite counts them.
class KVSStatement {
public:
    KVSStatement(sqlite3* db, std::string_view sql);
    // Borrows a statement kept prepared elsewhere: going out of scope resets it and clears its
    // bindings instead, which also ends the read it may hold open.
    static KVSStatement borrow(sqlite3_stmt* statement) { return KVSStatement(statement); }
    ~KVSStatement();
    KVSStatement(const KVSStatement&) = delete;
    KVSStatement& operator=(const KVSStatement&) = delete;

    bool ok() const { return statement_ != nullptr; }

    KVSStatement& bind(int index, int64_t value);
    KVSStatement& bind(int index, double value);
    KVSStatement& bind(int index, std::string_view text);
    KVSStatement& bindNull(int index);

    // Steps once: true while a row is ready; false when done or failed (see failed()).
    bool step();
    // Runs to the end; true when every step succeeded.
    bool run();
    bool failed() const { return failed_; }

    int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    bool isNull(int column) const;

private:
    explicit KVSStatement(sqlite3_stmt* borrowed)
        : statement_(borrowed), owned_(false), failed_(borrowed == nullptr) {}

    sqlite3_stmt* statement_ = nullptr;
    bool owned_ = true;
    bool failed_ = false;
};

// Runs statements without results (schema, transactions); false on the first failure.
bool KVSExecute(sqlite3* db, const char* sql, std::string* message = nullptr);
