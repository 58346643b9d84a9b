#pragma once

// Reading the cards' black border around a block of cards (internal to the block refinement).

#include "vision/slot_side_samples.hpp"

#include <initializer_list>
#include <optional>
#include <vector>

namespace kv_slots {

// Card borders are a few hundredths of the card's width; a wider "border" is something else.
constexpr double kMaxBorder = 0.08;

// One side of a column or row of cards, read outward: where the frame drops into the border
// (the inner edge), the border's gray level, and how far the values depart from that level at
// each offset past it.
struct SideReading {
    double inner = 0;         // outward offset of the frame-to-border drop from the found edge
    int band = 0;             // first offset read as border
    std::vector<double> away; // away[u - band]: mean distance from the border's level at u
};

// Outward from the found edge come, in order: the frame, a steep drop into the flat border, the
// border, and where the border meets whatever lies around the card. None when the drop is not
// clear (a dark frame, or no card there at all).
std::optional<SideReading> readSide(const SideSamples& s, double cardWidth);

// The border's width, from the sides given, pooled; none without a clear rise out of it.
std::optional<double> borderWidth(const std::vector<SideReading>& sides, double cardWidth);

// The border's width read two ways. `pooled`, over every side, says whether a border shows at
// all. `narrowest` is where the cards' shadows leave it clearest: a shadow darkens what lies just
// outside a card on the sides it falls to, so the border seems to reach further there, never less
// far. Of `pooled` and each kind of side's own reading (every left, every right, every top), the
// narrowest is the least shadowed. Both none without a clear border.
struct BorderReading {
    std::optional<double> pooled;
    std::optional<double> narrowest;
};
BorderReading
readBorder(std::initializer_list<const std::vector<std::optional<SideReading>>*> kinds,
           double cardWidth);

} // namespace kv_slots
