#include "arenalog/log_parser.hpp"

#include <gtest/gtest.h>

namespace {

KVDraftEvents decode(const std::string& entry) {
    KVLogParser parser;
    return parser.parseEntry(entry);
}

TEST(AccountSnapshots, CoursesGiveOneEventEachInOrder) {
    const auto events = decode(R"(<== EventGetCoursesV2(a1b2)
{"Courses":[{"CourseId":"c1","InternalEventName":"QuickDraft_ABC_20260101","CurrentModule":"BotDraft",
"CurrentWins":"2","CardPool":[]},7,{"InternalEventName":"Sealed_XYZ_1","CurrentLosses":1,
"CardPool":"5,6"}]})");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].payload, KVJson::parse(R"({"event_name":"QuickDraft_ABC_20260101",
        "format":"QuickDraft","set_code":"ABC","course_id":"c1","module":"BotDraft",
        "wins":2,"losses":0})"));
    EXPECT_EQ(events[1].payload, KVJson::parse(R"({"event_name":"Sealed_XYZ_1","format":"Sealed",
        "set_code":"XYZ","wins":0,"losses":1,"pool":[5,6]})"));

    EXPECT_TRUE(decode(R"(==> EventGetCoursesV2 {"Courses":[{"CourseId":"c1"}]})").empty());
    EXPECT_TRUE(decode(R"(<== EventGetCoursesV2 {"Courses":{"CourseId":"c1"}})").empty());
}

TEST(AccountSnapshots, RankCopiesPresentFieldsAsTheyAre) {
    EXPECT_TRUE(decode(R"(<== RankGetCombinedRankInfo {"constructedClass":null,"limitedClass":null,
        "limitedSeasonOrdinal":null,"constructedSeasonOrdinal":null})")
                    .empty());
    auto events = decode(R"(<== RankGetCombinedRankInfo {"limitedClass":"Gold"})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, KVJson::parse(R"({"limited_class":"Gold"})"));

    events = decode(R"(<== RankGetCombinedRankInfo {"limitedLevel":"4","limitedMatchesWon":3,
        "limitedMatchesLost":[1],"constructedSeasonOrdinal":70})");
    EXPECT_EQ(events.at(0).payload, KVJson::parse(R"({"limited_level":"4","limited_wins":3,
        "limited_losses":[1],"season":70})"));
    // A limited season present but null hides the constructed one.
    events = decode(R"(<== RankGetCombinedRankInfo {"limitedSeasonOrdinal":null,
        "constructedSeasonOrdinal":70,"limitedStep":2})");
    EXPECT_EQ(events.at(0).payload, KVJson::parse(R"({"limited_step":2})"));
}

TEST(AccountSnapshots, InventoryKeepsTheLastCountOfEachBooster) {
    auto events = decode(R"(<== StartHook {"InventoryInfo":{"Gems":10,"Gold":null,
        "WildCardMythics":2,"Boosters":[{"SetCode":"ABC","Count":3},{"Count":9},"x",
        {"SetCode":"ABC","Count":"5"},{"SetCode":12,"Count":1}]}})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, KVJson::parse(R"({"gems":10,"wc_mythic":2,
        "boosters":{"ABC":5,"12":1}})"));
    EXPECT_TRUE(decode(R"(<== StartHook {"InventoryInfo":"none"})").empty());
    EXPECT_TRUE(decode(R"(<== StartHook {"Other":{"Gems":1}})").empty());
    EXPECT_TRUE(decode(R"(<== StartHook {"InventoryInfo":{"Boosters":[]}})").empty());
    EXPECT_TRUE(decode(R"(<== StartHook {"InventoryInfo":{"Gems":1},"Broken":tru})").empty());
}

TEST(AccountSnapshots, InventoryReadsTheSameWhenOtherDecodersParsedTheAnswer) {
    // A start-up answer that also mentions a draft is parsed whole, not filtered: the
    // inventory read from it must not change.
    const std::string answer = R"({"InventoryInfo":{"Gems":7,"Boosters":[{"SetCode":"SOS",
        "Count":1}]},"Note":"DraftCompleteDraft"})";
    const auto events = decode("<== StartHook " + answer);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, "complete");
    EXPECT_EQ(events[1].payload, KVJson::parse(R"({"gems":7,"boosters":{"SOS":1}})"));
    KVLogParser parser;
    EXPECT_EQ(parser.parseInventory("<== StartHook " + answer).at(0).payload, events[1].payload);
}

} // namespace
