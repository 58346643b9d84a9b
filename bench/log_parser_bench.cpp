// The log parser at start-up and while a long entry trickles in.
#include "arenalog/log_parser.hpp"
#include "base/files.hpp"

#include <benchmark/benchmark.h>

#include <random>

namespace {

const std::string kMarker(KVLogParser::kMarker);

// Game traffic that no decoder reads: pretty-printed game-state messages, as Arena writes
// them during matches, a few kilobytes each.
std::string gameStateEntry(std::mt19937& rng, int n) {
    std::string entry = kMarker + "12/6/2026 7:1" + std::to_string(n % 10) +
                        ":00 PM: Match to 3F2A: GreToClientEvent\n{\n  \"transactionId\": \"" +
                        std::to_string(rng()) + "\",\n  \"greToClientEvent\": {\n" +
                        "    \"greToClientMessages\": [ {\n      \"type\": "
                        "\"GREMessageType_GameStateMessage\",\n      \"gameStateMessage\": {\n"
                        "        \"gameObjects\": [\n";
    const int objects = 10 + static_cast<int>(rng() % 40);
    for (int i = 0; i < objects; ++i) {
        entry += "          { \"instanceId\": " + std::to_string(200 + i) +
                 ", \"grpId\": " + std::to_string(90000 + rng() % 300) +
                 ", \"type\": \"GameObjectType_Card\", \"zoneId\": 31, \"visibility\": "
                 "\"Visibility_Public\", \"ownerSeatId\": 1, \"cardTypes\": [ "
                 "\"CardType_Creature\" ], \"subtypes\": [ \"SubType_Elf\" ], \"power\": { "
                 "\"value\": 2 }, \"toughness\": { \"value\": 3 } },\n";
    }
    entry += "          {}\n        ]\n      }\n    } ]\n  }\n}\n";
    entry += "Unloading 3 unused Assets to reduce memory usage. Loaded Objects now: 90211.\n";
    return entry;
}

struct Backlog {
    std::string first;                // what the tailer reads at start-up: 6 MiB
    std::vector<std::string> appends; // what it reads afterwards, an entry at a time
};

const Backlog& realisticBacklog() {
    static const Backlog backlog = [] {
        const std::string evening = KVReadFile(KV_PLAYER_LOG).value_or(std::string());
        Backlog b;
        std::mt19937 rng(7);
        // Matches played before the draft, then the evening with its drafts.
        int n = 0;
        while (b.first.size() + evening.size() < (6u << 20)) {
            b.first += gameStateEntry(rng, n++);
        }
        b.first += evening;
        // Then a new draft's picks arrive one entry at a time.
        const size_t start = evening.find(kMarker, evening.find("Draft.Notify") - 200);
        const size_t end = evening.find("DraftCompleteDraft");
        for (size_t at = start; at < end;) {
            const size_t next = evening.find(kMarker, at + kMarker.size());
            b.appends.push_back(evening.substr(at, next - at));
            at = next;
        }
        return b;
    }();
    return backlog;
}

void BM_ColdStartOnSixMiBBacklog(benchmark::State& state) {
    const Backlog& backlog = realisticBacklog();
    size_t events = 0;
    for (auto _ : state) {
        KVLogParser parser;
        events = parser.feed(backlog.first).size();
        for (const std::string& text : backlog.appends) {
            events += parser.feed(text).size();
        }
        benchmark::DoNotOptimize(events);
    }
    state.counters["MiB"] = static_cast<double>(backlog.first.size()) / (1 << 20);
    state.counters["appends"] = static_cast<double>(backlog.appends.size());
    state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(BM_ColdStartOnSixMiBBacklog)->Unit(benchmark::kMillisecond);

// An inventory answer of 900,000 characters, still unfinished until its last piece.
const std::string& longEntry() {
    static const std::string entry = [] {
        std::string text = kMarker + "12/6/2026 6:01:08 PM\n<== StartHook(ab12)\n"
                                     "{\"InventoryInfo\":{\"Gems\":10,\"Boosters\":[{\"SetCode\":"
                                     "\"SOS\",\"Count\":3}],\"Cosmetics\":{\"ArtStyles\":[";
        for (int i = 0; text.size() < 899900; ++i) {
            text += "{\"Type\":\"ArtStyle\",\"Id\":\"" + std::to_string(70000 + i) +
                    ".DA\",\"ArtId\":" + std::to_string(400000 + i) + "},";
        }
        text += "{}]}}}\n";
        text.resize(900000, ' ');
        return text;
    }();
    return entry;
}

// One long entry to a new parser, whole or in 4 KiB appends, then the next entry's marker: it
// must give exactly one event.
void feedLongEntry(benchmark::State& state, const std::string& entry, size_t piece) {
    for (auto _ : state) {
        KVLogParser parser;
        size_t events = 0;
        for (size_t at = 0; at < entry.size(); at += piece) {
            events += parser.feed(std::string_view(entry).substr(at, piece)).size();
        }
        events += parser.feed(kMarker).size();
        benchmark::DoNotOptimize(events);
        if (events != 1) {
            state.SkipWithError("the entry was not decoded exactly once");
        }
    }
}

void BM_LongEntryInOnePiece(benchmark::State& state) {
    feedLongEntry(state, longEntry(), longEntry().size());
}
BENCHMARK(BM_LongEntryInOnePiece)->Unit(benchmark::kMillisecond);

void BM_LongEntryIn4KiBAppends(benchmark::State& state) {
    feedLongEntry(state, longEntry(), 4096);
}
BENCHMARK(BM_LongEntryIn4KiBAppends)->Unit(benchmark::kMillisecond);

// A pack notification of 900,000 characters holding 200,000 small objects no decoder reads.
const std::string& longNotification() {
    static const std::string entry = [] {
        std::string text = kMarker + "12/6/2026 6:20:01 PM\n[UnityCrossThreadLogger]Draft.Notify "
                                     "{\"draftId\":\"5e1d\",\"SelfPack\":1,\"SelfPick\":1,"
                                     "\"PackCards\":\"90001,90002,90003\",\"Decoys\":[";
        for (int i = 0; i < 200000; ++i) {
            text += "{},";
        }
        text += "{}],\"Note\":\"";
        text.resize(900000 - 3, 'x');
        text += "\"}\n";
        return text;
    }();
    return entry;
}

void BM_LongNotificationInOnePiece(benchmark::State& state) {
    feedLongEntry(state, longNotification(), longNotification().size());
}
BENCHMARK(BM_LongNotificationInOnePiece)->Unit(benchmark::kMillisecond);

void BM_LongNotificationIn4KiBAppends(benchmark::State& state) {
    feedLongEntry(state, longNotification(), 4096);
}
BENCHMARK(BM_LongNotificationIn4KiBAppends)->Unit(benchmark::kMillisecond);

} // namespace
