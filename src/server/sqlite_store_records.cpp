// The store's operations on accounts, tokens, drafts, nonces, telemetry and card data.
#include "server/sqlite_statement.hpp"
#include "server/sqlite_store.hpp"

namespace {

constexpr const char* kAccountColumns = "id, email, name, credits, password_hash";

KVSAccount accountFrom(const KVSStatement& row) {
    return {row.integer(0), row.text(1), row.text(2), row.integer(3), row.text(4)};
}

// Rolls back unless committed: every early return leaves the database as it was.
class Transaction {
public:
    explicit Transaction(sqlite3* db)
        : db_(db), open_(db != nullptr && KVSExecute(db, "BEGIN IMMEDIATE")) {}
    ~Transaction() {
        if (open_) {
            KVSExecute(db_, "ROLLBACK");
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool open() const { return open_; }
    bool commit() {
        open_ = open_ && !KVSExecute(db_, "COMMIT");
        return !open_;
    }

private:
    sqlite3* db_;
    bool open_;
};

} // namespace

std::optional<KVSAccount> KVSSQLiteStore::createAccount(const std::string& email,
                                                        const std::string& name,
                                                        const std::string& passwordHash,
                                                        int64_t credits, KVError* error) {
    const auto lock = writing();
    const Lease db = lease();
    KVSStatement insert = db.statement("INSERT INTO accounts (email, name, password_hash, credits) "
                                       "VALUES (?, ?, ?, ?) ON CONFLICT(email) DO NOTHING");
    insert.bind(1, email).bind(2, name).bind(3, passwordHash).bind(4, credits);
    if (!insert.run()) {
        KVSetError(error, "KorvaneStore", 500, "The account could not be stored.");
        return std::nullopt;
    }
    if (sqlite3_changes(db.get()) == 0) {
        KVSetError(error, "KorvaneStore", 409, "An account with that email already exists.");
        return std::nullopt;
    }
    return KVSAccount{sqlite3_last_insert_rowid(db.get()), email, name, credits, passwordHash};
}

std::optional<KVSAccount> KVSSQLiteStore::accountByEmail(const std::string& email) {
    const Lease db = lease();
    KVSStatement query =
        db.statement(std::string("SELECT ") + kAccountColumns + " FROM accounts WHERE email = ?");
    query.bind(1, email);
    if (!query.step()) {
        return std::nullopt;
    }
    return accountFrom(query);
}

bool KVSSQLiteStore::setPassword(const std::string& email, const std::string& passwordHash) {
    const auto lock = writing();
    const Lease db = lease();
    KVSStatement update = db.statement("UPDATE accounts SET password_hash = ? WHERE email = ?");
    update.bind(1, passwordHash).bind(2, email);
    return update.run() && sqlite3_changes(db.get()) == 1;
}

std::optional<int64_t> KVSSQLiteStore::grantCredits(const std::string& email, int64_t delta) {
    const auto lock = writing();
    const Lease db = lease();
    KVSStatement update = db.statement("UPDATE accounts SET credits = max(0, credits + ?) "
                                       "WHERE email = ? RETURNING credits");
    update.bind(1, delta).bind(2, email);
    if (!update.step()) {
        return std::nullopt;
    }
    const int64_t credits = update.integer(0);
    update.run();
    return credits;
}

bool KVSSQLiteStore::addToken(int64_t accountId, const std::string& tokenHash,
                              const std::string& device, int64_t now) {
    const auto lock = writing();
    const Lease db = lease();
    Transaction transaction(db.get());
    if (!transaction.open()) {
        return false;
    }
    KVSStatement drop = db.statement("DELETE FROM tokens WHERE account_id = ? AND device = ?");
    drop.bind(1, accountId).bind(2, device);
    KVSStatement insert = db.statement("INSERT INTO tokens (token_hash, account_id, device, "
                                       "created_at) VALUES (?, ?, ?, ?)");
    insert.bind(1, tokenHash).bind(2, accountId).bind(3, device).bind(4, now);
    return drop.run() && insert.run() && transaction.commit();
}

std::optional<KVSAccount> KVSSQLiteStore::accountForToken(const std::string& tokenHash) {
    const Lease db = lease();
    KVSStatement query = db.statement("SELECT a.id, a.email, a.name, a.credits, a.password_hash "
                                      "FROM tokens t JOIN accounts a ON a.id = t.account_id "
                                      "WHERE t.token_hash = ?");
    query.bind(1, tokenHash);
    if (!query.step()) {
        return std::nullopt;
    }
    return accountFrom(query);
}

KVSCharge KVSSQLiteStore::chargeDraft(int64_t accountId, const std::string& draftId,
                                      int64_t* credits) {
    const Lease db = lease();
    {
        // Most requests are for a draft already paid for: answered without the write lock.
        KVSStatement known = db.statement("SELECT a.credits FROM charged_drafts d JOIN accounts a "
                                          "ON a.id = d.account_id WHERE d.account_id = ? AND "
                                          "d.draft_id = ?");
        known.bind(1, accountId).bind(2, draftId);
        if (known.step()) {
            if (credits != nullptr) {
                *credits = known.integer(0);
            }
            return KVSCharge::alreadyCharged;
        }
    }
    // BEGIN IMMEDIATE takes the write lock first, so two first requests for the same draft
    // run one after the other: the second finds the first's row.
    const auto lock = writing();
    Transaction transaction(db.get());
    if (!transaction.open()) {
        return KVSCharge::failed;
    }
    KVSStatement balance = db.statement("SELECT credits FROM accounts WHERE id = ?");
    balance.bind(1, accountId);
    if (!balance.step()) {
        return KVSCharge::failed;
    }
    int64_t left = balance.integer(0);
    KVSStatement insert = db.statement("INSERT INTO charged_drafts (account_id, draft_id) "
                                       "VALUES (?, ?) ON CONFLICT DO NOTHING");
    insert.bind(1, accountId).bind(2, draftId);
    if (!insert.run()) {
        return KVSCharge::failed;
    }
    KVSCharge outcome = KVSCharge::alreadyCharged;
    if (sqlite3_changes(db.get()) == 1) {
        if (left <= 0) {
            if (credits != nullptr) {
                *credits = 0;
            }
            return KVSCharge::noCredits; // the rollback forgets the draft again
        }
        KVSStatement take = db.statement("UPDATE accounts SET credits = credits - 1 WHERE id = ?");
        take.bind(1, accountId);
        if (!take.run()) {
            return KVSCharge::failed;
        }
        --left;
        outcome = KVSCharge::charged;
    }
    if (!transaction.commit()) {
        return KVSCharge::failed;
    }
    if (credits != nullptr) {
        *credits = left;
    }
    return outcome;
}

bool KVSSQLiteStore::addNonce(const std::string& nonce, const std::string& redirectURI,
                              int64_t expiresAt) {
    const auto lock = writing();
    const Lease db = lease();
    KVSStatement prune = db.statement("DELETE FROM nonces WHERE expires_at < ?");
    prune.bind(1, expiresAt - int64_t{24} * 3600);
    KVSStatement insert =
        db.statement("INSERT INTO nonces (nonce, redirect_uri, expires_at) VALUES (?, ?, ?)");
    insert.bind(1, nonce).bind(2, redirectURI).bind(3, expiresAt);
    return prune.run() && insert.run();
}

bool KVSSQLiteStore::takeNonce(const std::string& nonce, const std::string& redirectURI,
                               int64_t now) {
    const auto lock = writing();
    const Lease db = lease();
    KVSStatement take =
        db.statement("DELETE FROM nonces WHERE nonce = ? RETURNING redirect_uri, expires_at");
    take.bind(1, nonce);
    if (!take.step()) {
        return false;
    }
    const bool good = take.text(0) == redirectURI && take.integer(1) >= now;
    take.run();
    return good;
}

bool KVSSQLiteStore::addTelemetry(const KVSTelemetryBatch& batch) {
    const auto lock = writing();
    const Lease db = lease();
    Transaction transaction(db.get());
    if (!transaction.open()) {
        return false;
    }
    for (const std::string& event : batch.events) {
        KVSStatement one = db.statement("INSERT INTO telemetry (session_id, app_version, event, "
                                        "received_at) VALUES (?, ?, ?, ?)");
        one.bind(1, batch.sessionId).bind(2, batch.appVersion).bind(3, event);
        one.bind(4, batch.receivedAt);
        if (!one.run()) {
            return false;
        }
    }
    return transaction.commit();
}

bool KVSSQLiteStore::pruneTelemetry(int64_t receivedBefore) {
    const auto lock = writing();
    const Lease db = lease();
    KVSStatement prune = db.statement("DELETE FROM telemetry WHERE received_at < ?");
    prune.bind(1, receivedBefore);
    return prune.run();
}

int64_t KVSSQLiteStore::telemetryEventCount() {
    const Lease db = lease();
    KVSStatement count = db.statement("SELECT count(*) FROM telemetry");
    return count.step() ? count.integer(0) : 0;
}

bool KVSSQLiteStore::putCardData(const std::string& setCode, const std::string& json) {
    const auto lock = writing();
    const Lease db = lease();
    KVSStatement put = db.statement("INSERT INTO card_data (set_code, json) VALUES (?, ?) "
                                    "ON CONFLICT(set_code) DO UPDATE SET json = excluded.json");
    put.bind(1, setCode).bind(2, json);
    return put.run();
}

std::optional<std::string> KVSSQLiteStore::cardData(const std::string& setCode) {
    const Lease db = lease();
    KVSStatement query = db.statement("SELECT json FROM card_data WHERE set_code = ?");
    query.bind(1, setCode);
    if (!query.step()) {
        return std::nullopt;
    }
    return query.text(0);
}

bool KVSSQLiteStore::putRatings(const std::map<std::string, double>& ratings) {
    const auto lock = writing();
    const Lease db = lease();
    Transaction transaction(db.get());
    if (!transaction.open() || !KVSExecute(db.get(), "DELETE FROM ratings")) {
        return false;
    }
    for (const auto& [name, score] : ratings) {
        KVSStatement put = db.statement("INSERT INTO ratings (name, score) VALUES (?, ?)");
        put.bind(1, name).bind(2, score);
        if (!put.run()) {
            return false;
        }
    }
    return transaction.commit();
}

std::map<std::string, double> KVSSQLiteStore::ratings() {
    const Lease db = lease();
    KVSStatement query = db.statement("SELECT name, score FROM ratings");
    std::map<std::string, double> out;
    while (query.step()) {
        out[query.text(0)] = query.real(1);
    }
    return out;
}
