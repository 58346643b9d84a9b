#include "vision/slot_refinement.hpp"

#include "vision/slot_row_alignment.hpp"
#include "vision/slot_side_samples.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

using kv_slots::Side;
using kv_slots::SideSamples;

constexpr double kCardAspect = 88.0 / 63.0;
// A pooled gray step below this is no frame edge: JPEG noise and textures average to less.
constexpr double kMinFrameDrop = 8.0;
// The pooled departure from the border's level must climb this much within a pixel where the
// border ends (a border beside a shadowed gap climbs about 1.7).
constexpr double kMinBorderRise = 1.0;
// How much the pooled values may wander within the flat border.
constexpr double kMaxBandRipple = 4.0;
// A refined width further than this from the first reading is a different card, not a fit.
constexpr double kMaxWidthChange = 0.15;
// Card borders are a few hundredths of the card's width; a wider "border" is something else.
constexpr double kMaxBorder = 0.08;
// How far the fit may move the first reading's pitches, in card widths. The first row pitch is
// where bands of edge response start, which the shadow of the row above delays by a few working
// pixels; a stray edge moves a row's top by a border's width or more, and its side then reads
// no frame at all.
constexpr double kMaxPitchChange = 0.05;
// How far a row placed by its cards' frame lines may lie from the first reading, in card widths:
// the bands of a row in the shadow of the one above start a few working pixels late.
constexpr double kMaxContentShift = 0.10;

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) {
        return *middle;
    }
    return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

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
std::optional<SideReading> readSide(const SideSamples& s, double cardWidth) {
    const int searchTo = std::min(s.outward() - 2, static_cast<int>(std::ceil(0.05 * cardWidth)));
    std::vector<double> means;
    for (int u = -s.inward(); u <= s.outward(); ++u) {
        means.push_back(s.mean(u));
    }
    const auto mean = [&](int u) { return means[static_cast<size_t>(u + s.inward())]; };
    double steepest = 0;
    for (int u = -s.inward(); u < searchTo; ++u) {
        steepest = std::min(steepest, mean(u + 1) - mean(u));
    }
    if (steepest > -kMinFrameDrop) {
        return std::nullopt;
    }
    // Of the clear drops, the outermost that a flat band follows: the art's own outline is a
    // drop too, but the frame comes right after it.
    const int flatWidth = std::max(1, static_cast<int>(std::lround(0.015 * cardWidth)));
    int drop = 0;
    bool found = false;
    for (int u = searchTo - 1; u >= -s.inward() && !found; --u) {
        const double fall = mean(u) - mean(u + 1);
        if (fall < std::max(kMinFrameDrop, -0.4 * steepest) ||
            (u + 1 < searchTo && mean(u + 1) - mean(u + 2) > fall)) {
            continue;
        }
        const int from = u + 2;
        if (from + flatWidth > s.outward()) {
            continue;
        }
        bool flat = true;
        for (int v = from + 1; v <= from + flatWidth; ++v) {
            flat = flat && std::abs(mean(v) - mean(from)) <= kMaxBandRipple;
        }
        if (flat) {
            drop = u;
            found = true;
        }
    }
    if (!found) {
        return std::nullopt;
    }
    // The drop spreads over a few pixels (scaling, compression): its place is the centroid of
    // the falling steps around the steepest, and the border is read where the values are
    // flattest just past it.
    double weight = 0;
    double moment = 0;
    for (int u = std::max(-s.inward(), drop - 2); u <= std::min(s.outward() - 1, drop + 2); ++u) {
        const double fall = std::max(0.0, mean(u) - mean(u + 1));
        weight += fall;
        moment += fall * (u + 0.5);
    }
    SideReading reading;
    reading.inner = moment / weight;
    reading.band = drop + 1;
    double flattest = 1e9;
    const int bandTo = std::min(s.outward() - 1, drop + 1 + static_cast<int>(0.025 * cardWidth));
    for (int u = drop + 1; u <= bandTo; ++u) {
        const double slope = std::abs(mean(u + 1) - mean(u)) + std::abs(mean(u) - mean(u - 1));
        if (slope < flattest) {
            flattest = slope;
            reading.band = u;
        }
    }
    const double level = s.median(reading.band);
    for (int u = reading.band; u <= s.outward(); ++u) {
        reading.away.push_back(s.deviation(u, level));
    }
    return reading;
}

