#include "arenalog/log_parser.hpp"

#include <gtest/gtest.h>

namespace {

struct Case {
    std::string entry;
    std::string events; // JSON: [[kind, payload], ...] in order
};

// Decodes each entry on its own and compares every event, kind and whole payload.
void expectDecodes(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry.substr(0, 160));
        KVJson got = KVJson::array();
        for (const KVDraftEvent& e : KVLogParser().parseEntry(c.entry)) {
            got.push_back({e.kind, e.payload});
        }
        EXPECT_EQ(got, KVJson::parse(c.events));
    }
}

TEST(DraftMessages, JoinReadsTheEventFromRequestTextOrTheBody) {
    expectDecodes({
        {R"(==> EventJoin {"id":"j-1","request":"{\"EventName\":\"PremierDraft_SOS_20260901\",\"Id\":\"r-1\"}"})",
         R"([["event_join",{"event_name":"PremierDraft_SOS_20260901","format":"PremierDraft",
            "set_code":"SOS","event_id":"j-1"}]])"},
        {R"(==> EventJoin {"request":{"EventName":"Cube_Special","id":77}})",
         R"([["event_join",{"event_name":"Cube_Special","format":"","set_code":"",
            "event_id":"77"}]])"},
        // A request that is a list, or JSON text that is not a document, leaves the body.
        {R"(==> EventJoin {"request":"[1,2]","EventName":"Sealed_ABC_1"})",
         R"([["event_join",{"event_name":"Sealed_ABC_1","format":"Sealed","set_code":"ABC"}]])"},
        {R"(==> EventJoin {"request":"not json","EventName":5})",
         R"([["event_join",{"event_name":"5","format":"","set_code":""}]])"},
        {R"(<== EventJoin {"EventName":"Sealed_ABC_1"})", "[]"}, // a response
        {R"(==> EventJoin {"request":"{\"EventName\":)", "[]"},  // truncated
    });
}

TEST(DraftMessages, PackNotificationReadsItsOwnObject) {
    expectDecodes({
        {R"(Draft.Notify {"SelfPack":0,"PackNumber":2,"SelfPick":"3",)"
         R"("PackCards":"81234,81235","draftId":"d-9"})",
         R"([["pack",{"pack":2,"pick":3,"arena_ids":[81234,81235],"draft_id":"d-9",
            "source":"notify","num_to_pick":1}]])"},
        // An object before the word is not the notification's.
        {R"(==> Log {"PackCards":"1"} Draft.Notify {"PickNumber":4,)"
         R"("PackCards":[5,"6"],"DraftId":12})",
         R"([["pack",{"pack":0,"pick":4,"arena_ids":[5,6],"draft_id":"12","source":"notify",
            "num_to_pick":1}]])"},
        {R"(Draft.Notify {"SelfPack":1,"SelfPick":1})", "[]"},
        {R"(Draft.Notify {"PackCards":null})",
         R"([["pack",{"pack":0,"pick":0,"arena_ids":[],"source":"notify","num_to_pick":1}]])"},
        {R"(Draft.Notify {"PackCards":"1"})",
         R"([["pack",{"pack":0,"pick":0,"arena_ids":[1],"source":"notify","num_to_pick":1}]])"},
    });
}

TEST(DraftMessages, PlayerPickReadsTheRequestAsGiven) {
    expectDecodes({
        {R"(==> EventPlayerDraftMakePick {"request":"{\"DraftId\":\"d\",)"
         R"(\"GrpIds\":[\"90001\"],\"Pack\":2,\"Pick\":\"14\"}"})",
         R"([["pick",{"pack":2,"pick":14,"arena_ids":[90001],"draft_id":"d"}]])"},
        {R"(==> EventPlayerDraftMakePick {"grpIds":"5,6","Pack":1,"Pick":1})",
         R"([["pick",{"pack":1,"pick":1,"arena_ids":[5,6]}]])"},
        {R"(<== EventPlayerDraftMakePick {"GrpIds":[1]})", "[]"},
    });
}

