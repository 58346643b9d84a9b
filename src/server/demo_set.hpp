#pragma once

#include "base/json.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// "KVD", the offline demo set: 120 made-up cards in Scryfall's shape, each with an Arena id
// and its own generated art, so the whole program can be tried without Arena's real sets or
// the network.
class KVSDemoSet {
public:
    static constexpr const char* kCode = "kvd";
    static constexpr int64_t kFirstArenaId = 990001;
    static constexpr int kSize = 120;
    static constexpr const char* kDemoEmail = "demo@korvane.local";
    static constexpr const char* kDemoPassword = "korvane-demo";

    // The cards; image addresses start with `base` (the service's own "/scryfall" address).
    static std::vector<KVJson> cards(const std::string& base);
    // The card with this Arena id's index in cards(), or -1.
    static int indexOfArenaId(int64_t arenaId);
    // Whether a Scryfall search query asks for this set: one of its terms is "e:kvd", in any
    // case ("e:kvdx" is another set).
    static bool isAskedFor(std::string_view query);
};