// The border's width, from every side read: each side's departures from its border's level,
// aligned at its inner edge, rise where the border ends. Pooled, because a single side may have
// a shadow or a gap as dark as the border beside it: each side weighs by how clearly its own
// values rise, and the width is where the pooled rise is steepest. None without a clear rise.
std::optional<double> borderWidth(const std::vector<SideReading>& sides, double cardWidth) {
    constexpr double kStep = 0.25;
    const int steps = static_cast<int>(kMaxBorder * 1.5 * cardWidth / kStep);
    std::vector<double> pooled(static_cast<size_t>(steps), 0.0);
    std::vector<double> weights(static_cast<size_t>(steps), 0.0);
    const auto at = [](const SideReading& side, double v) {
        const double i = side.inner + v - side.band; // index into away
        if (i < 0 || i > static_cast<double>(side.away.size()) - 1) {
            return -1.0;
        }
        const auto k = static_cast<size_t>(i);
        const double f = i - static_cast<double>(k);
        const double next = k + 1 < side.away.size() ? side.away[k + 1] : side.away[k];
        return side.away[k] * (1 - f) + next * f;
    };
    for (const SideReading& side : sides) {
        const double inside = side.away.front();
        const double reach =
            std::min(side.away.size(), static_cast<size_t>(kMaxBorder * cardWidth));
        double peak = inside;
        for (size_t k = 0; k < reach; ++k) {
            peak = std::max(peak, side.away[k]);
        }
        const double weight = peak - inside;
        if (weight <= 0) {
            continue;
        }
        for (int i = 0; i < steps; ++i) {
            const double value = at(side, i * kStep);
            if (value >= 0) {
                pooled[static_cast<size_t>(i)] += weight * value;
                weights[static_cast<size_t>(i)] += weight;
            }
        }
    }
    double total = 0;
    for (const double w : weights) {
        total = std::max(total, w);
    }
    // The rise, where at least half of the evidence is read.
    std::vector<double> level(static_cast<size_t>(steps), -1.0);
    for (int i = 0; i < steps; ++i) {
        if (weights[static_cast<size_t>(i)] >= total / 2 && total > 0) {
            level[static_cast<size_t>(i)] =
                pooled[static_cast<size_t>(i)] / weights[static_cast<size_t>(i)];
        }
    }
    int steepest = -1;
    double rise = 0;
    const int span = std::max(1, static_cast<int>(1.0 / kStep)); // slopes over one pixel
    const int widest = static_cast<int>(kMaxBorder * cardWidth / kStep);
    for (int i = 0; i + span < steps && i + span <= widest; ++i) {
        const double a = level[static_cast<size_t>(i)];
        const double b = level[static_cast<size_t>(i + span)];
        if (a >= 0 && b >= 0 && b - a > rise) {
            rise = b - a;
            steepest = i;
        }
    }
    if (steepest < 0 || rise < kMinBorderRise) {
        return std::nullopt;
    }
    // The centre of the rise around its steepest part.
    double weight = 0;
    double moment = 0;
    for (int i = std::max(0, steepest - span); i + span < steps && i <= steepest + span; ++i) {
        const double a = level[static_cast<size_t>(i)];
        const double b = level[static_cast<size_t>(i + span)];
        if (a >= 0 && b >= 0 && b > a) {
            weight += b - a;
            moment += (b - a) * (i + span / 2.0) * kStep;
        }
    }
    return moment / weight;
}

} // namespace

