#include "vision/slot_geometry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using G = KVSlotGeometry;

TEST(SlotGeometryTest, PercentileInterpolatesBetweenOrderStatistics) {
    EXPECT_EQ(G::percentile({}, 75.0), 0.0f);
    const std::vector<float> three{3, 1, 2};
    EXPECT_EQ(G::percentile(three, 50.0), 2.0f);
    EXPECT_EQ(G::percentile(three, 0.0), 1.0f);
    EXPECT_EQ(G::percentile(three, 100.0), 3.0f);
    // pos = 0.75 · 3 = 2.25: a quarter of the way from 30 to 40.
    const std::vector<float> four{40, 10, 30, 20};
    EXPECT_FLOAT_EQ(G::percentile(four, 75.0), 32.5f);
    const std::vector<float> one{7};
    EXPECT_EQ(G::percentile(one, 95.0), 7.0f);
    // Duplicates around the cut: the next order statistic is the next value in sorted order,
    // not the next distinct one.
    const std::vector<float> repeated{5, 5, 5, 9};
    EXPECT_FLOAT_EQ(G::percentile(repeated, 50.0), 5.0f);
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

TEST(SlotGeometryTest, PeaksTakeStrongestPositionsAtLeastThreeApart) {
    std::vector<float> profile(959, 0.0f);
    profile[10] = 5;
    profile[12] = 4; // within 2 of the stronger 13: passed over
    profile[13] = 6;
    profile[20] = 3; // equal to the threshold: taken
    profile[30] = 3;
    profile[40] = 2.9f;
    EXPECT_EQ(G::peaks(profile, 3.0f), (std::vector<int>{10, 13, 20, 30}));

    // Equal values are walked in ascending position: 48 wins over 50.
    std::vector<float> ties(959, 0.0f);
    ties[50] = 7;
    ties[48] = 7;
    ties[51] = 7; // 3 from 48: taken
    EXPECT_EQ(G::peaks(ties, 1.0f), (std::vector<int>{48, 51}));

    // Nothing reaches the threshold.
    EXPECT_TRUE(G::peaks(profile, 100.0f).empty());
}

TEST(SlotGeometryTest, CandidateWidthsComeFromPairDistancesInBinsOfTwo) {
    // Two peaks 43 apart count toward width 43, 42 apart toward none.
    EXPECT_EQ(G::candidateWidths(std::vector<int>{0, 43}), (std::vector<int>{43}));
    EXPECT_TRUE(G::candidateWidths(std::vector<int>{0, 42}).empty());
    // 172 is the longest distance counted, 173 is not (bin 86 → width 173).
    EXPECT_EQ(G::candidateWidths(std::vector<int>{0, 172}), (std::vector<int>{173}));
    EXPECT_TRUE(G::candidateWidths(std::vector<int>{0, 173}).empty());
    // 44 and 45 share bin 22.
    EXPECT_EQ(G::candidateWidths(std::vector<int>{0, 44, 89}), (std::vector<int>{45, 89}));

    // Distances 60 ×3 (bin 30), 120 ×2 (bin 60), 130 (bin 65), 70 (bin 35): most frequent
    // first, the lower bin first among equal counts.
    EXPECT_EQ(G::candidateWidths(std::vector<int>{0, 60, 120, 180, 250}),
              (std::vector<int>{61, 121, 71, 131}));

    // Never more than six, all odd.
    std::vector<int> many;
    for (int p = 0; p < 900; p += 7 + (p % 5)) {
        many.push_back(p);
    }
    const std::vector<int> widths = G::candidateWidths(many);
    EXPECT_EQ(widths.size(), 6u);
    for (const int width : widths) {
        EXPECT_EQ(width % 2, 1);
        EXPECT_GE(width, 43);
        EXPECT_LE(width, 173);
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

TEST(SlotGeometryTest, SnapFindsTheStrongestShiftThenSlides) {
    std::vector<float> profile(100, 0.0f);
    profile[10] = 5;
    profile[30] = 5;
    const std::vector<int> offsets{0, 20};
    EXPECT_EQ(G::snap(profile, offsets, 5, 15, 0), 10);
    // hi < lo answers lo without looking.
    EXPECT_EQ(G::snap(profile, offsets, 7, 6, 0), 7);

    // Sliding left while the response stays at 45 % of the best (10): 6 at shift 9 keeps it,
    // 4 at shift 8 stops it.
    profile[9] = 3;
    profile[29] = 3;
    profile[8] = 2;
    profile[28] = 2;
    EXPECT_EQ(G::snap(profile, offsets, 5, 15, -1), 9);
    // Sliding right finds nothing strong enough and stays at the best, never below it.
    EXPECT_EQ(G::snap(profile, offsets, 5, 15, +1), 10);
    // The slide stops at the end of the range.
    profile[11] = 5;
    profile[31] = 5;
    profile[12] = 5;
    profile[32] = 5;
    EXPECT_EQ(G::snap(profile, offsets, 5, 11, +1), 11);

    // Offsets shifted off the profile add nothing rather than reading outside it.
    std::vector<float> edge(50, 0.0f);
    edge[0] = 1;
    edge[49] = 4;
    EXPECT_EQ(G::snap(edge, std::vector<int>{0, 49}, -3, 3, 0), 0);
    EXPECT_EQ(G::snap(edge, std::vector<int>{45}, -3, 6, 0), 4);

    // Equal sums: the lowest shift.
    std::vector<float> flat(20, 1.0f);
    EXPECT_EQ(G::snap(flat, std::vector<int>{5}, -2, 2, 0), -2);
}

} // namespace
