#include "vision/slot_geometry.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace {

// Interpolates between the order statistics at k and k + 1 (k + 1 is k itself at the end).
float interpolate(float below, float above, double fraction) {
    return static_cast<float>(below + static_cast<double>(above - below) * fraction);
}

} // namespace

float KVSlotGeometry::percentile(std::span<const float> values, double p) {
    if (values.empty()) {
        return 0;
    }
    const size_t count = values.size();
    const double pos = p * static_cast<double>(count - 1) / 100.0;
    const size_t k = std::min(static_cast<size_t>(std::max(pos, 0.0)), count - 1);
    std::vector<float> sorted(values.begin(), values.end());
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(k), sorted.end());
    const float below = sorted[k];
    const float above =
        k + 1 < count
            ? *std::min_element(sorted.begin() + static_cast<std::ptrdiff_t>(k + 1), sorted.end())
            : below;
    return interpolate(below, above, pos - static_cast<double>(k));
}

float KVSlotGeometry::percentileOfCounts(std::span<const uint32_t, 256> histogram, double p) {
    const uint64_t count = std::accumulate(histogram.begin(), histogram.end(), uint64_t{0});
    if (count == 0) {
        return 0;
    }
    const double pos = p * static_cast<double>(count - 1) / 100.0;
    const uint64_t k = std::min(static_cast<uint64_t>(std::max(pos, 0.0)), count - 1);
    // The value at sorted position `index`: the bin in which the running count passes it.
    const auto valueAt = [&histogram](uint64_t index) {
        uint64_t seen = 0;
        for (int value = 0; value < 256; ++value) {
            seen += histogram[value];
            if (seen > index) {
                return static_cast<float>(value);
            }
        }
        return 255.0f;
    };
    const float below = valueAt(k);
    const float above = k + 1 < count ? valueAt(k + 1) : below;
    return interpolate(below, above, pos - static_cast<double>(k));
}

std::vector<int> KVSlotGeometry::peaks(std::span<const float> profile, float threshold) {
    constexpr size_t kMaxPeaks = 512;
    std::vector<int> order(profile.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&profile](int a, int b) { return profile[a] > profile[b]; });
    std::vector<bool> taken(profile.size(), false);
    std::vector<int> found;
    for (const int position : order) {
        if (profile[position] < threshold || found.size() >= kMaxPeaks) {
            break;
        }
        const size_t from = static_cast<size_t>(std::max(position - 2, 0));
        const size_t to = std::min(static_cast<size_t>(position) + 3, profile.size());
        if (std::find(taken.begin() + static_cast<std::ptrdiff_t>(from),
                      taken.begin() + static_cast<std::ptrdiff_t>(to),
                      true) != taken.begin() + static_cast<std::ptrdiff_t>(to)) {
            continue;
        }
        taken[position] = true;
        found.push_back(position);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<int> KVSlotGeometry::candidateWidths(std::span<const int> positions) {
    constexpr int kMinDistance = 43;
    constexpr int kMaxDistance = 172;
    constexpr size_t kMaxWidths = 6;
    std::array<int, 88> bins{};
    for (size_t i = 0; i < positions.size(); ++i) {
        for (size_t j = i + 1; j < positions.size(); ++j) {
            const int distance = positions[j] - positions[i];
            if (distance > kMaxDistance) {
                break;
            }
            if (distance >= kMinDistance) {
                ++bins[static_cast<size_t>(distance / 2)];
            }
        }
    }
    std::vector<int> widths;
    while (widths.size() < kMaxWidths) {
        // max_element keeps the first of equal counts: the lowest bin.
        const auto best = std::max_element(bins.begin(), bins.end());
        if (*best <= 0) {
            break;
        }
        widths.push_back(2 * static_cast<int>(best - bins.begin()) + 1);
        *best = 0;
    }
    return widths;
}

std::optional<KVSlotGeometry::Block>
KVSlotGeometry::fitBlock(std::span<const double> scores, int rows, int cols, int64_t expected) {
    constexpr int kMaxPackRows = 4;
    if (rows <= 0 || cols <= 0 || expected <= 0 ||
        scores.size() < static_cast<size_t>(rows) * static_cast<size_t>(cols)) {
        return std::nullopt;
    }
    const auto at = [&scores, cols](int row, int col) {
        return scores[static_cast<size_t>(row) * static_cast<size_t>(cols) +
                      static_cast<size_t>(col)];
    };
    std::optional<Block> best;
    for (int k = 1; k <= cols; ++k) {
        const int64_t packRows = (expected + k - 1) / k;
        if (packRows > std::min(rows, kMaxPackRows)) {
            continue;
        }
        const int blockRows = static_cast<int>(packRows);
        for (int s = 0; s + k <= cols; ++s) {
            double insideMin = 1e9;
            double outsideMax = 0;
            bool outsideSeen = false;
            const auto outside = [&](double score) {
                outsideMax = std::max(outsideMax, score);
                outsideSeen = true;
            };
            for (int i = 0; i < blockRows * k; ++i) {
                const double score = at(i / k, s + i % k);
                if (i < expected) {
                    insideMin = std::min(insideMin, score);
                } else {
                    outside(score); // an unused cell of the last row
                }
            }
            for (int row = 0; row < blockRows; ++row) {
                if (s > 0) {
                    outside(at(row, s - 1));
                }
                if (s + k < cols) {
                    outside(at(row, s + k));
                }
            }
            if (blockRows < rows) {
                for (int col = s; col < s + k; ++col) {
                    outside(at(blockRows, col));
                }
            }
            const double around = outsideSeen ? outsideMax : 0;
            if (insideMin >= 0.8 && insideMin >= 1.25 * around) {
                const double margin = insideMin - around;
                if (!best || margin > best->margin) {
                    best = Block{margin, s, k};
                }
            }
        }
    }
    return best;
}

double KVSlotGeometry::response(std::span<const float> profile, std::span<const int> offsets,
                                int shift) {
    const auto length = static_cast<int64_t>(profile.size());
    double sum = 0;
    for (const int offset : offsets) {
        const int64_t index = static_cast<int64_t>(offset) + shift;
        if (index >= 0 && index < length) {
            sum += profile[static_cast<size_t>(index)];
        }
    }
    return sum;
}

int KVSlotGeometry::snap(std::span<const float> profile, std::span<const int> offsets, int lo,
                         int hi, int step) {
    if (hi < lo) {
        return lo;
    }
    std::vector<double> sums(static_cast<size_t>(hi - lo) + 1);
    int best = lo;
    for (int shift = lo; shift <= hi; ++shift) {
        sums[static_cast<size_t>(shift - lo)] = response(profile, offsets, shift);
        if (sums[static_cast<size_t>(shift - lo)] > sums[static_cast<size_t>(best - lo)]) {
            best = shift;
        }
    }
    if (step == 0) {
        return best;
    }
    const double limit = 0.45 * sums[static_cast<size_t>(best - lo)];
    int shift = best;
    while (shift + step >= lo && shift + step <= hi &&
           sums[static_cast<size_t>(shift + step - lo)] >= limit) {
        shift += step;
    }
    return shift;
}
