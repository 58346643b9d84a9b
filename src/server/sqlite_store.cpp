// Connections, schema and migrations of the SQLite store.
#include "server/sqlite_store.hpp"

#include "server/sqlite_statement.hpp"

#include <array>

namespace {

// Each step takes the schema from version index to index + 1, in one transaction.
constexpr std::array<const char*, KVSSQLiteStore::kSchemaVersion> kMigrations = {
    R"sql(
    CREATE TABLE accounts (
        id INTEGER PRIMARY KEY,
        email TEXT NOT NULL UNIQUE,
        name TEXT NOT NULL,
        password_hash TEXT NOT NULL DEFAULT '',
        credits INTEGER NOT NULL DEFAULT 0 CHECK (credits >= 0),
        created_at INTEGER NOT NULL DEFAULT (strftime('%s', 'now')));
    CREATE TABLE tokens (
        token_hash TEXT PRIMARY KEY,
        account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
        device TEXT NOT NULL,
        created_at INTEGER NOT NULL);
    CREATE INDEX tokens_by_device ON tokens(account_id, device);
    CREATE TABLE charged_drafts (
        account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
        draft_id TEXT NOT NULL,
        charged_at INTEGER NOT NULL DEFAULT (strftime('%s', 'now')),
        PRIMARY KEY (account_id, draft_id));
    CREATE TABLE nonces (
        nonce TEXT PRIMARY KEY,
        redirect_uri TEXT NOT NULL,
        expires_at INTEGER NOT NULL);
    CREATE TABLE telemetry (
        id INTEGER PRIMARY KEY,
        session_id TEXT NOT NULL,
        app_version TEXT NOT NULL,
        event TEXT NOT NULL,
        received_at INTEGER NOT NULL);
    CREATE INDEX telemetry_by_time ON telemetry(received_at);
    CREATE TABLE card_data (set_code TEXT PRIMARY KEY, json TEXT NOT NULL);
    CREATE TABLE ratings (name TEXT PRIMARY KEY, score REAL NOT NULL);
    )sql",
};

std::string describe(sqlite3* db) {
    return db != nullptr ? sqlite3_errmsg(db) : "out of memory";
}

} // namespace

KVSSQLiteStore::Connection::~Connection() {
    for (const auto& [sql, statement] : statements) {
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(db);
}

KVSSQLiteStore::Lease::~Lease() {
    if (!connection_) {
        return;
    }
    std::lock_guard lock(store_.mutex_);
    store_.idle_.push_back(std::move(connection_));
}

KVSStatement KVSSQLiteStore::Lease::statement(std::string_view sql) const {
    if (!connection_) {
        return KVSStatement::borrow(nullptr);
    }
    auto& statements = connection_->statements;
    auto found = statements.find(sql);
    if (found == statements.end()) {
        sqlite3_stmt* prepared = nullptr;
        if (sqlite3_prepare_v3(connection_->db, sql.data(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &prepared, nullptr) != SQLITE_OK) {
            sqlite3_finalize(prepared);
            return KVSStatement::borrow(nullptr);
        }
        found = statements.emplace(std::string(sql), prepared).first;
    }
    sqlite3_reset(found->second);
    return KVSStatement::borrow(found->second);
}

std::unique_ptr<KVSSQLiteStore> KVSSQLiteStore::open(const std::string& path, KVError* error) {
    std::unique_ptr<KVSSQLiteStore> store(new KVSSQLiteStore(path));
    auto connection = std::make_unique<Connection>();
    connection->db = connect(path, error);
    if (connection->db == nullptr) {
        return nullptr;
    }
    sqlite3* db = connection->db;
    store->idle_.push_back(std::move(connection));
    // The schema is checked before anything is written: switching the journal mode rewrites
    // the file's header, which a file from a newer service must not suffer.
    if (!store->migrate(db, error) || !configure(db, path, error)) {
        return nullptr;
    }
    return store;
}

KVSSQLiteStore::~KVSSQLiteStore() = default;

sqlite3* KVSSQLiteStore::connect(const std::string& path, KVError* error) {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        KVSetError(error, "KorvaneStore", 1,
                   "Cannot open the database " + path + ": " + describe(db));
        sqlite3_close_v2(db);
        return nullptr;
    }
    // Writers queue for each other instead of failing.
    sqlite3_busy_timeout(db, 10000);
    return db;
}

bool KVSSQLiteStore::configure(sqlite3* db, const std::string& path, KVError* error) {
    // WAL lets readers go on while one connection writes.
    std::string message;
    if (!KVSExecute(db,
                    "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                    "PRAGMA foreign_keys=ON;",
                    &message)) {
        KVSetError(error, "KorvaneStore", 1, "Cannot open the database " + path + ": " + message);
        return false;
    }
    return true;
}

bool KVSSQLiteStore::migrate(sqlite3* db, KVError* error) {
    int64_t version = 0;
    {
        KVSStatement query(db, "PRAGMA user_version");
        if (!query.step()) {
            KVSetError(error, "KorvaneStore", 2,
                       "Cannot read the database " + path_ + ": " + describe(db));
            return false;
        }
        version = query.integer(0);
    }
    if (version > kSchemaVersion) {
        KVSetError(error, "KorvaneStore", 2,
                   "The database " + path_ + " has schema version " + std::to_string(version) +
                       ", newer than this service understands (" + std::to_string(kSchemaVersion) +
                       ")");
        return false;
    }
    for (auto step = static_cast<size_t>(version); step < kMigrations.size(); ++step) {
        std::string message;
        const std::string bump = "PRAGMA user_version=" + std::to_string(step + 1) + ";";
        if (!KVSExecute(db, "BEGIN IMMEDIATE", &message) ||
            !KVSExecute(db, kMigrations[step], &message) ||
            !KVSExecute(db, bump.c_str(), &message) || !KVSExecute(db, "COMMIT", &message)) {
            KVSExecute(db, "ROLLBACK");
            KVSetError(error, "KorvaneStore", 2,
                       "Cannot migrate the database " + path_ + " to schema version " +
                           std::to_string(step + 1) + ": " + message);
            return false;
        }
    }
    return true;
}

KVSSQLiteStore::Lease KVSSQLiteStore::lease() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto connection = std::move(idle_.back());
            idle_.pop_back();
            return {*this, std::move(connection)};
        }
    }
    // A worker more than before: the pool grows to the number of threads using it at once.
    // The first connection succeeded on this file, so a failure here is out of resources.
    auto connection = std::make_unique<Connection>();
    connection->db = connect(path_, nullptr);
    if (connection->db == nullptr || !configure(connection->db, path_, nullptr)) {
        connection.reset();
    }
    return {*this, std::move(connection)};
}
