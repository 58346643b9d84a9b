#pragma once

#include "base/json.hpp"
#include "server/card_index.hpp"

#include <string>
#include <vector>

// Builds a 40-card deck from a finished pool: the two colours with the deepest playables, 23
// spells on a curve (splashing the best of the rest when the two fall short), and 17 basics
// split by the coloured mana symbols of the spells. Deterministic. The answer holds "colors",
// "spells", "lands", "reasoning" and "howToPlay".
class KVSDeckBuilder {
public:
    static constexpr size_t kSpells = 23;
    static constexpr int kLands = 17;

    explicit KVSDeckBuilder(const KVSCardIndex& cards) : cards_(cards) {}

    KVJson build(const std::vector<std::string>& pool) const;

    // Splits `total` in proportion to `weights` so the parts sum to `total` exactly: whole
    // parts first, then the largest remainders (ties to the earlier entry).
    static std::vector<int> largestRemainder(const std::vector<double>& weights, int total);

private:
    const KVSCardIndex& cards_;
};