TEST(DraftMessages, CompletionFindsThePoolWhereverArenaPutIt) {
    expectDecodes({
        {R"(<== DraftCompleteDraft {"CardPool":[1,2]})", R"([["complete",{"arena_ids":[1,2]}]])"},
        {R"(<== DraftCompleteDraft {"cardPool":"3,4"})", R"([["complete",{"arena_ids":[3,4]}]])"},
        {R"(==> DraftCompleteDraft {"request":"{\"CardPool\":[5],)"
         R"(\"EventName\":\"PremierDraft_SOS_1\"}"})",
         R"([["complete",{"arena_ids":[5],"event_name":"PremierDraft_SOS_1"}]])"},
        // Only inside a document carried as a string.
        {R"(<== DraftCompleteDraft {"InternalEventName":"QuickDraft_XYZ_1",)"
         R"("Payload":"{\"CardPool\":[\"6\",\"7\"]}"})",
         R"([["complete",{"arena_ids":[6,7],"event_name":"QuickDraft_XYZ_1"}]])"},
        {R"(<== DraftCompleteDraft {})", R"([["complete",{"arena_ids":[]}]])"},
    });
}

TEST(DraftMessages, BotDraftStatusGivesThePackAndTheJoinOrEndsTheDraft) {
    expectDecodes({
        {R"(<== BotDraftDraftStatus {"CurrentModule":"BotDraft","Payload":"{\"DraftStatus\":\"PickNext\",)"
         R"(\"PackNumber\":0,\"PickNumber\":3,\"NumCardsToPick\":0,\"DraftPack\":[\"11\",\"12\"],)"
         R"(\"PickedCards\":[\"9\"],\"EventName\":\"QuickDraft_XYZ_20260101\"}"})",
         R"([["pack",{"pack":1,"pick":4,"arena_ids":[11,12],"source":"bot","num_to_pick":1,
            "event_name":"QuickDraft_XYZ_20260101","format":"QuickDraft","set_code":"XYZ",
            "picked_so_far":[9]}],
            ["event_join",{"event_name":"QuickDraft_XYZ_20260101","format":"QuickDraft",
            "set_code":"XYZ"}]])"},
        // Pick Two drafts take two cards; an unknown event gives no join.
        {R"(<== BotDraftDraftStatus {"DraftStatus":"Success","NumCardsToPick":2,)"
         R"("DraftPack":[1,2,3],"EventName":"Mystery_1"})",
         R"([["pack",{"pack":1,"pick":1,"arena_ids":[1,2,3],"source":"bot","num_to_pick":2,
            "event_name":"Mystery_1","format":"","set_code":"","picked_so_far":[]}]])"},
        {R"(<== BotDraftDraftStatus {"Payload":"{\"DraftStatus\":\"Completed\",)"
         R"(\"DraftPack\":[1],\"PickedCards\":\"7,8\"}"})",
         R"([["complete",{"arena_ids":[7,8]}]])"},
        {R"(<== BotDraftDraftStatus {"DraftStatus":"Error_NotFound","DraftPack":[1,2]})", "[]"},
        {R"(<== BotDraftDraftStatus {"DraftStatus":"PickNext","DraftPack":[]})", "[]"},
    });
}

TEST(DraftMessages, BotPickCountsFromZeroInArenaAndFromOneHere) {
    expectDecodes({
        {R"(==> BotDraftDraftPick {"request":"{\"EventName\":\"QuickDraft_XYZ_1\",)"
         R"(\"PickInfo\":\"{\\\"CardIds\\\":[\\\"70001\\\"],\\\"PackNumber\\\":1,)"
         R"(\\\"PickNumber\\\":0}\"}"})",
         R"([["pick",{"pack":2,"pick":1,"arena_ids":[70001]}]])"},
        // A module word and "BotDraft" together also mark a bot-draft entry; the pack number
        // saturates rather than overflowing.
        {R"(==> Anything {"CurrentModule":"BotDraft","request":{"PickInfo":)"
         R"({"CardIds":5,"PackNumber":9223372036854775807}}})",
         R"([["pick",{"pack":9223372036854775807,"pick":1,"arena_ids":[5]}]])"},
    });
}

TEST(DraftMessages, HostileTextYieldsNothingAndNeverCrashes) {
    expectDecodes({
        {"==> EventJoin " + std::string(5000, '{') + std::string(5000, '}'), "[]"},
        {"Draft.Notify {\"PackCards\":\"\xff\xfe\"}", "[]"}, // invalid UTF-8
        {"Draft.Notify {\"PackCards\":1", "[]"},
        // A closed nesting bomb as long as an unfinished entry may grow: refused, not read.
        {"Draft.Notify {\"PackCards\":" + std::string(499990, '[') + std::string(499990, ']') + "}",
         "[]"},
        {"==> EventJoin DraftCompleteDraft BotDraftDraftStatus", "[]"},
        {"", "[]"},
    });
}

