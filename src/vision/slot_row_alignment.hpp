#pragma once

// Placing a row of cards by what is printed on them (internal to the block refinement).

#include "base/image.hpp"
#include "vision/slot_refinement.hpp"

#include <optional>

namespace kv_slots {

// How far below row `reference` the cards of row `row` really sit, in pixels. A lower row's
// top may lie in the shadow of the row above, where no border step shows; but every card
// carries the same frame lines (title bar, art box, type line, text box) at the same heights,
// so the two rows' gray profiles, pooled over the block columns both rows fill, agree best at
// the rows' true distance. Searched within `maxShift` of the distance `block` gives. None when
// the rows share no column or no clear best offset stands out.
std::optional<double> rowDistanceByContent(const KVImage& image, const KVSlotBlock& block,
                                           int reference, int row, double maxShift);

} // namespace kv_slots
