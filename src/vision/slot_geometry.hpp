#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The small geometric steps of slot detection, each testable on its own. All positions are
// columns or rows of the detector's working image.
struct KVSlotGeometry {
    // Linear interpolation between order statistics: p (0…100) of the way through the values
    // sorted ascending. 0 for no values.
    static float percentile(std::span<const float> values, double p);

    // The same for values that are whole numbers 0…255, counted in `histogram` (256 bins): the
    // exact result without sorting.
    static float percentileOfCounts(std::span<const uint32_t, 256> histogram, double p);

    // The strongest positions of a profile at or above `threshold`, each at least 3 from every
    // stronger one taken before it; at most 512, ascending.
    static std::vector<int> peaks(std::span<const float> profile, float threshold);

    // Card widths that the spacing of ascending edge positions suggests: the most frequent
    // pair distances from 43 to 172, in bins of two, as odd widths 2·bin + 1; at most 6, most
    // frequent first.
    static std::vector<int> candidateWidths(std::span<const int> positions);

    struct Block {
        double margin = 0; // weakest card cell minus the strongest cell around the block
        int start = 0;     // first grid column
        int width = 0;     // cards per row
    };
    // Where a pack of `expected` cards sits in a grid of cell scores (rows × cols, row-major):
    // a block from grid row 0, filled row by row, whose cells all score high and clearly above
    // every cell around it. The block with the greatest margin, or none.
    static std::optional<Block> fitBlock(std::span<const double> scores, int rows, int cols,
                                         int64_t expected);

    // The profile summed at every offset + shift that lies inside it.
    static double response(std::span<const float> profile, std::span<const int> offsets, int shift);

    // The shift t in lo…hi at which the profile, read at every offset + t, responds most; then,
    // when step is ±1, slid further in that direction while the response stays at 45 % of the
    // best or more. lo when hi < lo.
    static int snap(std::span<const float> profile, std::span<const int> offsets, int lo, int hi,
                    int step);
};
