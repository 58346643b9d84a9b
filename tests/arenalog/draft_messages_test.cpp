#include "arenalog/log_parser.hpp"

#include <gtest/gtest.h>

namespace {

using Ids = std::vector<int64_t>;

KVDraftEvents decode(const std::string& entry) {
    KVLogParser parser;
    return parser.parseEntry(entry);
}

Ids ids(const KVDraftEvent& event, const char* key = "arena_ids") {
    return event.payload[key].get<Ids>();
}

TEST(DraftMessages, JoinReadsTheEventFromRequestTextOrTheBody) {
    auto events = decode(
        R"(==> EventJoin {"id":"j-1","request":"{\"EventName\":\"PremierDraft_SOS_20260901\",\"Id\":\"r-1\"}"})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, KVJson::parse(R"({"event_name":"PremierDraft_SOS_20260901",
        "format":"PremierDraft","set_code":"SOS","event_id":"j-1"})"));

    events = decode(R"(==> EventJoin {"request":{"EventName":"Cube_Special","id":77}})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, KVJson::parse(R"({"event_name":"Cube_Special","format":"",
        "set_code":"","event_id":"77"})"));

    // A request that is a list, or JSON text that is not a document, leaves the body.
    events = decode(R"(==> EventJoin {"request":"[1,2]","EventName":"Sealed_ABC_1"})");
    EXPECT_EQ(events.at(0).payload["set_code"], "ABC");
    events = decode(R"(==> EventJoin {"request":"not json","EventName":5})");
    EXPECT_EQ(events.at(0).payload["event_name"], "5");

    EXPECT_TRUE(decode(R"(<== EventJoin {"EventName":"Sealed_ABC_1"})").empty()); // a response
    EXPECT_TRUE(decode(R"(==> EventJoin {"request":"{\"EventName\":)").empty());  // truncated
}

TEST(DraftMessages, PackNotificationReadsItsOwnObject) {
    auto events = decode(R"(Draft.Notify {"SelfPack":0,"PackNumber":2,"SelfPick":"3",)"
                         R"("PackCards":"81234,81235","draftId":"d-9"})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, "pack");
    EXPECT_EQ(events[0].payload, KVJson::parse(R"({"pack":2,"pick":3,"arena_ids":[81234,81235],
        "draft_id":"d-9","source":"notify","num_to_pick":1})"));

    // An object before the word is not the notification's.
    events = decode(R"(==> Log {"PackCards":"1"} Draft.Notify {"PickNumber":4,)"
                    R"("PackCards":[5,"6"],"DraftId":12})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(ids(events[0]), (Ids{5, 6}));
    EXPECT_EQ(events[0].payload["pick"], 4);
    EXPECT_EQ(events[0].payload["draft_id"], "12");

    EXPECT_TRUE(decode(R"(Draft.Notify {"SelfPack":1,"SelfPick":1})").empty());
    EXPECT_EQ(ids(decode(R"(Draft.Notify {"PackCards":null})").at(0)), Ids{});
    EXPECT_FALSE(decode(R"(Draft.Notify {"PackCards":"1"})").at(0).payload.contains("draft_id"));
}

TEST(DraftMessages, PlayerPickReadsTheRequestAsGiven) {
    auto events = decode(R"(==> EventPlayerDraftMakePick {"request":"{\"DraftId\":\"d\",)"
                         R"(\"GrpIds\":[\"90001\"],\"Pack\":2,\"Pick\":\"14\"}"})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload,
              KVJson::parse(R"({"pack":2,"pick":14,"arena_ids":[90001],"draft_id":"d"})"));
    events = decode(R"(==> EventPlayerDraftMakePick {"grpIds":"5,6","Pack":1,"Pick":1})");
    EXPECT_EQ(ids(events.at(0)), (Ids{5, 6}));
    EXPECT_FALSE(events[0].payload.contains("draft_id"));
    EXPECT_TRUE(decode(R"(<== EventPlayerDraftMakePick {"GrpIds":[1]})").empty());
}

TEST(DraftMessages, CompletionFindsThePoolWhereverArenaPutIt) {
    EXPECT_EQ(ids(decode(R"(<== DraftCompleteDraft {"CardPool":[1,2]})").at(0)), (Ids{1, 2}));
    EXPECT_EQ(ids(decode(R"(<== DraftCompleteDraft {"cardPool":"3,4"})").at(0)), (Ids{3, 4}));
    auto events = decode(R"(==> DraftCompleteDraft {"request":"{\"CardPool\":[5],)"
                         R"(\"EventName\":\"PremierDraft_SOS_1\"}"})");
    EXPECT_EQ(ids(events.at(0)), Ids{5});
    EXPECT_EQ(events[0].payload["event_name"], "PremierDraft_SOS_1");
    // Only inside a document carried as a string.
    events = decode(R"(<== DraftCompleteDraft {"InternalEventName":"QuickDraft_XYZ_1",)"
                    R"("Payload":"{\"CardPool\":[\"6\",\"7\"]}"})");
    EXPECT_EQ(ids(events.at(0)), (Ids{6, 7}));
    EXPECT_EQ(events[0].payload["event_name"], "QuickDraft_XYZ_1");
    events = decode(R"(<== DraftCompleteDraft {})");
    EXPECT_EQ(events.at(0).payload, KVJson::parse(R"({"arena_ids":[]})"));
}

TEST(DraftMessages, BotDraftStatusGivesThePackAndTheJoin) {
    auto events = decode(
        R"(<== BotDraftDraftStatus {"CurrentModule":"BotDraft","Payload":"{\"DraftStatus\":\"PickNext\",)"
        R"(\"PackNumber\":0,\"PickNumber\":3,\"NumCardsToPick\":0,\"DraftPack\":[\"11\",\"12\"],)"
        R"(\"PickedCards\":[\"9\"],\"EventName\":\"QuickDraft_XYZ_20260101\"}"})");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].payload, KVJson::parse(R"({"pack":1,"pick":4,"arena_ids":[11,12],
        "source":"bot","num_to_pick":1,"event_name":"QuickDraft_XYZ_20260101",
        "format":"QuickDraft","set_code":"XYZ","picked_so_far":[9]})"));
    EXPECT_EQ(events[1].kind, "event_join");
    EXPECT_EQ(events[1].payload, KVJson::parse(R"({"event_name":"QuickDraft_XYZ_20260101",
        "format":"QuickDraft","set_code":"XYZ"})"));

    // Pick Two drafts take two cards; an unknown event gives no join.
    events = decode(R"(<== BotDraftDraftStatus {"DraftStatus":"Success","NumCardsToPick":2,)"
                    R"("DraftPack":[1,2,3],"EventName":"Mystery_1"})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload["num_to_pick"], 2);
    EXPECT_EQ(events[0].payload["format"], "");
}

TEST(DraftMessages, BotDraftEndsOrFailsWithoutAPack) {
    auto events = decode(R"(<== BotDraftDraftStatus {"Payload":"{\"DraftStatus\":\"Completed\",)"
                         R"(\"DraftPack\":[1],\"PickedCards\":\"7,8\"}"})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, "complete");
    EXPECT_EQ(ids(events[0]), (Ids{7, 8}));
    EXPECT_FALSE(events[0].payload.contains("event_name"));

    EXPECT_TRUE(decode(R"(<== BotDraftDraftStatus {"DraftStatus":"Error_NotFound",)"
                       R"("DraftPack":[1,2]})")
                    .empty());
    EXPECT_TRUE(
        decode(R"(<== BotDraftDraftStatus {"DraftStatus":"PickNext","DraftPack":[]})").empty());
}

TEST(DraftMessages, BotPickCountsFromZeroInArenaAndFromOneHere) {
    auto events = decode(R"(==> BotDraftDraftPick {"request":"{\"EventName\":\"QuickDraft_XYZ_1\",)"
                         R"(\"PickInfo\":\"{\\\"CardIds\\\":[\\\"70001\\\"],\\\"PackNumber\\\":1,)"
                         R"(\\\"PickNumber\\\":0}\"}"})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload, KVJson::parse(R"({"pack":2,"pick":1,"arena_ids":[70001]})"));
    // A module word and "BotDraft" together also mark a bot-draft entry.
    events = decode(R"(==> Anything {"CurrentModule":"BotDraft","request":{"PickInfo":)"
                    R"({"CardIds":5,"PackNumber":9223372036854775807}}})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload["pack"], 9223372036854775807); // saturates, no overflow
}

TEST(DraftMessages, HostileTextYieldsNothingAndNeverCrashes) {
    const std::string deep = std::string(5000, '{') + std::string(5000, '}');
    EXPECT_TRUE(decode("==> EventJoin " + deep).empty());
    EXPECT_TRUE(decode("Draft.Notify {\"PackCards\":\"\xff\xfe\"}").empty()); // invalid UTF-8
    EXPECT_TRUE(decode("Draft.Notify {\"PackCards\":1").empty());
    EXPECT_TRUE(decode("==> EventJoin DraftCompleteDraft BotDraftDraftStatus").empty());
    EXPECT_TRUE(decode("").empty());
}

} // namespace
