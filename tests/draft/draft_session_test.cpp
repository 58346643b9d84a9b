#include "draft/draft_session.hpp"
#include "overlay_samples/sample_catalog.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>

namespace {

using Ids = std::vector<int64_t>;
const std::string kDot = " \xC2\xB7 ";

// A set of 16 cards with Arena ids 1001..1016, named "Card 1" .. "Card 16".
std::shared_ptr<KVCatalog> loadedCatalog() {
    KVJson printings = KVJson::array();
    for (int i = 1; i <= 16; ++i) {
        printings.push_back({{"name", "Card " + std::to_string(i)},
                             {"arena_id", 1000 + i},
                             {"set", "sos"},
                             {"type_line", "Creature"}});
    }
    return KVCatalogFromPrintings("SOS", printings);
}

Ids range(int64_t first, int64_t last) {
    Ids ids(static_cast<size_t>(last - first + 1));
    std::iota(ids.begin(), ids.end(), first);
    return ids;
}

std::vector<std::string> names(const std::vector<KVCardRef>& cards) {
    std::vector<std::string> out;
    for (const auto& card : cards) {
        out.push_back(card->name);
    }
    return out;
}

class DraftSession : public ::testing::Test {
protected:
    KVScopedEnvironment env;
    std::shared_ptr<KVCatalog> catalog = loadedCatalog();
    KVDraftSession session{catalog};