namespace {

// A line a + pitch · i through positions[i] (none where unknown), robust to a stray one: the
// median of the pairwise slopes, then the median intercept. `pitch` is kept when fewer than two
// positions are known, or when the slopes would move it by more than `maxChange`: the first
// reading's pitch is whole working pixels, never further off than that, and with two rows one
// stray edge would otherwise tilt the grid.
bool fitLine(const std::vector<std::optional<double>>& positions, double maxChange, double& a,
             double& pitch, bool* pitchTaken = nullptr) {
    std::vector<double> slopes;
    for (size_t i = 0; i < positions.size(); ++i) {
        for (size_t j = i + 1; j < positions.size(); ++j) {
            if (positions[i] && positions[j]) {
                slopes.push_back((*positions[j] - *positions[i]) / static_cast<double>(j - i));
            }
        }
    }
    const bool taken = !slopes.empty() && std::abs(median(slopes) - pitch) <= maxChange;
    if (taken) {
        pitch = median(slopes);
    }
    if (pitchTaken != nullptr) {
        *pitchTaken = taken;
    }
    std::vector<double> intercepts;
    for (size_t i = 0; i < positions.size(); ++i) {
        if (positions[i]) {
            intercepts.push_back(*positions[i] - pitch * static_cast<double>(i));
        }
    }
    if (intercepts.empty()) {
        return false;
    }
    a = median(intercepts);
    return true;
}

} // namespace

KVSlotBlock KVRefineSlotBlock(const KVImage& image, const KVSlotBlock& block, std::string* debug) {
    return KVRefineSlotBlock(image, block, debug, nullptr);
}

