#pragma once

#include "base/json.hpp"
#include "server/card_index.hpp"

#include <cstdint>
#include <string>
#include <vector>

// One earlier pack as the desktop program reports it.
struct KVSSeenPack {
    int64_t pack = 0;
    int64_t pick = 0;
    std::vector<std::string> names;
};

// What an analysis is asked about.
struct KVSDraftState {
    std::vector<std::string> pack;
    std::vector<std::string> pool;
    std::vector<KVSSeenPack> seen;
    int64_t packNumber = 1;
    int64_t pickNumber = 1;
    int64_t picks = 1; // cards to take from this pack
    std::string format;

    // Reads a request body; missing or mistyped members take their defaults, and the lists
    // are capped so a hostile body costs little.
    static KVSDraftState fromJSON(const KVJson& body);
};

// Grades a pack against the pool and the table: deterministic, the same state always gets
// the same answer. The answer holds every analysis key but "credits".
KVJson KVSAnalyzePack(const KVSCardIndex& cards, const KVSDraftState& state);
