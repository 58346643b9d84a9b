#include "vision/slot_refinement.hpp"

#include "vision/slot_border.hpp"
#include "vision/slot_row_alignment.hpp"
#include "vision/slot_side_samples.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

using kv_slots::kMaxBorder;
using kv_slots::Side;
using kv_slots::SideReading;
using kv_slots::SideSamples;

constexpr double kCardAspect = 88.0 / 63.0;
// A refined width further than this from the first reading is a different card, not a fit.
constexpr double kMaxWidthChange = 0.15;
// How far the fit may move the first reading's pitches, in card widths. The first row pitch is
// where bands of edge response start, which the shadow of the row above delays by a few working
// pixels; a stray edge moves a row's top by a border's width or more, and its side then reads
// no frame at all.
constexpr double kMaxPitchChange = 0.05;
// How far a row placed by its cards' frame lines may lie from the first reading, in card widths:
// the bands of a row in the shadow of the one above start a few working pixels late.
constexpr double kMaxContentShift = 0.10;

// How many sides of a list were read.
int known(const std::vector<std::optional<SideReading>>& sides) {
    return static_cast<int>(std::count_if(sides.begin(), sides.end(),
                                          [](const auto& side) { return side.has_value(); }));
}

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) {
        return *middle;
    }
    return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

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
    for (int c = 0; c < columns; ++c) {
        lefts[static_cast<size_t>(c)] =
            kv_slots::readSide(SideSamples(image, block, Side::left, c), w);
        rights[static_cast<size_t>(c)] =
            kv_slots::readSide(SideSamples(image, block, Side::right, c), w);
    }
    for (int r = 0; r < rows; ++r) {
        tops[static_cast<size_t>(r)] =
            kv_slots::readSide(SideSamples(image, block, Side::top, r), w);
    }
    const kv_slots::BorderReading reading = kv_slots::readBorder({&lefts, &rights, &tops}, w);
    if (evidence != nullptr) {
        evidence->border = reading.pooled && *reading.pooled <= kMaxBorder * w;
        evidence->columns = columns;
        evidence->rows = rows;
        evidence->framedLefts = known(lefts);
        evidence->framedRights = known(rights);
        evidence->framedTops = known(tops);
    }
    const std::optional<double> border = reading.narrowest;
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
