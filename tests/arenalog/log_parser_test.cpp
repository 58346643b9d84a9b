#include "arenalog/log_parser.hpp"

#include <gtest/gtest.h>

namespace {

const std::string kMarker(KVLogParser::kMarker);

std::vector<std::string> kinds(const KVDraftEvents& events) {
    std::vector<std::string> out;
    for (const auto& e : events) {
        out.push_back(e.kind);
    }
    return out;
}

KVDraftEvents feedAll(KVLogParser& parser, const std::vector<std::string>& chunks) {
    KVDraftEvents all;
    for (const auto& chunk : chunks) {
        for (auto& e : parser.feed(chunk)) {
            all.push_back(std::move(e));
        }
    }
    return all;
}

TEST(LogParser, AWordArrivingAfterTheObjectStillCounts) {
    // Decoders look for their words anywhere in the entry, so text after a complete object can
    // make it decodable: a skipped early decode must not hide that.
    const std::string entry = kMarker + "==> Anything {\"EventName\":\"Sealed_ABC_1\"} EventJoin\n";
    KVLogParser whole;
    const auto expected = whole.feed(entry);
    ASSERT_EQ(kinds(expected), std::vector<std::string>{"event_join"});
    KVLogParser pieces;
    const size_t cut = entry.find('}') + 1;
    const auto got =
        feedAll(pieces, {entry.substr(0, cut), entry.substr(cut, 3), entry.substr(cut + 3)});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, expected[0].payload);
}

TEST(LogParser, StampsEventsWithTheEntryTimeOrTheLastOneSeen) {
    KVLogParser parser;
    auto early = parser.feed(kMarker + "==> EventJoin {\"EventName\":\"Sealed_ABC_1\"}\n");
    ASSERT_EQ(early.size(), 1u);
    EXPECT_FALSE(early[0].payload.contains("log_ts")); // no time seen yet
    EXPECT_FALSE(early[0].payload.contains("ts_approx"));

    auto own = parser.feed(kMarker + "1/2/2026 3:04:05 PM\n==> EventJoin {\"EventName\":\"x\"}\n");
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0].payload["log_ts"], "2026-01-02T15:04:05");
    EXPECT_FALSE(own[0].payload.contains("ts_approx"));
    EXPECT_EQ(parser.lastTs(), "1/2/2026 3:04:05 PM");

    auto borrowed = parser.feed(kMarker +
                                "Draft.Notify {\"SelfPack\":1,\"SelfPick\":2,"
                                "\"PackCards\":\"5\"}\n" +
                                kMarker);
    ASSERT_EQ(borrowed.size(), 1u);
    EXPECT_EQ(borrowed[0].payload["log_ts"], "2026-01-02T15:04:05");
    EXPECT_EQ(borrowed[0].payload["ts_approx"], true);

    parser.reset();
    EXPECT_EQ(parser.lastTs(), "");
    auto afterReset = parser.feed(kMarker + "==> EventJoin {}\n");
    ASSERT_EQ(afterReset.size(), 1u);
    EXPECT_FALSE(afterReset[0].payload.contains("log_ts"));
}

TEST(LogParser, ReadsTheHeaderOnlyInTheFirst200Characters) {
    const std::string stamp = "1/2/2026 3:04:05 PM";
    const std::string answer = " {\"limitedClass\":\"Gold\"}";
    const auto rankWithPadding = [&](size_t spaces) {
        KVLogParser parser;
        return parser.feed(kMarker + stamp + std::string(spaces, ' ') +
                           "<== RankGetCombinedRankInfo" + answer + "\n" + kMarker);
    };
    const size_t fits = 200 - stamp.size() - std::string("<== RankGetCombinedRankInfo").size();
    EXPECT_EQ(kinds(rankWithPadding(fits)), std::vector<std::string>{"rank"});
    EXPECT_TRUE(rankWithPadding(fits + 1).empty()); // the method name is cut short
    EXPECT_TRUE(KVLogParser().feed(kMarker + "<== RankGetCombinedRankInfoV2" + answer).empty());
    EXPECT_TRUE(KVLogParser().feed(kMarker + "==> RankGetCombinedRankInfo" + answer).empty());
}