    // What vision saw in slot `index`: the card with that Arena id, or none for id 0.
    KVSlotMatch seenAt(int64_t index, int64_t arenaId) const {
        KVSlotMatch match;
        match.index = index;
        match.card = arenaId == 0 ? nullptr : catalog->cardForArenaId(arenaId);
        return match;
    }
};

TEST_F(DraftSession, FollowsADraftPackByPick) {
    EXPECT_EQ(session.status, "Waiting for a draft");
    session.setEvent("PremierDraft_SOS_1", "PremierDraft", "SOS");
    EXPECT_EQ(session.status, "PremierDraft SOS");
    session.setEvent("", "", ""); // nothing given, nothing changed
    EXPECT_EQ(session.eventName, "PremierDraft_SOS_1");

    session.applyLogPack(1, 1, range(1001, 1014), 1, std::nullopt, "D1");
    EXPECT_EQ(session.pack.size(), 14u);
    EXPECT_EQ(session.packSlots, Ids(14, -1));
    EXPECT_EQ(session.draftId, "D1");
    EXPECT_EQ(session.status, "P1P1" + kDot + "14 in pack" + kDot + "0 pooled");

    session.applyLogPick(1, 1, {1003});
    EXPECT_EQ(names(session.pool), std::vector<std::string>{"Card 3"});
    EXPECT_TRUE(session.pack.empty());
    EXPECT_TRUE(session.packSlots.empty());
    EXPECT_EQ(session.status, "Picked Card 3" + kDot + "pool 1");

    session.applyLogPack(1, 2, range(1001, 1013), 1, std::nullopt, "");
    session.applyLogPack(1, 2, range(1004, 1016), 1, std::nullopt, ""); // re-read, other cards
    ASSERT_EQ(session.seen.size(), 2u);
    EXPECT_EQ(session.seen[1]["names"][0], "Card 4");
    session.applyLogPack(1, 3, {}, 1, std::nullopt, ""); // an empty pack is not recorded
    EXPECT_EQ(session.seen.size(), 2u);

    // Completion with Arena's pool, then without: the gathered pool stays.
    session.completeWithIds({1005, 1006});
    EXPECT_TRUE(session.completed);
    EXPECT_EQ(names(session.pool), (std::vector<std::string>{"Card 5", "Card 6"}));
    EXPECT_EQ(session.status, "Draft done" + kDot + "2 cards");
    session.deck = KVJson::object();
    session.applyLogPack(2, 1, range(1001, 1014), 1, std::nullopt, "");
    EXPECT_FALSE(session.completed); // a new pack reopens the draft and drops the deck
    EXPECT_FALSE(session.deck.has_value());
    session.applyLogPick(2, 1, {1001, 1001}); // duplicates are Arena's business
    session.completeWithIds({});
    EXPECT_EQ(session.pool.size(), 4u);
    EXPECT_TRUE(session.completed);
}

TEST_F(DraftSession, TheFirstPackOfAUsedSessionStartsANewDraft) {
    session.applyCourse("C-1", "BotDraft", "");
    session.applyLogPack(1, 1, range(1001, 1014), 1, std::nullopt, "");
    EXPECT_EQ(session.draftId, "C-1"); // fresh session: nothing to clear
    session.applyLogPick(1, 1, {1001});
    EXPECT_EQ(session.consumeKey(), "C-1");

    session.applyLogPack(1, 1, range(1002, 1015), 1, std::nullopt, "");
    EXPECT_TRUE(session.pool.empty());
    EXPECT_EQ(session.seen.size(), 1u);
    EXPECT_EQ(session.key, "");
    EXPECT_EQ(session.draftId, "");
    EXPECT_EQ(session.pack.size(), 14u);
}

TEST_F(DraftSession, BotDraftsBringTheirOwnPoolAndPickCounts) {
    session.applyLogPack(1, 1, range(1001, 1014), 0, Ids{}, "");
    EXPECT_EQ(session.numToPick, 1);
    session.applyLogPick(1, 1, {1001});
    session.applyLogPick(1, 1, {1002});
    session.applyLogPack(1, 2, range(1003, 1015), 2, Ids{1009}, ""); // knows less: ignored
    EXPECT_EQ(names(session.pool), (std::vector<std::string>{"Card 1", "Card 2"}));
    EXPECT_EQ(session.numToPick, 2);
    session.applyLogPack(1, 3, range(1003, 1014), 1, Ids{1010, 1011, 1012}, "");
    EXPECT_EQ(names(session.pool), (std::vector<std::string>{"Card 10", "Card 11", "Card 12"}));
}

TEST_F(DraftSession, CoursesGiveTheDraftItsIdOnlyForDraftsOfThisEvent) {
    EXPECT_FALSE(session.applyCourse("", "BotDraft", ""));
    EXPECT_FALSE(session.applyCourse("C-1", "DeckSelect", ""));
    EXPECT_TRUE(session.applyCourse("C-1", "BotDraft", ""));
    EXPECT_FALSE(session.applyCourse("C-1", "BotDraft", "")); // no change
    EXPECT_TRUE(session.applyCourse("C-2", "quickDRAFTing", ""));
    session.eventName = "PremierDraft_SOS_1";
    EXPECT_FALSE(session.applyCourse("C-3", "Draft", "QuickDraft_XYZ_1"));
    EXPECT_TRUE(session.applyCourse("C-3", "Draft", "PremierDraft_SOS_1"));
    EXPECT_EQ(session.draftId, "C-3");
}

TEST_F(DraftSession, PlaceholdersBecomeRealCardsOnceTheSetLoads) {
    auto empty = std::make_shared<KVCatalog>("http://127.0.0.1:1");
    KVDraftSession early(empty);
    early.applyLogPick(1, 1, {1016});
    early.applyLogPack(1, 2, {1001, 1002}, 1, std::nullopt, "");
    ASSERT_EQ(early.pack[0]->name, "Unknown 1001");
    early.packSlots = {4, 7};
    early.catalog = catalog;                                  // the set has loaded
    early.pack.push_back(std::make_shared<KVCard>("card 9")); // known by name only
    early.pack.push_back(std::make_shared<KVCard>("Not In Set"));
    early.reresolve();
    EXPECT_EQ(names(early.pack),
              (std::vector<std::string>{"Card 1", "Card 2", "Card 9", "Not In Set"}));
    EXPECT_EQ(early.pack[0], catalog->cardForArenaId(1001)); // the catalog's own card
    EXPECT_EQ(names(early.pool), std::vector<std::string>{"Card 16"});
    EXPECT_EQ(early.packSlots, (Ids{4, 7}));
}

TEST_F(DraftSession, TheDraftsIdentityIsFixedOnceKnown) {
    EXPECT_EQ(session.fingerprint(), "");
    EXPECT_EQ(session.consumeKey(), "draft:?");
    EXPECT_EQ(session.key, ""); // a stand-in is not kept

    session.recordPack(2, 1, {std::make_shared<KVCard>("z")});
    session.recordPack(1, 1, {std::make_shared<KVCard>("b"), std::make_shared<KVCard>("a")});
    EXPECT_EQ(session.fingerprint(), "draft:?:5d8b1241b048"); // SHA-1 of "a,b"
    session.eventName = "E";
    session.setCode = "S";
    EXPECT_EQ(session.fingerprint(), "E:S:5d8b1241b048");
    session.eventId = "EV-9";
    EXPECT_EQ(session.consumeKey(), "EV-9");
    session.draftId = "D1";
    EXPECT_EQ(session.consumeKey(), "EV-9"); // fixed until a new draft
    session.startNewDraft();
    EXPECT_EQ(session.consumeKey(), "EV-9"); // the event id outlives a draft
    session.eventId.clear();
    session.startNewDraft();
    EXPECT_EQ(session.consumeKey(), "E:S");
    session.draftId = "D1";
    EXPECT_EQ(session.consumeKey(), "D1");
    EXPECT_EQ(session.key, "D1");
}

TEST_F(DraftSession, SeenEntriesOfTheWrongShapeAreReadWithDefaults) {
    // The seen list is a plain JSON value anyone may fill. Entries that are not objects are
    // passed over; a missing pack or pick reads as 0.
    struct Case {
        const char* seen;
        std::string fingerprint;
    };
    const std::vector<Case> cases = {
        {R"([{"pack": 2, "names": ["z"]}, {"pick": 1, "names": ["q"]}])", "draft:?:22ea1c649c82"},
        {R"([7, "x", null, [1, 2], {"pack": 1, "pick": 1, "names": ["b", "a"]}])",
         "draft:?:5d8b1241b048"},
        {R"([{"names": ["b", "a"]}, {"pack": 0, "pick": 0, "names": ["q"]}])",
         "draft:?:5d8b1241b048"}, // a tie keeps the first
        {R"([7, {"pack": 1, "pick": 1, "names": "a"}])", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seen);
        session.seen = KVJson::parse(c.seen);
        const size_t before = session.seen.size();
        EXPECT_EQ(session.fingerprint(), c.fingerprint);
        session.recordPack(9, 9, {std::make_shared<KVCard>("n")});
        ASSERT_EQ(session.seen.size(), before + 1); // no entry was (9, 9)
        EXPECT_EQ(session.seen.back(), KVJson::parse(R"({"pack": 9, "pick": 9, "names": ["n"]})"));
        EXPECT_EQ(KVJsonDump(session.seen[0]), KVJsonDump(KVJson::parse(c.seen)[0])); // untouched
    }
    // An entry without a pick stands for pick 0 and is replaced in place by it.
    session.seen = KVJson::parse(R"([{"pack": 3}, 5])");
    session.recordPack(3, 0, {std::make_shared<KVCard>("n")});
    EXPECT_EQ(KVJsonDump(session.seen), R"([{"names":["n"],"pack":3,"pick":0},5])");
}

TEST_F(DraftSession, VisionPutsPackCardsInTheirSlots) {
    session.applyVision({}); // no pack: nothing to do
    EXPECT_TRUE(session.packSlots.empty());
    session.applyLogPack(1, 1, {1001, 1002, 1003, 1001}, 1, std::nullopt, "");
    session.applyVision({seenAt(0, 0), seenAt(5, 1002), seenAt(3, 1001), seenAt(9, 1001)});
    EXPECT_EQ(session.packSlots, (Ids{3, 5, -1, 3}));
}

TEST_F(DraftSession, AnalysisKeepsWhatThePanelShows) {
    session.credits = 5;
    session.analyzing = true;
    session.analyzeError = "Could not reach";
    session.setAnalysis(KVJson::parse(R"({"picks":[
        {"name":" Alpha Bolt ","grade":"A-","reason":"Premium removal"},
        {"name":"Opt","grade":""}, {"name":42,"grade":"C"}, {"name":"  "}, "junk",
        {"name":"OPT","grade":"B","reason":"later wins"}],
        "best":"Alpha Bolt","runnerUp":7,"second":null,"colorsOpen":["W",2,null],
        "summary":"Blue is open","lane":["not","a","map"],"table":{"seat":1},"warning":"Low"})"));
    EXPECT_EQ(session.grades.size(), 3u);
    EXPECT_EQ(session.grades["alpha bolt"].grade, "A-");
    EXPECT_EQ(session.grades["alpha bolt"].reason, "Premium removal");
    EXPECT_EQ(session.grades["opt"].grade, "B");
    EXPECT_EQ(session.grades["42"].grade, "C");
    EXPECT_EQ(session.runnerUp, "7");
    EXPECT_EQ(session.secondPick, "");
    EXPECT_EQ(session.colorsOpen, (std::vector<std::string>{"W", "2", ""}));
    EXPECT_EQ(session.lane, KVJson::object());
    EXPECT_EQ(session.table, KVJson::parse(R"({"seat":1})"));
    EXPECT_EQ(session.analyzeError, "");
    EXPECT_FALSE(session.analyzing);
    EXPECT_EQ(session.credits, 5); // not in the answer: kept
    session.setAnalysis(KVJson::parse(R"({"picks":[{"name":"Opt"}],"credits":7})"));
    EXPECT_EQ(session.grades["opt"].grade, "?");
    EXPECT_EQ(session.credits, 7);
    EXPECT_EQ(session.bestPick, "");
}

