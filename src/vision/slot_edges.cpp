// The working image's edges: gradients, edge pixels and their running counts, the column and
// row profiles of a block, and how well a cell is outlined.
#include "vision/slot_reader.hpp"

#include "vision/slot_geometry.hpp"

#include <algorithm>

namespace kv_slots {

bool SlotReader::computeEdges() {
    const auto row = [this](int r) {
        return gray_.data() + static_cast<size_t>(top_ + r) * kWorkWidth;
    };
    gx_.resize(static_cast<size_t>(n_) * kGradientColumns);
    gy_.resize(static_cast<size_t>(n_ - 1) * kWorkWidth);
    std::array<uint32_t, 256> gxCounts{};
    std::array<uint32_t, 256> gyCounts{};
    for (int r = 0; r < n_; ++r) {
        const float* g = row(r);
        uint8_t* out = gx_.data() + static_cast<size_t>(r) * kGradientColumns;
        for (int x = 0; x < kGradientColumns; ++x) {
            out[x] = static_cast<uint8_t>(std::fabs(g[x + 1] - g[x]));
            ++gxCounts[out[x]];
        }
        if (r + 1 < n_) {
            const float* below = row(r + 1);
            uint8_t* down = gy_.data() + static_cast<size_t>(r) * kWorkWidth;
            for (int x = 0; x < kWorkWidth; ++x) {
                down[x] = static_cast<uint8_t>(std::fabs(below[x] - g[x]));
                ++gyCounts[down[x]];
            }
        }
    }
    // Edge pixels: above the 75th percentile of their gradient.
    const float tx = KVSlotGeometry::percentileOfCounts(gxCounts, 75.0);
    const float ty = KVSlotGeometry::percentileOfCounts(gyCounts, 75.0);
    // A whole gradient lies above the percentile exactly when it reaches the next whole number.
    const int edgeX = static_cast<int>(tx) + 1;
    const int edgeY = static_cast<int>(ty) + 1;
    const auto strongest = [](const std::array<uint32_t, 256>& counts) {
        int value = 255;
        while (value > 0 && counts[value] == 0) {
            --value;
        }
        return value;
    };
    if (strongest(gxCounts) < edgeX && strongest(gyCounts) < edgeY) {
        return false;
    }

    a_.assign(static_cast<size_t>(n_ + 1) * kGradientColumns, 0);
    gxColumnSums_.assign(static_cast<size_t>(n_ + 1) * kGradientColumns, 0);
    for (int r = 0; r < n_; ++r) {
        const uint8_t* g = gx_.data() + static_cast<size_t>(r) * kGradientColumns;
        const int32_t* above = a_.data() + static_cast<size_t>(r) * kGradientColumns;
        int32_t* next = a_.data() + static_cast<size_t>(r + 1) * kGradientColumns;
        const int32_t* sumAbove = gxColumnSums_.data() + static_cast<size_t>(r) * kGradientColumns;
        int32_t* sumNext = gxColumnSums_.data() + static_cast<size_t>(r + 1) * kGradientColumns;
        for (int x = 0; x < kGradientColumns; ++x) {
            const bool edge = g[x] >= edgeX || (x > 0 && g[x - 1] >= edgeX) ||
                              (x + 1 < kGradientColumns && g[x + 1] >= edgeX);
            next[x] = above[x] + (edge ? 1 : 0);
            sumNext[x] = sumAbove[x] + g[x];
        }
    }

    const int gyRows = n_ - 1;
    b_.assign(static_cast<size_t>(gyRows) * (kWorkWidth + 1), 0);
    gyRowSums_.assign(static_cast<size_t>(gyRows) * (kWorkWidth + 1), 0);
    for (int r = 0; r < gyRows; ++r) {
        int32_t* counts = b_.data() + static_cast<size_t>(r) * (kWorkWidth + 1);
        int32_t* sums = gyRowSums_.data() + static_cast<size_t>(r) * (kWorkWidth + 1);
        for (int x = 0; x < kWorkWidth; ++x) {
            const bool edge = gy(r, x) >= edgeY || (r > 0 && gy(r - 1, x) >= edgeY) ||
                              (r + 1 < gyRows && gy(r + 1, x) >= edgeY);
            counts[x + 1] = counts[x] + (edge ? 1 : 0);
            sums[x + 1] = sums[x] + gy(r, x);
        }
    }

    profile_.resize(kGradientColumns);
    const int32_t* totals = gxColumnSums_.data() + static_cast<size_t>(n_) * kGradientColumns;
    for (int x = 0; x < kGradientColumns; ++x) {
        profile_[x] = static_cast<float>(static_cast<double>(totals[x]) / n_);
    }
    return true;
}

// The 88th percentile of a 959-value profile: the peaks' threshold.
float percentile88(const std::vector<float>& profile) {
    std::vector<float> sorted = profile;
    std::sort(sorted.begin(), sorted.end());
    return static_cast<float>(sorted[843] + static_cast<double>(sorted[844] - sorted[843]) * 0.04);
}

// How much of a cell's outline is covered by edge pixels: the mean over its four sides, each
// side's best line within tolE of where it should be.
double SlotReader::cellScore(int x, int y, int width, int bandHeight) const {
    const int tolE = std::max(2, width / 24);
    const int yTop = std::max(0, y + static_cast<int>(0.06 * bandHeight));
    const int yBot = std::min(n_, y + static_cast<int>(0.94 * bandHeight));
    const int xl = std::max(0, x + static_cast<int>(0.06 * width));
    const int xr = std::min(kWorkWidth, x + static_cast<int>(0.94 * width));
    if (yTop >= yBot || xl >= xr) {
        return 0;
    }
    const auto vertical = [&](int edge) {
        int most = 0;
        for (int col = std::max(0, edge - tolE); col < std::min(kGradientColumns, edge + tolE + 1);
             ++col) {
            most = std::max(most, a(yBot, col) - a(yTop, col));
        }
        return static_cast<double>(most) / (yBot - yTop);
    };
    const auto horizontal = [&](int edge) {
        int most = 0;
        for (int r = std::max(0, edge - tolE); r < std::min(n_ - 1, edge + tolE + 1); ++r) {
            most = std::max(most, b(r, xr) - b(r, xl));
        }
        return static_cast<double>(most) / (xr - xl);
    };
    return (vertical(x) + vertical(x + width) + horizontal(y) + horizontal(y + bandHeight)) / 4;
}

// Mean of gx over region rows fromRow … toRow − 1, per column.
std::vector<float> SlotReader::blockColumnProfile(int fromRow, int toRow) const {
    std::vector<float> profile(kGradientColumns, 0.0f);
    if (toRow <= fromRow) {
        return profile;
    }
    const int32_t* upper = gxColumnSums_.data() + static_cast<size_t>(fromRow) * kGradientColumns;
    const int32_t* lower = gxColumnSums_.data() + static_cast<size_t>(toRow) * kGradientColumns;
    for (int x = 0; x < kGradientColumns; ++x) {
        profile[x] = static_cast<float>(lower[x] - upper[x]) / static_cast<float>(toRow - fromRow);
    }
    return profile;
}

// Mean of gy over columns fromColumn … toColumn − 1, per region row (n − 1 rows).
std::vector<float> SlotReader::blockRowProfile(int fromColumn, int toColumn) const {
    std::vector<float> profile(static_cast<size_t>(n_ - 1), 0.0f);
    if (toColumn <= fromColumn) {
        return profile;
    }
    for (int r = 0; r < n_ - 1; ++r) {
        const int32_t* sums = gyRowSums_.data() + static_cast<size_t>(r) * (kWorkWidth + 1);
        profile[r] = static_cast<float>(sums[toColumn] - sums[fromColumn]) /
                     static_cast<float>(toColumn - fromColumn);
    }
    return profile;
}

} // namespace kv_slots
