#include "base/files.hpp"
#include "server/sqlite_store.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

std::unique_ptr<KVSSQLiteStore> openStore(const std::string& path) {
    KVError error;
    auto store = KVSSQLiteStore::open(path, &error);
    EXPECT_TRUE(store) << error.message;
    return store;
}

TEST(ServerStore, RefusesWhatItCannotUseAndLeavesItAlone) {
    KVTempDir dir;
    const std::string notADatabase = dir.file("notes.db");
    KVWriteTestFile(notADatabase, std::string(4096, 'x'));
    const std::string newer = dir.file("newer.db");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(newer.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    KVWriteTestFile(dir.file("file"), "plain");
    struct Case {
        std::string path;
        std::string says;
    };
    const Case cases[] = {
        {notADatabase, "not a database"},
        {newer, "newer than this service"},
        {dir.file("file") + "/korvane.db", "Cannot open"},
    };
    for (const Case& c : cases) {
        const auto before = KVReadFile(c.path);
        KVError error;
        EXPECT_FALSE(KVSSQLiteStore::open(c.path, &error)) << c.path;
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
        EXPECT_TRUE(KVReadFile(c.path) == before) << "the file must stay as it was: " << c.path;
    }
}

TEST(ServerStore, KeepsAccountsTokensAndChargesAcrossReopening) {
    KVTempDir dir;
    const std::string path = dir.file("korvane.db");
    int64_t id = 0;
    {
        auto store = openStore(path);
        const auto account = store->createAccount("a@example.com", "a", "hash", 2, nullptr);
        ASSERT_TRUE(account);
        id = account->id;
        EXPECT_TRUE(store->addToken(id, "tokenhash", "Korvane Linux", 1));
        EXPECT_EQ(store->chargeDraft(id, "draft-1", nullptr), KVSCharge::charged);
    }
    auto store = openStore(path);
    const auto account = store->accountForToken("tokenhash");
    ASSERT_TRUE(account);
    EXPECT_EQ(account->email, "a@example.com");
    EXPECT_EQ(account->credits, 1);
    int64_t credits = -1;
    EXPECT_EQ(store->chargeDraft(id, "draft-1", &credits), KVSCharge::alreadyCharged);
    EXPECT_EQ(credits, 1);
}

TEST(ServerStore, ChargesEachDraftOnceAndForgetsRefusedOnes) {
    KVTempDir dir;
    auto store = openStore(dir.file("korvane.db"));
    const auto account = store->createAccount("b@example.com", "b", "", 1, nullptr);
    ASSERT_TRUE(account);
    KVError duplicate;
    EXPECT_FALSE(store->createAccount("b@example.com", "b", "", 1, &duplicate));
    EXPECT_EQ(duplicate.code, 409);

    int64_t credits = -1;
    EXPECT_EQ(store->chargeDraft(account->id, "one", &credits), KVSCharge::charged);
    EXPECT_EQ(credits, 0);
    EXPECT_EQ(store->chargeDraft(account->id, "one", &credits), KVSCharge::alreadyCharged);
    EXPECT_EQ(store->chargeDraft(account->id, "two", &credits), KVSCharge::noCredits);
    // A refused draft was not recorded: paying later charges it then.
    EXPECT_EQ(store->grantCredits("b@example.com", 1), 1);
    EXPECT_EQ(store->chargeDraft(account->id, "two", &credits), KVSCharge::charged);
    EXPECT_EQ(store->grantCredits("b@example.com", -5), 0);
    EXPECT_FALSE(store->grantCredits("nobody@example.com", 1));
}

// Statements stay prepared between calls; one left unfinished would keep its connection
// reading an old snapshot, so a worker would miss another's charge and fail to write.
TEST(ServerStore, CallsSeeWhatOtherConnectionsWroteMeanwhile) {
    KVTempDir dir;
    auto first = openStore(dir.file("korvane.db"));
    auto second = openStore(dir.file("korvane.db"));
    const auto account = first->createAccount("s@example.com", "s", "", 1, nullptr);
    ASSERT_TRUE(account);
    ASSERT_TRUE(first->addToken(account->id, "token", "Korvane Linux", 1));
    for (int round = 0; round < 2; ++round) {
        const std::string draft = "draft-" + std::to_string(round);
        ASSERT_TRUE(first->accountForToken("token")); // a read that stops at its first row
        EXPECT_EQ(second->chargeDraft(account->id, draft, nullptr), KVSCharge::charged);
        int64_t credits = -1;
        EXPECT_EQ(first->chargeDraft(account->id, draft, &credits), KVSCharge::alreadyCharged)
            << draft;
        EXPECT_EQ(credits, 0);
        EXPECT_EQ(second->grantCredits("s@example.com", 1), 1);
        const auto seen = first->accountForToken("token");
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->credits, 1) << draft;
    }
}

TEST(ServerStore, NewTokenForADeviceReplacesItsOldOne) {
    KVTempDir dir;
    auto store = openStore(dir.file("korvane.db"));
    const auto account = store->createAccount("c@example.com", "c", "", 0, nullptr);
    ASSERT_TRUE(account);
    store->addToken(account->id, "old", "Korvane Linux", 1);
    store->addToken(account->id, "browser", "web", 1);
    store->addToken(account->id, "new", "Korvane Linux", 2);
    EXPECT_FALSE(store->accountForToken("old"));
    EXPECT_TRUE(store->accountForToken("new"));
    EXPECT_TRUE(store->accountForToken("browser"));
}

TEST(ServerStore, NoncesServeOnceForTheirOwnAddressBeforeTheyExpire) {
    KVTempDir dir;
    auto store = openStore(dir.file("korvane.db"));
    const std::string home = "http://127.0.0.1:5000/callback";
    struct Case {
        std::string redirect;
        int64_t now;
        bool accepted;
    };
    const Case cases[] = {
        {home, 100, true},
        {"http://127.0.0.1:5001/callback", 100, false},
        {home, 601, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string nonce = "n" + std::to_string(n++);
        ASSERT_TRUE(store->addNonce(nonce, home, 600));
        EXPECT_EQ(store->takeNonce(nonce, c.redirect, c.now), c.accepted) << c.redirect;
        EXPECT_FALSE(store->takeNonce(nonce, home, 100)) << "a nonce serves once";
    }
}

TEST(ServerStore, TelemetryBatchesArePrunedByAge) {
    KVTempDir dir;
    auto store = openStore(dir.file("korvane.db"));
    ASSERT_TRUE(store->addTelemetry({"s", "0.1.38", {"{}", "{}"}, 100}));
    ASSERT_TRUE(store->addTelemetry({"s", "0.1.38", {"{}"}, 200}));
    EXPECT_EQ(store->telemetryEventCount(), 3);
    store->pruneTelemetry(150);
    EXPECT_EQ(store->telemetryEventCount(), 1);
    EXPECT_TRUE(store->putRatings({{"alpha", 4.5}}));
    EXPECT_DOUBLE_EQ(store->ratings().at("alpha"), 4.5);
}

} // namespace