TEST_F(DraftSession, AdviceListsTheBestPicksFirstThenThePack) {
    session.applyLogPack(1, 1, range(1001, 1005), 2, std::nullopt, "");
    auto rows = session.advice(); // before any answer: every card, ungraded
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].grade, "?");
    EXPECT_EQ(rows[4].slot, -1);

    session.packSlots = {0, 1, 2}; // vision found only three
    session.setAnalysis(KVJson::parse(R"({"picks":[{"name":"card 1","grade":"C"},
        {"name":"Card 3","grade":"A","reason":"bomb"},{"name":"Card 5","grade":"B"}],
        "best":"CARD 3","second":"Card 5","runnerUp":"Card 1"})"));
    rows = session.advice();
    ASSERT_EQ(rows.size(), 3u); // ungraded cards get no row
    EXPECT_EQ(rows[0].card->name, "Card 3");
    EXPECT_EQ(rows[0].reason, "bomb");
    EXPECT_EQ(rows[0].slot, 2);
    EXPECT_EQ(rows[1].card->name, "Card 5");
    EXPECT_EQ(rows[1].slot, -1); // past the known slots
    EXPECT_EQ(rows[2].card->name, "Card 1");

    session.bestPick.clear();
    session.secondPick.clear();
    session.pack.insert(session.pack.begin(), nullptr); // a gap in the pack gets no row
    rows = session.advice();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].card->name, "Card 1"); // pack order
    session.pack.erase(session.pack.begin());
    session.clearAnalysis();
    rows = session.advice();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[2].grade, "?");
    EXPECT_EQ(rows[2].slot, 2);
}

#if defined(KV_SEQUENCE_CHECKS)
// Debug and sanitizer builds catch the session touched from a second thread.
TEST_F(DraftSession, UseFromASecondThreadAbortsInCheckedBuilds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    session.startNewDraft();
    EXPECT_DEATH(std::thread([&] { session.applyLogPick(1, 1, {1001}); }).join(),
                 "applyLogPick called off its owning thread");
}
#endif

} // namespace
