// From strong vertical edges to readings: candidate widths, chains of evenly spaced left edges,
// the widths a chain shows itself, and the choice among all readings.
#include "vision/slot_reader.hpp"

#include "vision/slot_geometry.hpp"

#include <algorithm>

namespace kv_slots {

std::vector<KVSlotBlock> SlotReader::detect(const KVImage& image) {
    if (n_ < 40) {
        return {};
    }
    if (!computeEdges()) {
        return {};
    }
    const std::vector<int> peaksA = KVSlotGeometry::peaks(profile_, percentile88(profile_));
    debug_.say("[vision] work=%dx%d region=%d peaks=%d\n", kWorkWidth, h_, n_,
               static_cast<int>(peaksA.size()));
    if (peaksA.size() < 2) {
        return {};
    }
    // The top part alone: a short pack's edges are not drowned by what lies below it.
    const int topRows = static_cast<int>(0.4 * n_);
    std::vector<float> topProfile(kGradientColumns);
    const int32_t* topSums = gxColumnSums_.data() + static_cast<size_t>(topRows) * kGradientColumns;
    for (int x = 0; x < kGradientColumns; ++x) {
        topProfile[x] = static_cast<float>(topSums[x]) / static_cast<float>(topRows);
    }
    const std::vector<int> peaksB = KVSlotGeometry::peaks(topProfile, percentile88(topProfile));

    std::vector<int> widths = KVSlotGeometry::candidateWidths(peaksA);
    for (const int width : KVSlotGeometry::candidateWidths(peaksB)) {
        if (widths.size() >= kMaxWidthCandidates) {
            break;
        }
        if (std::find(widths.begin(), widths.end(), width) == widths.end()) {
            widths.push_back(width);
        }
    }
    if (debug_.enabled()) {
        debug_.say("[vision] width candidates (%d):", static_cast<int>(widths.size()));
        for (const int width : widths) {
            debug_.say(" %d", width);
        }
        debug_.say("  (lo=%d hi=%d)\n", kMinWidth, kMaxWidth);
    }
    if (widths.empty()) {
        return {};
    }

    std::vector<Reading> readings; // best first
    std::optional<Reading> best;
    // Between cards with a wide gap, the pitch and its multiples outvote the card's own width
    // among the pair distances: a chain whose pitch is below the width it was found for tells
    // the card's width itself. Those widths are read after the listed ones.
    struct OwnWidth {
        int width;
        Chain chain;       // the chain that showed it
        bool pitchAsWidth; // that chain's pitch was read as the card's width
    };
    std::vector<OwnWidth> ownWidths;
    const auto read = [&](int width, const Chain& chain, int index) {
        std::optional<Reading> reading = readCards(width, chain);
        if (reading) {
            debug_.say("[vision] cardW=%d chain=%d len=%d -> READ margin=%.3f\n", width, index,
                       static_cast<int>(chain.positions.size()), reading->margin);
        } else {
            debug_.say("[vision] cardW=%d chain=%d len=%d -> no\n", width, index,
                       static_cast<int>(chain.positions.size()));
        }
        if (reading && (!best || reading->margin > best->margin)) {
            best = std::move(reading);
        }
    };
    const auto readWidth = [&](int width, bool listed) {
        const std::vector<Chain> chains = chainsFor(width, peaksA);
        for (size_t index = 0; index < chains.size(); ++index) {
            read(width, chains[index], static_cast<int>(index));
            const int pitch = chainPitch(chains[index].positions);
            // A pitch about equal to the width may be that width's own source: the pitch
            // outvoted the card's width. Its widths come after those of shorter pitches.
            if (!listed || pitch > width + std::max(2, width / 12)) {
                continue;
            }
            for (const int own : chainCardWidths(chains[index].positions, pitch)) {
                const bool known =
                    std::any_of(ownWidths.begin(), ownWidths.end(), [&](const OwnWidth& other) {
                        return other.width == own &&
                               other.chain.positions == chains[index].positions;
                    });
                if (!known && std::find(widths.begin(), widths.end(), own) == widths.end()) {
                    ownWidths.push_back({own, chains[index], pitch >= width});
                }
            }
        }
    };
    if (expected_ <= kMaxExpected) { // no block of more cards is read at any width
        for (const int width : widths) {
            readWidth(width, true);
        }
        std::optional<Reading> listed = std::move(best);
        best.reset();
        // Each width on the chains that its own pairs of edges make; and, when the listed widths
        // read nothing, on the chain that showed it, whose positions need not be left edges the
        // width pairs with a right edge (small cards' frame and outer edges merge unevenly).
        std::stable_partition(ownWidths.begin(), ownWidths.end(),
                              [](const OwnWidth& own) { return !own.pitchAsWidth; });
        std::vector<int> tried;
        for (const OwnWidth& own : ownWidths) {
            if (tried.size() >= kMaxOwnWidths) {
                break;
            }
            debug_.say("[vision] a chain's own card width %d\n", own.width);
            if (!listed && !own.pitchAsWidth) {
                read(own.width, own.chain, -1);
            }
            if (std::find(tried.begin(), tried.end(), own.width) == tried.end()) {
                tried.push_back(own.width);
                readWidth(own.width, false);
            }
        }
        // A width read off one chain goes before the listed widths' reading only when its block
        // stands out clearly more: on equal margins the listed width is the safer reading. The
        // listed one stays behind it, for when the cards' borders do not confirm it.
        if (best && (!listed || best->margin > listed->margin + kOwnWidthMarginLead)) {
            best->widthFromChain = true;
            readings.push_back(std::move(*best));
        }
        if (listed) {
            readings.push_back(std::move(*listed));
        }
    }
    const double sx = image.width / static_cast<double>(kWorkWidth);
    const double sy = image.height / static_cast<double>(h_);
    std::vector<KVSlotBlock> blocks;
    for (const Reading& reading : readings) {
        KVSlotBlock& block = blocks.emplace_back();
        block.cards = expected_;
        for (const int left : reading.lefts) {
            block.lefts.push_back(left * sx);
        }
        for (const int top : reading.tops) {
            block.tops.push_back((top + top_) * sy);
        }
        block.cardWidth = reading.cardWidth * sx;
        block.cardHeight = reading.cardHeight * sy;
        block.widthFromChain = reading.widthFromChain;
    }
    return blocks;
}

// Runs of card left edges spaced by one column pitch: the three longest (strongest on equal
// length) of all chains that pairs of left edges start.
std::vector<Chain> SlotReader::chainsFor(int width, const std::vector<int>& peaks) const {
    const int tol = std::max(2, width / 12);
    // The peak nearest to `target` within tol (the earlier one on equal distance), or -1.
    const auto nearest = [tol](const std::vector<int>& sorted, int target) {
        const auto above = std::lower_bound(sorted.begin(), sorted.end(), target);
        int found = -1;
        int distance = tol + 1;
        if (above != sorted.begin() && target - *(above - 1) <= tol) {
            found = *(above - 1);
            distance = target - found;
        }
        if (above != sorted.end() && *above - target <= tol && *above - target < distance) {
            found = *above;
        }
        return found;
    };
    // Left edges: peaks with another peak one card width to their right.
    std::vector<int> lefts;
    for (const int p : peaks) {
        if (nearest(peaks, p + width) >= 0) {
            lefts.push_back(p);
        }
    }
    std::vector<Chain> table;
    if (lefts.size() < 2) {
        return table;
    }
    const double maxPitch = kMaxColumnPitch * width;
    for (size_t i = 0; i < lefts.size(); ++i) {
        for (size_t j = i + 1; j < lefts.size(); ++j) {
            const int pitch = lefts[j] - lefts[i];
            if (pitch > maxPitch) {
                break;
            }
            if (pitch < width) {
                continue;
            }
            Chain chain;
            chain.positions = {lefts[i], lefts[j]};
            while (chain.positions.size() < kMaxChainLength) {
                const int next = nearest(lefts, chain.positions.back() + pitch);
                if (next < 0) {
                    break;
                }
                chain.positions.push_back(next);
            }
            if (std::any_of(table.begin(), table.end(), [&chain](const Chain& other) {
                    return other.positions == chain.positions;
                })) {
                continue;
            }
            double sum = 0;
            for (const int position : chain.positions) {
                sum += profile_[position];
            }
            chain.score = sum / static_cast<double>(chain.positions.size());
            if (table.size() < kMaxChains) {
                table.push_back(std::move(chain));
                continue;
            }
            auto weakest = table.begin();
            for (auto it = table.begin() + 1; it != table.end(); ++it) {
                if (it->positions.size() < weakest->positions.size() ||
                    (it->positions.size() == weakest->positions.size() &&
                     it->score < weakest->score)) {
                    weakest = it;
                }
            }
            if (chain.positions.size() > weakest->positions.size() ||
                (chain.positions.size() == weakest->positions.size() &&
                 chain.score > weakest->score)) {
                *weakest = std::move(chain);
            }
        }
    }
    return table;
}

// The median distance between a chain's neighbouring positions, rounded.
int SlotReader::chainPitch(const std::vector<int>& positions) {
    std::vector<int> steps;
    for (size_t i = 1; i < positions.size(); ++i) {
        steps.push_back(positions[i] - positions[i - 1]);
    }
    std::sort(steps.begin(), steps.end());
    const size_t middle = steps.size() / 2;
    const double median =
        steps.size() % 2 == 1 ? steps[middle] : (steps[middle - 1] + steps[middle]) / 2.0;
    return roundHalfAway(median);
}

// The card widths that a chain at `pitch` may show: the distances, at most the widest gap short
// of the pitch, at which the edges to the right of every position respond most, strongest first.
// A chain's positions need not be the cards' left edges (the frame and the art outline each make
// a chain of their own), so a few are tried. Only local peaks of the response count, and none
// within the chain's tolerance of the pitch: there the response climbs the next card's edge.
std::vector<int> SlotReader::chainCardWidths(const std::vector<int>& positions, int pitch) const {
    constexpr size_t kWidthsPerChain = 3;
    const auto response = [&](int width) {
        return KVSlotGeometry::response(profile_, positions, width);
    };
    std::vector<std::pair<double, int>> found;
    const int below = pitch - std::max(2, pitch / 12);
    for (int width = std::max(kMinWidth, static_cast<int>(std::ceil(pitch / kMaxColumnPitch)));
         width < below; ++width) {
        const double sum = response(width);
        if (sum > 0 && sum > response(width - 1) && sum >= response(width + 1)) {
            found.emplace_back(sum, width);
        }
    }
    std::sort(found.begin(), found.end(), std::greater<>());
    std::vector<int> widths;
    for (size_t i = 0; i < found.size() && i < kWidthsPerChain; ++i) {
        widths.push_back(found[i].second);
    }
    return widths;
}

} // namespace kv_slots
