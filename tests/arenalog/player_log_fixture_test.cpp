#include "arenalog/log_parser.hpp"
#include "base/files.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

const std::string kMarker(KVLogParser::kMarker);

const std::string& sessionLog() {
    static const std::string text =
        KVReadFile(KV_FIXTURES_DIR "/player_log_session.log").value_or(std::string());
    return text;
}

std::vector<std::string> describe(const KVDraftEvents& events) {
    std::vector<std::string> out;
    for (const auto& e : events) {
        out.push_back(e.kind + " " + KVJsonDump(e.payload));
    }
    return out;
}

KVDraftEvents feedChunks(const std::vector<std::string>& chunks) {
    KVLogParser parser;
    KVDraftEvents all;
    for (const auto& chunk : chunks) {
        for (auto& e : parser.feed(chunk)) {
            all.push_back(std::move(e));
        }
    }
    return all;
}

// Cuts `text` into random pieces at character boundaries, mostly small ones as the tailer reads
// them while Arena writes; the piece that holds the big start-up answer runs on through the
// next marker, as the tailer's first 6 MiB read would.
std::vector<std::string> randomChunks(const std::string& text, unsigned seed) {
    std::mt19937 rng(seed);
    const size_t bigStart = text.rfind(kMarker, text.find("StartHook"));
    const size_t bigEnd = text.find(kMarker, bigStart + kMarker.size()) + kMarker.size();
    std::vector<std::string> chunks;
    for (size_t pos = 0; pos < text.size();) {
        const unsigned kind = rng() % 10;
        const size_t most = kind < 5 ? 64 : kind < 8 ? 4096 : 65536;
        size_t end = std::min(text.size(), pos + 1 + rng() % most);
        if (end > bigStart && end < bigEnd) {
            end = bigEnd;
        }
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
        chunks.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return chunks;
}

TEST(PlayerLogFixture, AWholeEveningGivesEveryEventOnceInLogOrder) {
    const std::string& log = sessionLog();
    ASSERT_GT(log.size(), 3u << 20) << "fixture missing or short";
    const KVDraftEvents events = feedChunks({log});

    std::map<std::string, int> count;
    for (const auto& e : events) {
        ++count[e.kind];
    }
    EXPECT_EQ(count, (std::map<std::string, int>{{"pack", 48},
                                                 {"pick", 48},
                                                 {"event_join", 9},
                                                 {"complete", 3},
                                                 {"course", 9},
                                                 {"rank", 2},
                                                 {"inventory", 2}}));

    // The start-up answer, filtered from 3 MiB.
    ASSERT_EQ(events.front().kind, "inventory");
    EXPECT_EQ(events.front().payload["boosters"], KVJson::parse(R"({"SOS":3,"XYZ":5})"));
    EXPECT_EQ(events.front().payload["gems"], 1240);
    EXPECT_FALSE(events.front().payload.contains("ts_approx"));

    // The Premier Draft: each pack is followed by a pick from it, in order.
    std::vector<int64_t> picked;
    int notified = 0;
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        const KVDraftEvent& pack = events[i];
        if (pack.kind != "pack" || pack.payload["source"] != "notify") {
            continue;
        }
        const int pick = notified % 14 + 1;
        EXPECT_EQ(pack.payload["pack"], notified / 14 + 1);
        EXPECT_EQ(pack.payload["pick"], pick);
        EXPECT_EQ(pack.payload["arena_ids"].size(), static_cast<size_t>(15 - pick));
        EXPECT_EQ(pack.payload["draft_id"], "5e1d7a0c-8f2b-4c61-9d3e-0a7b6c5d4e3f");
        EXPECT_TRUE(pack.payload.contains("log_ts"));
        const KVDraftEvent& next = events[i + 1];
        ASSERT_EQ(next.kind, "pick");
        EXPECT_EQ(next.payload["pick"], pick);
        const int64_t taken = next.payload["arena_ids"][0];
        const auto& shown = pack.payload["arena_ids"];
        EXPECT_NE(std::find(shown.begin(), shown.end(), taken), shown.end());
        picked.push_back(taken);
        ++notified;
    }
    EXPECT_EQ(notified, 42);
    const auto pool = std::find_if(events.begin(), events.end(), [](const KVDraftEvent& e) {
        return e.kind == "complete" && !e.payload["arena_ids"].empty();
    });
    ASSERT_NE(pool, events.end());
    EXPECT_EQ(pool->payload["arena_ids"].get<std::vector<int64_t>>(), picked);

    // The Quick Draft: packs from bot statuses count from 1 and carry what was taken so far.
    int botPacks = 0;
    for (const auto& e : events) {
        if (e.kind == "pack" && e.payload["source"] == "bot") {
            EXPECT_EQ(e.payload["set_code"], "XYZ");
            EXPECT_EQ(e.payload["picked_so_far"].size(), static_cast<size_t>(botPacks));
            EXPECT_EQ(e.payload["pack"], botPacks / 2 + 1);
            ++botPacks;
        }
    }
    EXPECT_EQ(botPacks, 6);
    EXPECT_EQ(events.back().kind, "course");
}

// Fed in pieces of `size` bytes (never inside a character), then flushed; one line per event.
std::string decodeInPieces(const std::string& text, size_t size) {
    KVLogParser parser;
    KVDraftEvents all;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = std::min(text.size(), pos + size);
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
        for (auto& e : parser.feed(std::string_view(text).substr(pos, end - pos))) {
            all.push_back(std::move(e));
        }
        pos = end;
    }
    for (auto& e : parser.flush()) {
        all.push_back(std::move(e));
    }
    std::string lines;
    for (const std::string& line : describe(all)) {
        lines += line + "\n";
    }
    return lines;
}

// The events as the reader before this one decoded them, pinned byte for byte. Trickled in small
// pieces the start-up answer outgrows the buffer limit and is dropped, so that file lacks it.
TEST(PlayerLogFixture, EventsMatchThePinnedDecodingWholeAndTrickled) {
    const std::string& log = sessionLog();
    const auto pinned = [](const char* name) {
        return KVReadFile(std::string(KV_FIXTURES_DIR "/") + name).value_or("missing");
    };
    EXPECT_EQ(decodeInPieces(log, log.size()), pinned("player_log_session.events"));
    const std::string trickled = pinned("player_log_session.trickled.events");
    EXPECT_EQ(decodeInPieces(log, 4096), trickled);
    EXPECT_EQ(decodeInPieces(log, 61), trickled);
}

TEST(PlayerLogFixture, AnyCuttingGivesTheSameEventsAsTheWholeText) {
    const std::string& log = sessionLog();
    const auto expected = describe(feedChunks({log}));
    ASSERT_FALSE(expected.empty());
    for (const unsigned seed : {1u, 2u, 3u, 42u, 20261206u}) {
        EXPECT_EQ(describe(feedChunks(randomChunks(log, seed))), expected) << "seed " << seed;
    }
    // The draft part of the evening, after the big answer, one byte at a time.
    const std::string draft = log.substr(log.find(kMarker, log.find("EventJoin") - 200), 400000);
    std::vector<std::string> bytes;
    bytes.reserve(draft.size());
    for (const char c : draft) {
        bytes.emplace_back(1, c);
    }
    EXPECT_EQ(describe(feedChunks(bytes)), describe(feedChunks({draft})));
}

} // namespace