// An entry that outgrows the parser's limit before it ends is dropped; the entries around it
// are given once each, in log order.
TEST(LogParser, RunawayEntriesAreDroppedAndTheRestKeepTheirOrder) {
    const std::string join = kMarker + "==> EventJoin {\"EventName\":\"Sealed_ABC_1\"}\n";
    const std::string inventory = kMarker + "<== StartHook\n{\"InventoryInfo\":{\"Gems\":5," +
                                  "\"Cosmetics\":\"" + std::string(1100000, 'x') + "\"}}\n";
    // In 64 KiB pieces the answer passes the limit before it is complete: it is lost, and
    // the parser carries on with the next entry. Whole, it is decoded like any other.
    std::vector<std::string> pieces;
    for (size_t at = 0; at < inventory.size(); at += 65536) {
        pieces.push_back(inventory.substr(at, 65536));
    }
    pieces.push_back(join);
    KVLogParser trickled;
    EXPECT_EQ(kinds(feedAll(trickled, pieces)), std::vector<std::string>{"event_join"});
    EXPECT_EQ(kinds(KVLogParser().feed(inventory + kMarker)),
              std::vector<std::string>{"inventory"});

    // Already decoded as the tail, it is not given again when it passes the limit.
    KVLogParser tail;
    ASSERT_EQ(tail.feed(kMarker + "==> EventPlayerDraftMakePick {\"request\":{\"Pack\":1,"
                                  "\"Pick\":1,\"GrpIds\":[7]}}\n")
                  .size(),
              1u);
    const std::string noise(600000, '.');
    EXPECT_TRUE(feedAll(tail, {noise, noise, kMarker}).empty());

    // One chunk completes a join and brings a rank answer (starting with a line end) so long
    // that it passes the limit: both are given, in log order.
    KVLogParser both;
    EXPECT_EQ(kinds(both.feed(join + kMarker +
                              "\n<== RankGetCombinedRankInfo {\"limitedClass\":\"Gold\"}\n" +
                              std::string(1000001, '.'))),
              (std::vector<std::string>{"event_join", "rank"}));
    EXPECT_TRUE(both.feed(kMarker).empty());
}

TEST(LogParser, FirstJsonFindsTheFirstBalancedObject) {
    EXPECT_EQ(KVLogParser::firstJSON("noise {\"a\":1} {\"b\":2}"), KVJson({{"a", 1}}));
    const auto tricky = KVLogParser::firstJSON(R"(x {"s":"}{ \"}\" {","n":{"m":[1,{"k":2}]}} y)");
    ASSERT_TRUE(tricky.has_value());
    EXPECT_EQ((*tricky)["s"], "}{ \"}\" {");
    EXPECT_EQ((*tricky)["n"]["m"][1]["k"], 2);
    EXPECT_FALSE(KVLogParser::firstJSON("{\"a\":{\"b\":1}").has_value());    // never closed
    EXPECT_FALSE(KVLogParser::firstJSON("{\"a\" 1} {\"b\":2}").has_value()); // no second try
    EXPECT_FALSE(KVLogParser::firstJSON("[1,2] no object").has_value());
    EXPECT_FALSE(KVLogParser::firstJSON("").has_value());
}

TEST(LogParser, ReadsFormatAndSetFromEventNames) {
    const auto check = [](const char* name, const char* format, const char* set) {
        const KVEventFormat got = KVLogParser::parseEventName(name);
        EXPECT_EQ(got.format, format) << name;
        EXPECT_EQ(got.setCode, set) << name;
    };
    check("TraditionalDraft_ABC_1", "TradDraft", "ABC");
    check("BotDraft_XYZ_2", "QuickDraft", "XYZ");
    check("PickTwoTradDraft_M3C_3", "PickTwoTradDraft", "M3C");
    check("TradSealed_ABC_4", "TradSealed", "ABC");
    check("Event_QuickDraft_Y24DSK_x", "QuickDraft", "Y24DSK"); // found anywhere
    check("QuickDraft_sos_1", "", "");                          // set codes are upper case
    check("", "", "");
}

TEST(LogParser, ConvertsArenaTimesToIsoAndKeepsAnythingElse) {
    EXPECT_EQ(KVLogParser::isoFromArena("3/7/2026 9:05:01 PM"), "2026-03-07T21:05:01");
    EXPECT_EQ(KVLogParser::isoFromArena("12/31/2025 12:00:00 AM"), "2025-12-31T00:00:00");
    EXPECT_EQ(KVLogParser::isoFromArena("2/29/2028 12:30:59 PM"), "2028-02-29T12:30:59");
    for (const char* bad : {"2/29/2026 1:00:00 PM", "13/1/2026 1:00:00 PM", "1/1/2026 13:00:00 PM",
                            "1/1/2026 1:60:00 AM", "1/1/2026 1:00:00", "yesterday", ""}) {
        EXPECT_EQ(KVLogParser::isoFromArena(bad), bad);
    }
}

} // namespace
