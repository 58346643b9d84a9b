#pragma once

#include "server/card_index.hpp"

#include <array>
#include <string>
#include <vector>

// Which colours the pool is heading into.
struct KVSLane {
    std::array<double, 5> weight{}; // per colour of "WUBRG": how much good stuff the pool holds
    std::vector<char> colors; // the lane's one or two colours, strongest first ("" while open)
    std::string commitment;   // "open", "leaning" or "committed"

    static KVSLane of(const std::vector<const KVSCardFacts*>& pool);

    // How much a card's score drops for lying outside the lane: 0 while open or for a card
    // the lane can cast.
    double offColorPenalty(const KVSCardFacts& card) const;
    std::string colorText() const; // "WU"
};

inline constexpr std::string_view kKVSColors = "WUBRG";