KVSlotBlock KVRefineSlotBlock(const KVImage& image, const KVSlotBlock& block, std::string* debug,
                              KVSlotBorderEvidence* evidence) {
    if (evidence != nullptr) {
        *evidence = KVSlotBorderEvidence{};
    }
    if (block.lefts.empty() || block.tops.empty() || block.cardWidth < 8 || block.cards < 1) {
        return block;
    }
    const double w = block.cardWidth;
    const int columns = block.perRow();
    const int rows = static_cast<int>(block.tops.size());
    std::vector<std::optional<SideReading>> lefts(static_cast<size_t>(columns));
    std::vector<std::optional<SideReading>> rights(static_cast<size_t>(columns));
    std::vector<std::optional<SideReading>> tops(static_cast<size_t>(rows));
    std::vector<SideReading> all;
    for (int c = 0; c < columns; ++c) {
        lefts[static_cast<size_t>(c)] = readSide(SideSamples(image, block, Side::left, c), w);
        rights[static_cast<size_t>(c)] = readSide(SideSamples(image, block, Side::right, c), w);
    }
    for (int r = 0; r < rows; ++r) {
        tops[static_cast<size_t>(r)] = readSide(SideSamples(image, block, Side::top, r), w);
    }
    for (const auto* list : {&lefts, &rights, &tops}) {
        for (const auto& side : *list) {
            if (side) {
                all.push_back(*side);
            }
        }
    }
    const std::optional<double> border = borderWidth(all, w);
    if (evidence != nullptr) {
        const auto known = [](const std::vector<std::optional<SideReading>>& v) {
            return static_cast<int>(
                std::count_if(v.begin(), v.end(), [](const auto& p) { return p.has_value(); }));
        };
        evidence->border = border && *border <= kMaxBorder * w;
        evidence->columns = columns;
        evidence->rows = rows;
        evidence->framedLefts = known(lefts);
        evidence->framedRights = known(rights);
        evidence->framedTops = known(tops);
    }
    if (!border || *border > kMaxBorder * w) {
        if (debug) {
            *debug += "[vision] refine: no clear card border, block kept\n";
        }
        return block;
    }
    const auto outer = [&](const std::optional<SideReading>& side) -> std::optional<double> {
        if (!side) {
            return std::nullopt;
        }
        return side->inner + *border;
    };

    // Each column's left edge, from its own left side and from its right side less the width.
    std::vector<double> widths;
    std::vector<std::optional<double>> columnLefts(static_cast<size_t>(columns));
    std::vector<std::optional<double>> columnRights(static_cast<size_t>(columns));
    for (size_t c = 0; c < columnLefts.size(); ++c) {
        if (const auto out = outer(lefts[c])) {
            columnLefts[c] = block.lefts[c] - *out;
        }
        if (const auto out = outer(rights[c])) {
            columnRights[c] = block.lefts[c] + w + *out;
        }
        if (columnLefts[c] && columnRights[c]) {
            widths.push_back(*columnRights[c] - *columnLefts[c]);
        }
    }
    KVSlotBlock refined = block;
    const double width = widths.empty() ? w : median(widths);
    const bool widthFits = std::abs(width - w) <= kMaxWidthChange * w;
    for (size_t c = 0; c < columnLefts.size(); ++c) {
        if (columnLefts[c] && columnRights[c]) {
            columnLefts[c] = (*columnLefts[c] + *columnRights[c] - width) / 2;
        } else if (columnRights[c]) {
            columnLefts[c] = *columnRights[c] - width;
        }
    }
    double x0 = 0;
    double columnPitch = columns > 1 ? block.lefts[1] - block.lefts[0] : 0;
    if (widthFits && fitLine(columnLefts, kMaxPitchChange * w, x0, columnPitch)) {
        for (int c = 0; c < columns; ++c) {
            refined.lefts[static_cast<size_t>(c)] = x0 + columnPitch * c;
        }
        refined.cardWidth = width;
    }
    std::vector<std::optional<double>> rowTops(static_cast<size_t>(rows));
    for (size_t r = 0; r < rowTops.size(); ++r) {
        if (const auto out = outer(tops[r])) {
            rowTops[r] = block.tops[r] - *out;
        }
    }
    // The rows' distances are read from the frame lines printed on their cards, matched with
    // those of the first row whose top was read: a border step can be missing (in the shadow of
    // the row above) or moved by a stray edge, the cards' own print cannot. That row's top, the
    // highest read and so the least shadowed, places them all.
    const auto read =
        std::find_if(rowTops.begin(), rowTops.end(),
                     [](const std::optional<double>& top) { return top.has_value(); });
    const int reference = static_cast<int>(read - rowTops.begin());
    std::vector<std::optional<double>> belowReference(static_cast<size_t>(rows));
    int placed = 0;
    if (rows > 1 && read != rowTops.end()) {
        belowReference[static_cast<size_t>(reference)] = 0.0;
        for (int r = 0; r < rows; ++r) {
            if (r != reference) {
                belowReference[static_cast<size_t>(r)] = kv_slots::rowDistanceByContent(
                    image, block, reference, r, kMaxContentShift * w);
                placed += belowReference[static_cast<size_t>(r)] ? 1 : 0;
            }
        }
    }
    double y0 = 0;
    double rowPitch = rows > 1 ? block.tops[1] - block.tops[0] : 0;
    bool pitchByContent = false;
    if (placed > 0) {
        fitLine(belowReference, kMaxContentShift * w, y0, rowPitch, &pitchByContent);
    }
    if (pitchByContent) {
        y0 = **read - rowPitch * reference;
    }
    if (pitchByContent || fitLine(rowTops, kMaxPitchChange * w, y0, rowPitch)) {
        for (int r = 0; r < rows; ++r) {
            refined.tops[static_cast<size_t>(r)] = y0 + rowPitch * r;
        }
    }
    refined.cardHeight = refined.cardWidth * kCardAspect;
    if (debug) {
        const auto known = [](const std::vector<std::optional<SideReading>>& v) {
            return static_cast<int>(
                std::count_if(v.begin(), v.end(), [](const auto& p) { return p.has_value(); }));
        };
        char line[220];
        std::snprintf(line, sizeof line,
                      "[vision] refine: frame edges left %d/%d right %d/%d top %d/%d, border "
                      "%.1f px; card %.1f -> %.1f px, pitch %.1f x %.1f px%s%s\n",
                      known(lefts), columns, known(rights), columns, known(tops), rows, *border, w,
                      refined.cardWidth, columnPitch, rowPitch, widthFits ? "" : " (width kept)",
                      pitchByContent ? " (rows by their print)" : "");
        *debug += line;
    }
    return refined;
}
