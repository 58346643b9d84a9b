// The general JSON reader on the outside documents that once cost seconds: a start-up answer of
// megabytes, long arrays of small objects, and a settings file of them at the read cap.
#include "base/config.hpp"
#include "base/files.hpp"
#include "base/json.hpp"

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <cstdio>
#include <optional>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

// Like Arena's start-up answer: the inventory, then thousands of cosmetics and deck summaries.
const std::string& inventoryBody() {
    static const std::string body = [] {
        std::mt19937 rng(3);
        std::string text = "{\"InventoryInfo\":{\"Gems\":1200,\"Gold\":4350,\"TotalVaultProgress\":"
                           "27.5,\"WildCardCommons\":31,\"Boosters\":[{\"SetCode\":\"SOS\","
                           "\"Count\":3},{\"SetCode\":\"FDN\",\"Count\":1}],\"Cosmetics\":{"
                           "\"ArtStyles\":[";
        for (int i = 0; i < 9000; ++i) {
            text += "{\"Type\":\"ArtStyle\",\"Id\":\"" + std::to_string(70000 + i) +
                    ".DA\",\"ArtId\":" + std::to_string(400000 + i) +
                    ",\"Variant\":\"DA\",\"Sets\":[\"SOS\",\"FDN\"]},";
        }
        text += "{}]}},\"DeckSummaries\":[";
        while (text.size() < 3400000 - 400) {
            text += "{\"DeckId\":\"" + std::to_string(rng()) + "-4f1c-9a3e-" +
                    std::to_string(rng()) + "\",\"Name\":\"Deck \\u00e9t\\u00e9 " +
                    std::to_string(rng() % 1000) +
                    "\",\"Attributes\":[{\"name\":\"Version\",\"value\":\"3\"},{\"name\":"
                    "\"Format\",\"value\":\"Standard\"}],\"Description\":null,\"DeckTileId\":" +
                    std::to_string(rng() % 100000) + ",\"IsCompanionValid\":true,\"Ratio\":0.625},";
        }
        text += "{}]}";
        return text;
    }();
    return body;
}

void BM_JsonParse_InventoryBody(benchmark::State& state) {
    const std::string& body = inventoryBody();
    for (auto _ : state) {
        auto value = KVJsonParse(body);
        if (!value) {
            state.SkipWithError("the body did not read");
        }
        benchmark::DoNotOptimize(value);
    }
    state.counters["MB"] = static_cast<double>(body.size()) / 1e6;
}
BENCHMARK(BM_JsonParse_InventoryBody)->Unit(benchmark::kMillisecond);

// What reading the body costs before any value is built: simdjson's checked document alone,
// the floor under both readers above. The rest of the general reader's time is building and
// freeing the values it keeps.
void BM_JsonDocumentOnly_InventoryBody(benchmark::State& state) {
    const std::string& body = inventoryBody();
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::dom::element root;
        if (parser.parse(body).get(root) != simdjson::SUCCESS) {
            state.SkipWithError("the body did not read");
        }
        benchmark::DoNotOptimize(root);
    }
}
BENCHMARK(BM_JsonDocumentOnly_InventoryBody)->Unit(benchmark::kMillisecond);

// The general reader without freeing the values: the share of the time that is the tree's
// teardown.
void BM_JsonParseKeepingValues_InventoryBody(benchmark::State& state) {
    const std::string& body = inventoryBody();
    std::vector<std::optional<KVJson>> kept;
    for (auto _ : state) {
        kept.push_back(KVJsonParse(body));
        if (!kept.back()) {
            state.SkipWithError("the body did not read");
        }
        if (kept.size() == 4) {
            state.PauseTiming();
            kept.clear();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_JsonParseKeepingValues_InventoryBody)->Unit(benchmark::kMillisecond);

// The filtered reader taking what the inventory decoder reads of the same body.
void BM_JsonParseFiltered_InventoryBody(benchmark::State& state) {
    const std::string& body = inventoryBody();
    const KVJsonMemberFilter keep = [](int depth, const std::string& key) {
        return depth == 1   ? key == "InventoryInfo"
               : depth == 2 ? key == "Gems" || key == "Gold" || key == "Boosters"
                            : true;
    };
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVJsonParseFiltered(body, keep));
    }
}
BENCHMARK(BM_JsonParseFiltered_InventoryBody)->Unit(benchmark::kMillisecond);

// 600 KB of `{},`: the shape that was quadratic under the old nesting guard.
void BM_JsonParse_SmallObjects600KB(benchmark::State& state) {
    std::string text = "[";
    while (text.size() < 600000) {
        text += "{},";
    }
    text += "{}]";
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVJsonParse(text));
    }
}
BENCHMARK(BM_JsonParse_SmallObjects600KB)->Unit(benchmark::kMillisecond);

// A settings file of `[{},{},…]` as large as the reader takes: read or refused, but quickly.
void BM_ConfigOfEmptyObjectsAtReadCap(benchmark::State& state) {
    const std::string path = "/tmp/kv_json_bench_" + std::to_string(::getpid()) + ".json";
    {
        std::string text = "[";
        text.reserve(KVConfig::kMaxJSONFileBytes);
        while (text.size() + 4 < KVConfig::kMaxJSONFileBytes) {
            text += "{},";
        }
        text += "{}]";
        KVWriteFileAtomically(path, text);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVConfig::readJSON(path));
    }
    std::remove(path.c_str());
    state.counters["MiB"] = static_cast<double>(KVConfig::kMaxJSONFileBytes >> 20);
}
BENCHMARK(BM_ConfigOfEmptyObjectsAtReadCap)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
