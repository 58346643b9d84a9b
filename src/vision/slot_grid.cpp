// The grid of cells laid over a band of card rows, the block of the pack in it, and its edges
// snapped to the strongest response.
#include "vision/slot_reader.hpp"

#include "vision/slot_geometry.hpp"

#include <algorithm>

namespace kv_slots {

// Lays a grid of cells over each of the first three bands and keeps the block of cards that
// stands out most clearly.
std::optional<GridFit> SlotReader::fitGrid(int width, double idealH, int colPitch,
                                           const std::vector<int>& positions,
                                           const std::vector<Band>& bands) const {
    std::optional<GridFit> fit;
    for (size_t index = 0; index < std::min<size_t>(3, bands.size()); ++index) {
        const Band& band = bands[index];
        const int bandHeight = band.end - band.start;
        if (bandHeight < 0.82 * idealH || bandHeight > 1.18 * idealH) {
            continue;
        }
        int rowPitch = roundHalfAway(bandHeight * 1.1);
        if (index + 1 < bands.size()) {
            const Band& next = bands[index + 1];
            // Bands measure a little less than the cards (about 0.92 of them: their edges
            // respond only where the lanes cross them), so the widest row spacing is judged
            // against the card height the band implies, and the one the width implies.
            if (next.start >= band.end &&
                next.start - band.start <= 1.35 * std::max(bandHeight / 0.92, idealH)) {
                rowPitch = next.start - band.start;
            }
        }
        if (bandHeight > rowPitch) {
            continue;
        }
        std::vector<int> columns;
        for (int x = positions.front() % colPitch;
             x + width <= kGradientColumns && columns.size() < 128; x += colPitch) {
            columns.push_back(x);
        }
        std::vector<int> rows;
        const int firstRow = bands.front().start - rowPitch / 4;
        for (int y = band.start % rowPitch, count = 0; y + bandHeight <= n_ && count < 64;
             y += rowPitch, ++count) {
            if (y >= firstRow && rows.size() < 16) {
                rows.push_back(y);
            }
        }
        if (columns.empty() || rows.empty() ||
            static_cast<int64_t>(columns.size() * rows.size()) < expected_) {
            continue;
        }
        std::vector<double> scores;
        scores.reserve(rows.size() * columns.size());
        for (const int y : rows) {
            for (const int x : columns) {
                scores.push_back(cellScore(x, y, width, bandHeight));
            }
        }
        const std::optional<KVSlotGeometry::Block> block = KVSlotGeometry::fitBlock(
            scores, static_cast<int>(rows.size()), static_cast<int>(columns.size()), expected_);
        if (block && (!fit || block->margin > fit->block.margin)) {
            fit = GridFit{*block, std::move(columns), std::move(rows), rowPitch, bandHeight};
        }
    }
    return fit;
}

// The block's cards, their edges snapped to where the edge response is strongest.
std::optional<Reading> SlotReader::refine(const GridFit& fit, int width, int colPitch) const {
    const int tol = std::max(2, width / 12);
    const int perRow = fit.block.width;
    const auto packRows = static_cast<size_t>((expected_ + perRow - 1) / perRow);
    Reading reading;
    reading.margin = fit.block.margin;
    reading.perRow = perRow;
    reading.lefts.assign(fit.columns.begin() + fit.block.start,
                         fit.columns.begin() + fit.block.start + perRow);
    reading.tops.assign(fit.rows.begin(),
                        fit.rows.begin() + static_cast<std::ptrdiff_t>(
                                               std::min({fit.rows.size(), packRows, size_t{8}})));
    if (reading.lefts.front() > kFirstColumnLimit) {
        return std::nullopt;
    }
    const std::vector<float> columnProfile = blockColumnProfile(
        reading.tops.front(), std::min(n_, reading.tops.back() + fit.bandHeight));
    const int leftShift = KVSlotGeometry::snap(columnProfile, reading.lefts, -tol, tol, -1);
    for (int& left : reading.lefts) {
        left += leftShift;
    }
    reading.cardWidth =
        KVSlotGeometry::snap(columnProfile, reading.lefts, width - tol, colPitch - 1, +1);
    // With a narrow gap the width may be the pitch, and the range above then holds only the
    // gap's own weak edges (a shadow, the next card's blur): a frame edge far stronger just
    // below that range is the card's.
    const int frame =
        KVSlotGeometry::snap(columnProfile, reading.lefts, width - 2 * tol, width - tol - 1, +1);
    if (KVSlotGeometry::response(columnProfile, reading.lefts, frame) >=
        2 * KVSlotGeometry::response(columnProfile, reading.lefts, reading.cardWidth)) {
        reading.cardWidth = frame;
    }
    // A group of smaller cards (a collection's 2 × 2) has nearly a card's shape and is outlined
    // by the grid's gaps, but the gap between its columns splits it down the middle as sharply as
    // its own left edges: no card's art keeps that up through every card of a block.
    double leftEdges = 0;
    for (int t = -2; t <= 2; ++t) {
        leftEdges = std::max(leftEdges, KVSlotGeometry::response(columnProfile, reading.lefts, t));
    }
    double middle = 0;
    for (int t = reading.cardWidth * 35 / 100; t <= reading.cardWidth * 65 / 100; ++t) {
        middle = std::max(middle, KVSlotGeometry::response(columnProfile, reading.lefts, t));
    }
    if (middle >= kMaxMiddleEdge * leftEdges) {
        debug_.say("[vision]   refine: split down the middle (%.2f of the left edges)\n",
                   middle / leftEdges);
        return std::nullopt;
    }
    const std::vector<float> rowProfile =
        blockRowProfile(std::max(0, reading.lefts.front()),
                        std::min(kWorkWidth, reading.lefts.back() + reading.cardWidth));
    const int topShift = KVSlotGeometry::snap(rowProfile, reading.tops, -tol, tol, -1);
    for (int& top : reading.tops) {
        top += topShift;
    }
    reading.cardHeight = std::min(fit.rowPitch, roundHalfAway(reading.cardWidth * kCardAspect));
    return reading;
}

} // namespace kv_slots
