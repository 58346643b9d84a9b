#pragma once

// The gray values the block refinement reads around the sides of a pack's cards (internal to
// slot_refinement.cpp).

#include "vision/gray_pixels.hpp"
#include "vision/slot_refinement.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace kv_slots {

// How far from the found edge the sides are read, in card widths: inward far enough to meet the
// frame even when the found edge already is the outer one, outward past the widest border.
constexpr double kInward = 0.06;
constexpr double kOutward = 0.11;
// Where a side is read along its length: clear of the rounded corners.
constexpr double kAlongFrom = 0.15;
constexpr double kAlongTo = 0.85;
constexpr int kLinesPerCard = 40;

enum class Side { left, right, top };

// The gray values around one side of every card: samples[u][k] is line k read at u pixels
// outward of the found edge (negative: inside the card), u from -inward to +outward.
class SideSamples {
public:
    // The cards of one block column (left and right sides) or one block row (top side).
    SideSamples(const KVImage& image, const KVSlotBlock& block, Side side, int index)
        : inward_(static_cast<int>(std::ceil(kInward * block.cardWidth))),
          outward_(static_cast<int>(std::ceil(kOutward * block.cardWidth))) {
        const int perRow = block.perRow();
        const bool vertical = side != Side::top;
        const double length = vertical ? block.cardHeight : block.cardWidth;
        const double from = kAlongFrom * length;
        const double span = (kAlongTo - kAlongFrom) * length;
        const int lines = std::max(2, std::min(kLinesPerCard, static_cast<int>(span)));
        const int offsets = inward_ + outward_ + 1;
        samples_.assign(static_cast<size_t>(offsets), {});
        for (int64_t card = 0; card < block.cards; ++card) {
            if ((side == Side::top ? card / perRow : card % perRow) != index) {
                continue;
            }
            const double x0 = block.lefts[static_cast<size_t>(card % perRow)];
            const double y0 = block.tops[static_cast<size_t>(card / perRow)];
            for (int line = 0; line < lines; ++line) {
                const double along = from + span * line / (lines - 1);
                for (int u = -inward_; u <= outward_; ++u) {
                    float value = 0;
                    switch (side) {
                    case Side::left:
                        value = alongRow(image, x0 - u, y0 + along);
                        break;
                    case Side::right:
                        value = alongRow(image, x0 + block.cardWidth + u, y0 + along);
                        break;
                    case Side::top:
                        value = alongColumn(image, x0 + along, y0 - u);
                        break;
                    }
                    samples_[static_cast<size_t>(u + inward_)].push_back(value);
                }
            }
        }
    }

    int inward() const { return inward_; }
    int outward() const { return outward_; }
    const std::vector<float>& at(int u) const { return samples_[static_cast<size_t>(u + inward_)]; }

    double mean(int u) const {
        const std::vector<float>& values = at(u);
        double sum = 0;
        for (const float v : values) {
            sum += v;
        }
        return values.empty() ? 0 : sum / static_cast<double>(values.size());
    }

    double median(int u) const {
        std::vector<float> values = at(u);
        if (values.empty()) {
            return 0;
        }
        const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
        std::nth_element(values.begin(), middle, values.end());
        return *middle;
    }

    // Mean distance of the values at u from `level`.
    double deviation(int u, double level) const {
        const std::vector<float>& values = at(u);
        double sum = 0;
        for (const float v : values) {
            sum += std::abs(v - level);
        }
        return values.empty() ? 0 : sum / static_cast<double>(values.size());
    }

private:
    static float luma(const KVImage& image, int x, int y) {
        x = std::clamp(x, 0, image.width - 1);
        y = std::clamp(y, 0, image.height - 1);
        return KVLuma(image.pixel(x, y));
    }
    // The gray level at a continuous x on the pixel row holding y, interpolated between pixel
    // centres, so that every card is read at its own sub-pixel offset.
    static float alongRow(const KVImage& image, double x, double y) {
        const double c = x - 0.5;
        const double base = std::floor(c);
        const auto f = static_cast<float>(c - base);
        const int i = static_cast<int>(base);
        const int row = static_cast<int>(std::floor(y));
        return luma(image, i, row) * (1 - f) + luma(image, i + 1, row) * f;
    }
    static float alongColumn(const KVImage& image, double x, double y) {
        const double c = y - 0.5;
        const double base = std::floor(c);
        const auto f = static_cast<float>(c - base);
        const int i = static_cast<int>(base);
        const int column = static_cast<int>(std::floor(x));
        return luma(image, column, i) * (1 - f) + luma(image, column, i + 1) * f;
    }

    int inward_;
    int outward_;
    std::vector<std::vector<float>> samples_;
};

} // namespace kv_slots
