// What the store keeps is seen through the service (accounts, tokens and charges over a
// restart, one charge per draft, nonces serving once); here what the service cannot show.
#include "server/sqlite_store.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ServerStore, RefusedDraftsReplacedTokensAndOldNoncesAndTelemetryAreForgotten) {
    KVTempDir dir;
    KVError error;
    auto store = KVSSQLiteStore::open(dir.file("korvane.db"), &error);
    ASSERT_TRUE(store) << error.message;
    const auto account = store->createAccount("b@example.com", "b", "", 0, nullptr);
    ASSERT_TRUE(account);

    // A refused draft is not recorded: paying later charges it then. Credits stop at zero.
    int64_t credits = -1;
    EXPECT_EQ(store->chargeDraft(account->id, "one", &credits), KVSCharge::noCredits);
    EXPECT_EQ(store->grantCredits("b@example.com", 1), 1);
    EXPECT_EQ(store->chargeDraft(account->id, "one", &credits), KVSCharge::charged);
    EXPECT_EQ(credits, 0);
    EXPECT_EQ(store->grantCredits("b@example.com", -5), 0);

    // A device's new token replaces its old one; the browser's stays.
    store->addToken(account->id, "old", "Korvane Linux", 1);
    store->addToken(account->id, "browser", "web", 1);
    store->addToken(account->id, "new", "Korvane Linux", 2);
    EXPECT_FALSE(store->accountForToken("old"));
    EXPECT_TRUE(store->accountForToken("new"));
    EXPECT_TRUE(store->accountForToken("browser"));

    // A nonce is good until it expires; refused then, it is gone as well.
    const std::string home = "http://127.0.0.1:5000/callback";
    ASSERT_TRUE(store->addNonce("kept", home, 600));
    ASSERT_TRUE(store->addNonce("expired", home, 600));
    EXPECT_TRUE(store->takeNonce("kept", home, 100));
    EXPECT_FALSE(store->takeNonce("expired", home, 601));
    EXPECT_FALSE(store->takeNonce("expired", home, 100));

    ASSERT_TRUE(store->addTelemetry({"s", "0.1.38", {"{}", "{}"}, 100}));
    ASSERT_TRUE(store->addTelemetry({"s", "0.1.38", {"{}"}, 200}));
    EXPECT_EQ(store->telemetryEventCount(), 3);
    store->pruneTelemetry(150);
    EXPECT_EQ(store->telemetryEventCount(), 1);
    EXPECT_TRUE(store->putRatings({{"alpha", 4.5}}));
    EXPECT_DOUBLE_EQ(store->ratings().at("alpha"), 4.5);
}

} // namespace
