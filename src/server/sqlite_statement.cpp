#include "server/sqlite_statement.hpp"

KVSStatement::KVSStatement(sqlite3* db, std::string_view sql) {
    if (db == nullptr || sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()),
                                            &statement_, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
        failed_ = true;
    }
}

KVSStatement::~KVSStatement() {
    if (owned_) {
        sqlite3_finalize(statement_);
    } else if (statement_ != nullptr) {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
}

KVSStatement& KVSStatement::bind(int index, int64_t value) {
    if (statement_ != nullptr && sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) {
        failed_ = true;
    }
    return *this;
}

KVSStatement& KVSStatement::bind(int index, double value) {
    if (statement_ != nullptr && sqlite3_bind_double(statement_, index, value) != SQLITE_OK) {
        failed_ = true;
    }
    return *this;
}

KVSStatement& KVSStatement::bind(int index, std::string_view text) {
    if (statement_ != nullptr &&
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        failed_ = true;
    }
    return *this;
}

KVSStatement& KVSStatement::bindNull(int index) {
    if (statement_ != nullptr && sqlite3_bind_null(statement_, index) != SQLITE_OK) {
        failed_ = true;
    }
    return *this;
}

bool KVSStatement::step() {
    if (statement_ == nullptr || failed_) {
        return false;
    }
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) {
        return true;
    }
    if (result != SQLITE_DONE) {
        failed_ = true;
    }
    return false;
}

bool KVSStatement::run() {
    while (step()) {
    }
    return !failed_;
}

int64_t KVSStatement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

double KVSStatement::real(int column) const {
    return sqlite3_column_double(statement_, column);
}

std::string KVSStatement::text(int column) const {
    const auto* bytes = sqlite3_column_text(statement_, column);
    if (bytes == nullptr) {
        return {};
    }
    return {reinterpret_cast<const char*>(bytes),
            static_cast<size_t>(sqlite3_column_bytes(statement_, column))};
}

bool KVSStatement::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

bool KVSExecute(sqlite3* db, const char* sql, std::string* message) {
    char* failure = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &failure) == SQLITE_OK) {
        return true;
    }
    if (message != nullptr) {
        *message = failure != nullptr ? failure : sqlite3_errmsg(db);
    }
    sqlite3_free(failure);
    return false;
}
