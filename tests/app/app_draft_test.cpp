// The draft flow with the real tailer on a Player.log the test appends to, the real windows on
// Qt's offscreen platform and fakes of the service and Scryfall on 127.0.0.1.
#include "app_harness.hpp"

#include "base/files.hpp"
#include "draft/catalog.hpp"
#include "draft/draft_session.hpp"
#include "service/api.hpp"
#include "ui/deck_window.hpp"
#include "vision/art_hashes.hpp"

#include <gtest/gtest.h>

#include <numeric>

namespace {

using ArenaLog::botComplete;
using ArenaLog::botPack;
using Reply = FakeService::Reply;

const char* kAnalyze = "/api/draft/analyze";
const char* kDeck = "/api/draft/deck";

std::vector<int> ids(int first, int count) {
    std::vector<int> out(count);
    std::iota(out.begin(), out.end(), first);
    return out;
}

// Grades every card of the pack; the first is the best.
Reply grading(const KVJson& body, int credits = 4) {
    KVJson picks = KVJson::array();
    for (const auto& name : body["pack"]) {
        picks.push_back({{"name", name}, {"grade", "B"}, {"reason", "fine"}});
    }
    return {200, {{"best", body["pack"][0]}, {"picks", picks}, {"credits", credits}}};
}

TEST(AppDraftIntegration, FollowsADraftFromTheBacklogThroughAppendedPacks) {
    AppHarness h;
    h.storeSignIn();
    h.service.on(kAnalyze, [](const KVJson& body) { return grading(body); });
    // A finished draft, then a newer one at its second pick: only that pack is current.
    h.appendLog(botPack(1, ids(1001, 14), {}) + botPack(2, ids(1002, 13), {1001}) +
                botComplete(ids(1001, 2)) + botPack(1, {1021, 1022, 1023}, {}) +
                botPack(2, {1024, 1025, 1026}, {1021}));
    h.scryfall.gate->shut = true; // the set arrives after the first pack
    h.launch();
    ASSERT_TRUE(h.runUntil([&] { return h.app->active && h.app->session->pickNumber == 2; }));
    h.settle(0.3);
    EXPECT_FALSE(h.app->logBacklog);
    EXPECT_EQ(h.service.count(kAnalyze), 0u) << "stand-in names went out before the set loaded";

    h.scryfall.gate->shut = false;
    ASSERT_TRUE(h.runUntil([&] { return !h.app->session->grades.empty(); }));
    ASSERT_EQ(h.service.count(kAnalyze), 1u);
    KVJson first = h.service.bodies(kAnalyze)[0];
    EXPECT_EQ(first["draftId"], h.app->session->consumeKey());
    first.erase("draftId");
    KVJson seen = first["seen"];
    first.erase("seen");
    EXPECT_EQ(first, (KVJson{{"pack", {"Card 24", "Card 25", "Card 26"}},
                             {"pool", {"Card 21"}},
                             {"packNumber", 1},
                             {"pickNumber", 2},
                             {"format", "QuickDraft"},
                             {"setCode", "TST"},
                             {"picks", 1}}));
    ASSERT_TRUE(seen.is_array() && !seen.empty());
    EXPECT_EQ(seen.back()["names"], (KVJson{"Card 24", "Card 25", "Card 26"}));
    EXPECT_EQ(h.app->session->credits, 4);

    // Each appended pack goes out once.
    h.appendLog(botPack(3, {1027, 1028}, {1021, 1024}));
    ASSERT_TRUE(h.runUntil([&] { return h.service.count(kAnalyze) == 2; }));
    const KVJson second = h.service.bodies(kAnalyze)[1];
    EXPECT_EQ(second["pack"], (KVJson{"Card 27", "Card 28"}));
    EXPECT_EQ(second["pool"], (KVJson{"Card 21", "Card 24"}));
    EXPECT_EQ(second["pickNumber"], 3);

    // The same pack logged again in another order, then a last single card: nothing more.
    h.appendLog(botPack(3, {1028, 1027}, {1021, 1024}));
    h.appendLog(botPack(4, {1029}, {1021, 1024, 1027}));
    ASSERT_TRUE(h.runUntil([&] { return h.app->session->pack.size() == 1; }));
    h.settle(0.3);
    EXPECT_EQ(h.service.count(kAnalyze), 2u);
}

TEST(AppDraftIntegration, ALateAnswerForAnOldPackOnlyUpdatesTheCredits) {
    AppHarness h;
    h.storeSignIn();
    auto slow = std::make_shared<Gate>();
    slow->shut = true;
    h.service.on(kAnalyze, [slow](const KVJson& body) {
        Reply reply = grading(body, body["pickNumber"] == 1 ? 7 : 6);
        if (body["pickNumber"] == 1) {
            reply.gate = slow;
        }
        return reply;
    });
    h.launch();
    ASSERT_TRUE(h.runUntil([&] { return h.app->active; }));
    h.appendLog(botPack(1, {1001, 1002, 1003}, {}));
    ASSERT_TRUE(h.runUntil([&] { return h.service.count(kAnalyze) == 1; }));
    h.appendLog(botPack(2, {1004, 1005}, {1001}));
    ASSERT_TRUE(h.runUntil([&] { return h.app->session->bestPick == "Card 4"; }));
    slow->shut = false;
    ASSERT_TRUE(h.runUntil([&] { return h.app->session->credits == 7; }));
    EXPECT_EQ(h.app->session->bestPick, "Card 4") << "the old pack's answer was drawn";
    EXPECT_EQ(h.app->session->grades.count("card 1"), 0u);
    EXPECT_EQ(h.service.count(kAnalyze), 2u);
}

TEST(AppDraftIntegration, ConstructedPacksAndSignedOutSessionsAreNeverSent) {
    AppHarness h;
    h.launch(); // signed out
    KVDraftEvent limited("pack", {{"arena_ids", {1001, 1002}}, {"pack", 1}, {"set_code", "TST"}});
    h.app->onLogEvent(limited);
    ASSERT_TRUE(h.runUntil([&] {
        return h.app->catalogLoading.empty() && h.app->session->pack[0]->name == "Card 1";
    }));
    EXPECT_TRUE(h.app->analyzedKey.empty()) << "sent without a token";

    h.app->api->setToken("tok");
    h.app->active = true;
    KVDraftEvent constructed("pack", {{"arena_ids", {1003, 1004}},
                                      {"pack", 1},
                                      {"pick", 2},
                                      {"format", "Standard"},
                                      {"set_code", "TST"}});
    h.app->onLogEvent(constructed);
    ASSERT_EQ(h.app->session->pack[0]->name, "Card 3");
    EXPECT_TRUE(h.app->analyzedKey.empty()) << "a constructed pack was sent";
    h.settle(0.2);
    EXPECT_EQ(h.service.count(kAnalyze), 0u);
}

TEST(AppDraftIntegration, OnlyARefusalLocksAnalysis) {
    AppHarness h;
    h.launch();
    struct Case {
        KVError error;
        bool locks;
        std::string shown = {}; // the locked reason or the error note, when not the message
    };
    const std::vector<Case> cases = {
        {{KVAPIErrorDomain, 402, "Payment required"}, true},
        {{KVAPIErrorDomain, 402, ""},
         true,
         "No draft credits remaining. Get membership at 127.0.0.1."},
        {{KVAPIErrorDomain, 403, "Your membership has ended"}, true},
        {{KVAPIErrorDomain, 400, "Out of draft CREDITS"}, true},
        {{KVAPIErrorDomain, 0, "Could not reach x (Operation timed out after 402 ms)"}, false},
        {{KVAPIErrorDomain, 500, "upstream timed out"}, false},
        {{}, false, "no answer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error.message);
        h.app->session->locked = false;
        h.app->session->lockedReason.clear();
        h.app->session->analyzeError.clear();
        h.app->analyzedKey = "draft|a|b";
        h.app->onAnalyzeFailed(c.error, "draft|a|b");
        EXPECT_EQ(h.app->session->locked, c.locks);
        EXPECT_EQ(c.locks ? h.app->session->lockedReason : h.app->session->analyzeError,
                  c.shown.empty() ? c.error.message : c.shown);
        EXPECT_EQ(h.app->analyzedKey, c.locks ? "" : "draft|a|b");
    }
    // A failure for a pack no longer current changes nothing.
    h.app->session->locked = false;
    h.app->onAnalyzeFailed({KVAPIErrorDomain, 402, "Payment required"}, "old|pack");
    EXPECT_FALSE(h.app->session->locked);
}

TEST(AppDraftIntegration, ALockLiftsOnlyWhenTheAccountHasCreditsAgain) {
    AppHarness h;
    h.storeSignIn();
    std::atomic<int> credits = 0;
    h.service.on("/api/me", [&](const KVJson&) {
        return Reply{200, {{"email", "ann@example.com"}, {"credits", credits.load()}}};
    });
    h.service.on(kAnalyze, [&](const KVJson& body) {
        return body["pickNumber"] == 2 ? Reply{402, {{"error", "No credits left"}}} : grading(body);
    });
    h.launch();
    ASSERT_TRUE(h.runUntil([&] { return h.app->active; }));
    const size_t mes = h.service.count("/api/me");
    h.appendLog(botPack(2, {1004, 1005, 1006}, {1001}));
    ASSERT_TRUE(h.runUntil([&] { return h.app->session->locked; }));
    EXPECT_EQ(h.service.count(kAnalyze), 1u);

    // Locked: packs are not sent; at most one account check a minute, none lifting the lock
    // while the account has no credits.
    h.clock += 61;
    h.appendLog(botPack(3, {1007, 1008}, {1001, 1004}));
    ASSERT_TRUE(h.runUntil([&] { return h.service.count("/api/me") == mes + 1; }));
    h.appendLog(botPack(4, {1009, 1010}, {1001, 1004, 1007}));
    ASSERT_TRUE(h.runUntil([&] { return h.app->session->pickNumber == 4; }));
    h.settle(0.3);
    EXPECT_EQ(h.service.count("/api/me"), mes + 1);
    EXPECT_TRUE(h.app->session->locked);
    EXPECT_EQ(h.service.count(kAnalyze), 1u);

    credits = 3;
    h.clock += 61;
    h.appendLog(botPack(5, {1011, 1012}, {1001, 1004, 1007, 1009}));
    ASSERT_TRUE(h.runUntil([&] { return h.service.count(kAnalyze) == 2; }));
    EXPECT_EQ(h.service.bodies(kAnalyze)[1]["pickNumber"], 5);
    ASSERT_TRUE(h.runUntil([&] { return !h.app->session->grades.empty(); }));
    EXPECT_FALSE(h.app->session->locked);
}

TEST(AppDraftIntegration, ADeckNeedsTwentyCardsAndOneRequestAtATime) {
    AppHarness h;
    h.storeSignIn();
    auto held = std::make_shared<Gate>();
    std::atomic<bool> fail = false;
    h.service.on(kDeck, [&](const KVJson&) {
        return fail ? Reply{500, {{"error", "deck service down"}}}
                    : Reply{200,
                            {{"colors", {"W"}}, {"spells", KVJson::array()}, {"credits", 2}},
                            held};
    });
    h.launch();
    ASSERT_TRUE(h.runUntil([&] { return h.app->active; }));
    h.appendLog(botPack(1, {1039, 1040}, ids(1001, 19)));
    ASSERT_TRUE(h.runUntil([&] {
        return h.app->session->pool.size() == 19 && h.app->session->pool[0]->name == "Card 1";
    }));
    h.app->buildDeck();
    EXPECT_EQ(h.app->session->status,
              "Finish a draft, or open a Sealed pool, before building a deck.");
    EXPECT_EQ(h.app->deckWindow, nullptr);

    h.appendLog(botPack(2, {1039}, ids(1001, 20)));
    ASSERT_TRUE(h.runUntil([&] { return h.app->session->pool.size() == 20; }));
    held->shut = true;
    h.app->buildDeck();
    h.app->buildDeck();
    ASSERT_TRUE(h.runUntil([&] { return h.service.count(kDeck) == 1; }));
    h.settle(0.2);
    EXPECT_EQ(h.service.count(kDeck), 1u);
    ASSERT_NE(h.app->deckWindow, nullptr);
    EXPECT_TRUE(h.app->deckWindow->isVisible());
    // Its top-left corner 40 in from the left and 60 below the top (screen coordinates, y up).
    const KVRect frame = h.app->deckWindow->frame();
    EXPECT_EQ(frame.x, 40);
    EXPECT_EQ(frame.y + frame.height, h.views->screen.height - 60);
    EXPECT_EQ(h.service.bodies(kDeck)[0]["pool"].size(), 20u);
    EXPECT_EQ(h.service.bodies(kDeck)[0]["format"], "QuickDraft");
    held->shut = false;
    ASSERT_TRUE(h.runUntil([&] { return !h.app->deckInFlight; }));
    EXPECT_TRUE(h.app->session->deck.has_value());
    EXPECT_EQ(h.app->session->credits, 2);

    fail = true;
    h.app->buildDeck();
    ASSERT_TRUE(h.runUntil([&] { return h.service.count(kDeck) == 2 && !h.app->deckInFlight; }));
    EXPECT_EQ(h.app->deckWindow->view.content.title, "Couldn't build the deck");
    EXPECT_NE(h.app->deckWindow->view.content.sub.find("deck service down"), std::string::npos)
        << h.app->deckWindow->view.content.sub;

    // Once Arena's window is tracked, the deck opens at its corner instead of the screen's.
    h.platform.screens->all = {{{0, 0, 1920, 1080}, true}};
    h.platform.windows->next =
        KVWindowSnapshot{{{7, 4242, "MTGA", 0, {100, 50, 1600, 900}, true}}, 4242};
    ASSERT_TRUE(h.runUntil([&] { return h.app->arena.has_value(); }));
    h.app->buildDeck();
    const KVRect atArena = h.app->deckWindow->frame();
    EXPECT_EQ(atArena.x, 140);
    EXPECT_EQ(atArena.y + atArena.height, 1080 - 110) << "not 60 below Arena's top";
    // The route above reads this test's locals: its answer must be in before they go.
    ASSERT_TRUE(h.runUntil([&] { return h.service.count(kDeck) == 3 && !h.app->deckInFlight; }));
}

// A set switch while the old set's pictures are still downloading, whether the new set then
// loads or not: the old download stops, the loading mark and the status are the new set's
// alone, and nothing hashed for the old set reaches the new set's hashes or file.
TEST(AppDraftIntegration, ASetSwitchStopsTheOldSetsArtDownload) {
    for (const bool newSetLoads : {true, false}) {
        SCOPED_TRACE(newSetLoads ? "the new set loads" : "the new set fails");
        AppHarness h;
        h.scryfall.art = true;
        h.scryfall.otherSet = newSetLoads;
        h.scryfall.artGate->shut = true;
        h.scryfall.otherGate->shut = true;
        h.launch();
        KVDraftEvent first("pack", {{"arena_ids", {1001, 1002}}, {"set_code", "TST"}});
        h.app->onLogEvent(first);
        ASSERT_TRUE(h.runUntil([&] { return h.scryfall.requests("/art/tst/") == 1; }));
        KVDraftEvent second("pack", {{"arena_ids", {2001, 2002}}, {"set_code", "OTH"}});
        h.app->onLogEvent(second);
        ASSERT_TRUE(h.runUntil([&] { return h.scryfall.requests("q=e:oth%20") == 1; }));

        // The picture in flight lands; the old download ends while the new set still loads.
        const std::string status = h.app->session->status;
        h.scryfall.artGate->shut = false;
        const std::string oldFile = KVCatalog::cachePath(KVArtHashes::kCachePrefix, "TST");
        ASSERT_TRUE(h.runUntil([&] { return KVFileExists(oldFile); }));
        h.settle(0.3);
        EXPECT_EQ(h.scryfall.requests("/art/tst/"), 1u) << "the old set's download went on";
        EXPECT_EQ(h.app->catalogLoading, "OTH") << "the old load cleared the new set's mark";
        EXPECT_EQ(h.app->session->status, status) << "the old set's end wrote the status";
        // What it made is kept, in its own set's file.
        const auto saved = KVJsonParse(KVReadFile(oldFile).value_or(""));
        ASSERT_TRUE(saved && saved->is_object());
        EXPECT_EQ(saved->size(), 1u);
        EXPECT_EQ(saved->begin().key().rfind("Card ", 0), 0u) << saved->dump();

        h.scryfall.otherGate->shut = false;
        ASSERT_TRUE(h.runUntil([&] { return h.app->catalogLoading.empty(); }));
        EXPECT_EQ(h.scryfall.requests("/art/tst/"), 1u);
        if (newSetLoads) {
            EXPECT_EQ(h.app->session->status, "OTH (40 cards)");
            ASSERT_EQ(h.app->session->pack.size(), 2u);
            EXPECT_EQ(h.app->session->pack[0]->name, "Other 1");
            for (const auto& candidate : h.app->artHashes->candidates(h.app->session->pack)) {
                EXPECT_TRUE(candidate.artHashes.empty()) << candidate.card->name;
            }
            // The new set's pictures are all missing: a file for it could only hold old art.
            EXPECT_FALSE(KVFileExists(KVCatalog::cachePath(KVArtHashes::kCachePrefix, "OTH")));
        } else {
            EXPECT_EQ(h.app->session->status, "Could not load OTH");
        }
    }
}

TEST(AppDraft, AccountSnapshotsAreRecordedOncePerContent) {
    AppHarness h;
    h.launch();
    KVApp& app = *h.app;
    const KVJson rank = {{"constructed", "Gold"}, {"log_ts", "2026-12-06T18:00:00"}};
    KVJson later = rank;
    later["log_ts"] = "2026-12-06T18:05:00";
    later["ts_approx"] = true;
    EXPECT_TRUE(app.firstSeen("rank", rank));
    EXPECT_FALSE(app.firstSeen("rank", later)) << "only the time stamp changed";
    EXPECT_TRUE(app.firstSeen("rank", {{"constructed", "Platinum"}}));
    EXPECT_TRUE(app.firstSeen("pack", rank));
    EXPECT_TRUE(app.firstSeen("pack", rank)) << "draft events are never de-duplicated";
    // The set is emptied when it is full, so an old snapshot counts as new again.
    for (size_t i = app.snapshots.size(); i < 500; ++i) {
        EXPECT_TRUE(app.firstSeen("inventory", {{"gold", i}}));
    }
    EXPECT_FALSE(app.firstSeen("rank", rank));
    EXPECT_TRUE(app.firstSeen("inventory", {{"gold", -1}}));
    EXPECT_EQ(app.snapshots.size(), 1u);
    EXPECT_TRUE(app.firstSeen("rank", rank));
}

} // namespace
