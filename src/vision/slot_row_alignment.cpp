#include "vision/slot_row_alignment.hpp"

#include "vision/gray_pixels.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kv_slots {
namespace {

// Across each card the profile is pooled from here to there (in card widths): clear of the
// border and the rounded corners.
constexpr double kAcrossFrom = 0.1;
constexpr double kAcrossTo = 0.9;
constexpr int kSamplesPerCard = 24;
// Down each card the profiles are compared from here to there (in card heights), so that
// neither the border nor what lies around the card takes part.
constexpr double kDownFrom = 0.05;
constexpr double kDownTo = 0.95;
// The rows' gray steps must agree at least this well (normalised correlation) at the best
// offset: frame lines agree at about 0.9, unrelated art at about 0.2.
constexpr double kMinAgreement = 0.5;

// The steps between the mean gray values of the pixel rows y0 + t and y0 + t + 1, for t in
// [0, length), pooled over the cards of block row `row` in block columns `columns`.
std::vector<double> graySteps(const KVImage& image, const KVSlotBlock& block,
                              const std::vector<int>& columns, int y0, int length) {
    std::vector<int> xs;
    const double span = (kAcrossTo - kAcrossFrom) * block.cardWidth;
    for (const int column : columns) {
        const double left =
            block.lefts[static_cast<size_t>(column)] + kAcrossFrom * block.cardWidth;
        for (int k = 0; k < kSamplesPerCard; ++k) {
            const double x = left + span * (k + 0.5) / kSamplesPerCard;
            xs.push_back(std::clamp(static_cast<int>(std::floor(x)), 0, image.width - 1));
        }
    }
    std::vector<double> means(static_cast<size_t>(length) + 1);
    for (int t = 0; t <= length; ++t) {
        const int y = std::clamp(y0 + t, 0, image.height - 1);
        double sum = 0;
        for (const int x : xs) {
            sum += KVLuma(image.pixel(x, y));
        }
        means[static_cast<size_t>(t)] = sum / static_cast<double>(xs.size());
    }
    std::vector<double> steps(static_cast<size_t>(length));
    for (size_t t = 0; t < steps.size(); ++t) {
        steps[t] = means[t + 1] - means[t];
    }
    return steps;
}

} // namespace

std::optional<double> rowDistanceByContent(const KVImage& image, const KVSlotBlock& block,
                                           int reference, int row, double maxShift) {
    const int perRow = block.perRow();
    std::vector<int> columns;
    for (int c = 0; c < perRow; ++c) {
        if (int64_t{reference} * perRow + c < block.cards &&
            int64_t{row} * perRow + c < block.cards) {
            columns.push_back(c);
        }
    }
    const int shift = static_cast<int>(std::ceil(maxShift));
    const int from = static_cast<int>(std::lround(kDownFrom * block.cardHeight));
    const int length = static_cast<int>(std::lround(kDownTo * block.cardHeight)) - from;
    if (columns.empty() || shift < 1 || length < 8) {
        return std::nullopt;
    }
    const int referenceTop =
        static_cast<int>(std::floor(block.tops[static_cast<size_t>(reference)]));
    const int rowTop = static_cast<int>(std::floor(block.tops[static_cast<size_t>(row)]));
    const std::vector<double> fixed = graySteps(image, block, columns, referenceTop + from, length);
    const std::vector<double> moving =
        graySteps(image, block, columns, rowTop + from - shift, length + 2 * shift);

    double fixedEnergy = 0;
    for (const double step : fixed) {
        fixedEnergy += step * step;
    }
    std::vector<double> agreement(static_cast<size_t>(2 * shift + 1), 0.0);
    for (int d = -shift; d <= shift; ++d) {
        double product = 0;
        double energy = 0;
        for (int t = 0; t < length; ++t) {
            const double m = moving[static_cast<size_t>(t + shift + d)];
            product += fixed[static_cast<size_t>(t)] * m;
            energy += m * m;
        }
        if (fixedEnergy > 0 && energy > 0) {
            agreement[static_cast<size_t>(d + shift)] = product / std::sqrt(fixedEnergy * energy);
        }
    }
    const auto best = std::max_element(agreement.begin(), agreement.end());
    const int i = static_cast<int>(best - agreement.begin());
    // At the window's edge the true offset may lie beyond it.
    if (*best < kMinAgreement || i == 0 || i == 2 * shift) {
        return std::nullopt;
    }
    // Between whole pixels: the vertex of the parabola through the peak and its neighbours.
    const double before = agreement[static_cast<size_t>(i - 1)];
    const double after = agreement[static_cast<size_t>(i + 1)];
    const double curve = before - 2 * *best + after;
    const double fraction = curve < 0 ? std::clamp(0.5 * (before - after) / curve, -0.5, 0.5) : 0;
    return rowTop - referenceTop + (i - shift) + fraction;
}

} // namespace kv_slots
