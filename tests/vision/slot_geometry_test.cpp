#include "vision/slot_geometry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using G = KVSlotGeometry;

// The steps between (peaks, card widths, snapping) are judged by the screens they read, in
// slot_detection_screens_test; here the statistics and the block fit whose rules decide a pack.

TEST(SlotGeometryTest, PercentileInterpolatesBetweenOrderStatistics) {
    using V = std::vector<float>;
    EXPECT_EQ(G::percentile({}, 75.0), 0.0f);
    EXPECT_EQ(G::percentile(V{3, 1, 2}, 50.0), 2.0f);
    EXPECT_EQ(G::percentile(V{3, 1, 2}, 0.0), 1.0f);
    EXPECT_EQ(G::percentile(V{3, 1, 2}, 100.0), 3.0f);
    // pos = 0.75 · 3 = 2.25: a quarter of the way from 30 to 40.
    EXPECT_FLOAT_EQ(G::percentile(V{40, 10, 30, 20}, 75.0), 32.5f);
    EXPECT_EQ(G::percentile(V{7}, 95.0), 7.0f);
    // Duplicates around the cut: the next order statistic is the next value in sorted order,
    // not the next distinct one.
    EXPECT_FLOAT_EQ(G::percentile(V{5, 5, 5, 9}, 50.0), 5.0f);
}

TEST(SlotGeometryTest, PercentileOfCountsMatchesSortedValues) {
    std::array<uint32_t, 256> none{};
    EXPECT_EQ(G::percentileOfCounts(none, 75.0), 0.0f);

    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        const size_t count = 1 + rng() % 3000;
        std::vector<float> values(count);
        std::array<uint32_t, 256> histogram{};
        for (float& value : values) {
            // Mostly small gradients with a tail, as in a screenshot.
            const uint32_t v = (rng() % 4 == 0) ? rng() % 256 : rng() % 12;
            value = static_cast<float>(v);
            ++histogram[v];
        }
        for (const double p : {0.0, 50.0, 75.0, 95.0, 100.0}) {
            EXPECT_EQ(G::percentileOfCounts(histogram, p), G::percentile(values, p))
                << "count " << count << " p " << p;
        }
    }
}

// A rows × cols grid of `background` with `value` in the given cells.
struct Grid {
    int rows;
    int cols;
    std::vector<double> scores;
    Grid(int r, int c, double background)
        : rows(r), cols(c), scores(static_cast<size_t>(r) * static_cast<size_t>(c), background) {}
    void set(int row, int col, double value) { scores[row * cols + col] = value; }
    void fill(int row, int fromCol, int toCol, double value) {
        for (int col = fromCol; col < toCol; ++col) {
            set(row, col, value);
        }
    }
};

TEST(SlotGeometryTest, FitBlockFindsThePackAndItsMargin) {
    // 15 cards as 8 + 7 starting at grid column 1.
    Grid grid(3, 10, 0.1);
    grid.fill(0, 1, 9, 1.0);
    grid.fill(1, 1, 8, 0.95);
    const auto block = G::fitBlock(grid.scores, grid.rows, grid.cols, 15);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->start, 1);
    EXPECT_EQ(block->width, 8);
    EXPECT_DOUBLE_EQ(block->margin, 0.95 - 0.1);

    // The empty cell of the short last row counts against the block: when it looks like a card,
    // the pack is not 8 + 7 there.
    grid.set(1, 8, 0.9);
    EXPECT_FALSE(G::fitBlock(grid.scores, grid.rows, grid.cols, 15));

    // A grid exactly the size of the pack: nothing around it, the margin is the weakest card.
    Grid exact(2, 8, 0.9);
    const auto whole = G::fitBlock(exact.scores, 2, 8, 16);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->start, 0);
    EXPECT_EQ(whole->width, 8);
    EXPECT_DOUBLE_EQ(whole->margin, 0.9);

    // Two identical packs of 4 side by side in a row of 11 cells: the first wins.
    Grid twins(1, 11, 0.0);
    twins.fill(0, 1, 5, 1.0);
    twins.fill(0, 6, 10, 1.0);
    const auto first = G::fitBlock(twins.scores, 1, 11, 4);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->start, 1);
    EXPECT_EQ(first->width, 4);
}

TEST(SlotGeometryTest, FitBlockRejectsWeakOrUnclearBlocks) {
    // Inside below 0.8.
    Grid weak(2, 8, 0.0);
    weak.fill(0, 0, 8, 0.79);
    weak.fill(1, 0, 7, 0.79);
    EXPECT_FALSE(G::fitBlock(weak.scores, 2, 8, 15));

    // Inside 0.9 but a cell beside it at 0.75: 0.9 < 1.25 · 0.75.
    Grid unclear(2, 9, 0.0);
    unclear.fill(0, 0, 8, 0.9);
    unclear.fill(1, 0, 7, 0.9);
    unclear.set(0, 8, 0.75);
    EXPECT_FALSE(G::fitBlock(unclear.scores, 2, 9, 15));

    // Fifteen cards never stand in five rows: three columns of five rows are not tried.
    Grid tall(5, 3, 1.0);
    EXPECT_FALSE(G::fitBlock(tall.scores, 5, 3, 15));
    // Nor fit a grid too small for them.
    Grid small(2, 4, 1.0);
    EXPECT_FALSE(G::fitBlock(small.scores, 2, 4, 15));
}

} // namespace
