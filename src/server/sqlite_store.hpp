#pragma once

#include "server/sqlite_statement.hpp"
#include "server/store.hpp"

#include <sqlite3.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The single-machine store: one SQLite file in WAL mode, a connection per worker thread (lent
// from a pool that grows to the number of threads using it at once, each keeping its
// statements prepared), the schema versioned by `user_version`.
class KVSSQLiteStore final : public KVSStore {
public:
    static constexpr int kSchemaVersion = 1;

    // Opens or creates the database and brings its schema up to date. A file that cannot be
    // opened, is not a database, or carries a newer schema gives nothing and a clear error;
    // the file is never replaced.
    static std::unique_ptr<KVSSQLiteStore> open(const std::string& path, KVError* error);
    ~KVSSQLiteStore() override;

    std::optional<KVSAccount> createAccount(const std::string& email, const std::string& name,
                                            const std::string& passwordHash, int64_t credits,
                                            KVError* error) override;
    std::optional<KVSAccount> accountByEmail(const std::string& email) override;
    bool setPassword(const std::string& email, const std::string& passwordHash) override;
    std::optional<int64_t> grantCredits(const std::string& email, int64_t delta) override;
    bool addToken(int64_t accountId, const std::string& tokenHash, const std::string& device,
                  int64_t now) override;
    std::optional<KVSAccount> accountForToken(const std::string& tokenHash) override;
    KVSCharge chargeDraft(int64_t accountId, const std::string& draftId, int64_t* credits) override;
    bool addNonce(const std::string& nonce, const std::string& redirectURI,
                  int64_t expiresAt) override;
    bool takeNonce(const std::string& nonce, const std::string& redirectURI, int64_t now) override;
    bool addTelemetry(const KVSTelemetryBatch& batch) override;
    bool pruneTelemetry(int64_t receivedBefore) override;
    int64_t telemetryEventCount() override;
    bool putCardData(const std::string& setCode, const std::string& json) override;
    std::optional<std::string> cardData(const std::string& setCode) override;
    bool putRatings(const std::map<std::string, double>& ratings) override;
    std::map<std::string, double> ratings() override;

private:
    // One connection and the statements prepared on it so far, by their SQL.
    struct Connection {
        sqlite3* db = nullptr;
        std::map<std::string, sqlite3_stmt*, std::less<>> statements;
        ~Connection();
    };

    // A connection lent to one thread for one operation.
    class Lease {
    public:
        Lease(KVSSQLiteStore& store, std::unique_ptr<Connection> connection)
            : store_(store), connection_(std::move(connection)) {}
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        sqlite3* get() const { return connection_ ? connection_->db : nullptr; }
        // The statement for this SQL, prepared on first use and kept with the connection. An
        // operation uses each SQL text once at a time: a second use resets the first.
        KVSStatement statement(std::string_view sql) const;

    private:
        KVSSQLiteStore& store_;
        std::unique_ptr<Connection> connection_;
    };

    explicit KVSSQLiteStore(std::string path) : path_(std::move(path)) {}
    static sqlite3* connect(const std::string& path, KVError* error);
    static bool configure(sqlite3* db, const std::string& path, KVError* error);
    bool migrate(sqlite3* db, KVError* error);
    Lease lease();
    // Writers of this process queue here rather than in SQLite's busy handler, which sleeps
    // up to 100 ms between tries; another process writing still meets the busy timeout.
    std::unique_lock<std::mutex> writing() { return std::unique_lock(writer_); }

    const std::string path_;
    std::mutex writer_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
};
