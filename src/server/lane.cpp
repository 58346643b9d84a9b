#include "server/lane.hpp"

#include <algorithm>
#include <numeric>

namespace {

constexpr size_t kLeaningPool = 5;    // picks before the pool says anything
constexpr size_t kCommittedPool = 12; // picks after which the lane is firm

} // namespace

KVSLane KVSLane::of(const std::vector<const KVSCardFacts*>& pool) {
    KVSLane lane;
    lane.commitment = "open";
    for (const auto& card : pool) {
        if (!card || card->colors.empty()) {
            continue;
        }
        // Gold cards pull less on each colour than a mono-coloured card of the same strength.
        const double pull =
            std::max(0.0, card->quality - 1.5) / static_cast<double>(card->colors.size());
        for (const char color : card->colors) {
            lane.weight[kKVSColors.find(color)] += pull;
        }
    }
    std::array<size_t, 5> order{0, 1, 2, 3, 4};
    std::stable_sort(order.begin(), order.end(),
                     [&lane](size_t a, size_t b) { return lane.weight[a] > lane.weight[b]; });
    const double total = std::accumulate(lane.weight.begin(), lane.weight.end(), 0.0);
    const double topTwo = lane.weight[order[0]] + lane.weight[order[1]];
    if (pool.size() < kLeaningPool || total <= 0) {
        return lane;
    }
    const double share = topTwo / total;
    if (pool.size() >= kCommittedPool && share >= 0.7) {
        lane.commitment = "committed";
    } else if (share >= 0.55) {
        lane.commitment = "leaning";
    } else {
        return lane;
    }
    lane.colors.push_back(kKVSColors[order[0]]);
    if (lane.weight[order[1]] > 0) {
        lane.colors.push_back(kKVSColors[order[1]]);
    }
    return lane;
}

double KVSLane::offColorPenalty(const KVSCardFacts& card) const {
    if (colors.empty() || card.colors.empty()) {
        return 0;
    }
    const auto outside = std::count_if(card.colors.begin(), card.colors.end(), [this](char c) {
        return std::find(colors.begin(), colors.end(), c) == colors.end();
    });
    if (outside == 0) {
        return 0;
    }
    const double full = commitment == "committed" ? 1.2 : 0.5;
    // A gold card half in the lane is a splash, not a switch.
    return outside == static_cast<long>(card.colors.size()) ? full : full / 2;
}

std::string KVSLane::colorText() const {
    return {colors.begin(), colors.end()};
}