TEST(AccountSnapshots, CoursesGiveOneEventEachInOrder) {
    expectDecodes({
        {R"(<== EventGetCoursesV2(a1b2)
{"Courses":[{"CourseId":"c1","InternalEventName":"QuickDraft_ABC_20260101","CurrentModule":"BotDraft",
"CurrentWins":"2","CardPool":[]},7,{"InternalEventName":"Sealed_XYZ_1","CurrentLosses":1,
"CardPool":"5,6"}]})",
         R"([["course",{"event_name":"QuickDraft_ABC_20260101","format":"QuickDraft",
            "set_code":"ABC","course_id":"c1","module":"BotDraft","wins":2,"losses":0}],
            ["course",{"event_name":"Sealed_XYZ_1","format":"Sealed","set_code":"XYZ","wins":0,
            "losses":1,"pool":[5,6]}]])"},
        {R"(==> EventGetCoursesV2 {"Courses":[{"CourseId":"c1"}]})", "[]"},
        {R"(<== EventGetCoursesV2 {"Courses":{"CourseId":"c1"}})", "[]"},
    });
}

TEST(AccountSnapshots, RankCopiesPresentFieldsAsTheyAre) {
    expectDecodes({
        {R"(<== RankGetCombinedRankInfo {"constructedClass":null,"limitedClass":null,
            "limitedSeasonOrdinal":null,"constructedSeasonOrdinal":null})",
         "[]"},
        {R"(<== RankGetCombinedRankInfo {"limitedClass":"Gold"})",
         R"([["rank",{"limited_class":"Gold"}]])"},
        {R"(<== RankGetCombinedRankInfo {"limitedLevel":"4","limitedMatchesWon":3,
            "limitedMatchesLost":[1],"constructedSeasonOrdinal":70})",
         R"([["rank",{"limited_level":"4","limited_wins":3,"limited_losses":[1],"season":70}]])"},
        // A limited season present but null hides the constructed one.
        {R"(<== RankGetCombinedRankInfo {"limitedSeasonOrdinal":null,
            "constructedSeasonOrdinal":70,"limitedStep":2})",
         R"([["rank",{"limited_step":2}]])"},
    });
}

TEST(AccountSnapshots, InventoryKeepsTheLastCountOfEachBooster) {
    expectDecodes({
        {R"(<== StartHook {"InventoryInfo":{"Gems":10,"Gold":null,
            "WildCardMythics":2,"Boosters":[{"SetCode":"ABC","Count":3},{"Count":9},"x",
            {"SetCode":"ABC","Count":"5"},{"SetCode":12,"Count":1}]}})",
         R"([["inventory",{"gems":10,"wc_mythic":2,"boosters":{"ABC":5,"12":1}}]])"},
        {R"(<== StartHook {"InventoryInfo":"none"})", "[]"},
        {R"(<== StartHook {"Other":{"Gems":1}})", "[]"},
        {R"(<== StartHook {"InventoryInfo":{"Boosters":[]}})", "[]"},
        {R"(<== StartHook {"InventoryInfo":{"Gems":1},"Broken":tru})", "[]"},
    });
}

TEST(AccountSnapshots, InventoryReadsTheSameWhenOtherDecodersParsedTheAnswer) {
    // A start-up answer that also mentions a draft is parsed whole, not filtered: the
    // inventory read from it must not change.
    const std::string entry = R"(<== StartHook {"InventoryInfo":{"Gems":7,"Boosters":[
        {"SetCode":"SOS","Count":1}]},"Note":"DraftCompleteDraft"})";
    expectDecodes({{entry, R"([["complete",{"arena_ids":[]}],
        ["inventory",{"gems":7,"boosters":{"SOS":1}}]])"}});
    EXPECT_EQ(KVLogParser().parseInventory(entry).at(0).payload,
              KVJson::parse(R"({"gems":7,"boosters":{"SOS":1}})"));
}

} // namespace
