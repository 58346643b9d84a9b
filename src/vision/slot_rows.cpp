// The rows of cards along one chain's lanes, and the reading of a chain at one width: its pitch,
// the bands of its rows and the grid laid over them.
#include "vision/slot_reader.hpp"

#include "vision/slot_geometry.hpp"

#include <algorithm>

namespace kv_slots {

// Rows of cards: runs of rows where the chain's lanes (its left and right card edges) respond
// strongly, joined across small gaps.
std::vector<Band> SlotReader::rowBands(int width, double idealH,
                                       const std::vector<int>& chain) const {
    std::vector<bool> laneColumns(kGradientColumns, false);
    int lanes = 0;
    const auto addLane = [&](int lane) {
        if (lane >= kGradientColumns) {
            return;
        }
        ++lanes;
        for (int x = std::max(0, lane - 1); x <= std::min(kGradientColumns - 1, lane + 1); ++x) {
            laneColumns[x] = true;
        }
    };
    for (const int u : chain) {
        addLane(u);
        addLane(u + width);
    }
    if (lanes < 2) {
        debug_.say("[vision]   readCards: lanes %d\n", lanes);
        return {};
    }
    std::vector<int> columns;
    for (int x = 0; x < kGradientColumns; ++x) {
        if (laneColumns[x]) {
            columns.push_back(x);
        }
    }
    // Running sums of the per-row lane response, for the moving window.
    std::vector<int64_t> running(static_cast<size_t>(n_) + 1, 0);
    for (int r = 0; r < n_; ++r) {
        int strongest = 0;
        for (const int x : columns) {
            strongest = std::max(strongest, static_cast<int>(gx(r, x)));
        }
        running[r + 1] = running[r] + strongest;
    }
    const int window = std::max(3, static_cast<int>(idealH) / 24);
    const int half = window / 2 + 1;
    std::vector<float> smooth(static_cast<size_t>(n_));
    for (int r = 0; r < n_; ++r) {
        const int from = std::clamp(r + half - window, 0, n_);
        const int to = std::clamp(r + half, 0, n_);
        smooth[r] = static_cast<float>(running[to] - running[from]) / static_cast<float>(window);
    }
    const float threshold = KVSlotGeometry::percentile(smooth, 95.0) * 0.35f;
    if (threshold <= 0) {
        return {};
    }

    constexpr size_t kMaxBands = 64;
    const int minHeight = static_cast<int>(0.35 * idealH);
    std::vector<Band> runs;
    for (int r = 0; r < n_ && runs.size() < kMaxBands;) {
        if (smooth[r] < threshold) {
            ++r;
            continue;
        }
        int end = r;
        while (end < n_ && smooth[end] >= threshold) {
            ++end;
        }
        if (end - r >= minHeight) {
            runs.push_back({r, end});
        }
        r = end;
    }
    const int cardRows = static_cast<int>(idealH);
    const int gapTolerance = std::max(2, static_cast<int>(cardRows * 0.1));
    const double maxJoined = cardRows * 1.35;
    std::vector<Band> bands;
    for (const Band& run : runs) {
        if (!bands.empty() && run.start - bands.back().end <= gapTolerance &&
            run.end - bands.back().start <= maxJoined) {
            bands.back().end = run.end;
        } else {
            bands.push_back(run);
        }
    }
    if (bands.empty()) {
        debug_.say("[vision]   readCards: no row bands\n");
    }
    return bands;
}

std::optional<Reading> SlotReader::readCards(int width, const Chain& chain) const {
    const std::vector<int>& positions = chain.positions;
    const double idealH = width * kCardAspect;
    if (idealH < 0.11 * h_ || idealH > 0.38 * h_) {
        debug_.say("[vision]   readCards: idealH %.1f outside [%.1f,%.1f]\n", idealH, 0.11 * h_,
                   0.38 * h_);
        return std::nullopt;
    }
    if (idealH >= n_) {
        debug_.say("[vision]   readCards: idealH %.1f >= region %d\n", idealH, n_);
        return std::nullopt;
    }
    const int colPitch = chainPitch(positions);
    if (colPitch < width) {
        debug_.say("[vision]   readCards: colPitch %d < cardW %d\n", colPitch, width);
        return std::nullopt;
    }
    if (positions.front() > kFirstColumnLimit) {
        debug_.say("[vision]   readCards: first column %d right of %.0f\n", positions.front(),
                   static_cast<double>(kFirstColumnLimit));
        return std::nullopt;
    }

    const std::vector<Band> bands = rowBands(width, idealH, positions);
    if (bands.empty()) {
        return std::nullopt;
    }
    if (debug_.enabled()) {
        debug_.say("[vision]   readCards: cardW=%d idealH=%.1f lefts[0]=%d pitch=%d bands=%d:",
                   width, idealH, positions.front(), colPitch, static_cast<int>(bands.size()));
        for (const Band& band : bands) {
            debug_.say(" [%d..%d]", band.start, band.end);
        }
        debug_.say("  (region rows 0..%d)\n", n_);
    }
    if (bands.front().start + top_ > 0.25 * h_) {
        debug_.say("[vision]   readCards: first band at %d, past PACK_TOP %.0f (bands=%d)\n",
                   bands.front().start + top_, 0.25 * h_, static_cast<int>(bands.size()));
        return std::nullopt;
    }

    const std::optional<GridFit> fit = fitGrid(width, idealH, colPitch, positions, bands);
    if (!fit) {
        return std::nullopt;
    }
    return refine(*fit, width, colPitch);
}

} // namespace kv_slots
