#include "vision/slot_border.hpp"

#include <algorithm>
#include <cmath>

namespace kv_slots {

namespace {

// A pooled gray step below this is no frame edge: JPEG noise and textures average to less.
constexpr double kMinFrameDrop = 8.0;
// The pooled departure from the border's level must climb this much within a pixel where the
// border ends (a border beside a shadowed gap climbs about 1.7).
constexpr double kMinBorderRise = 1.0;
// How far the values beyond the border have climbed, as a share of their rise out of it, where
// the border ends.
constexpr double kBorderEndShare = 0.45;
// How much the pooled values may wander within the flat border.
constexpr double kMaxBandRipple = 4.0;

} // namespace

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
    // The border ends where the values have climbed a little under half of the rise: from their
    // lowest before its steepest part to their highest just after it. Its steepest part alone
    // lies further out where the shadow outside a card draws the rise out.
    int lowest = -1;
    for (int i = 0; i <= steepest; ++i) {
        const double value = level[static_cast<size_t>(i)];
        if (value >= 0 && (lowest < 0 || value <= level[static_cast<size_t>(lowest)])) {
            lowest = i;
        }
    }
    const int highestTo = std::min(steps - 1, steepest + 2 * span);
    double high = 0;
    for (int i = steepest; i <= highestTo; ++i) {
        high = std::max(high, level[static_cast<size_t>(i)]);
    }
    const double low = level[static_cast<size_t>(lowest)];
    const double end = low + kBorderEndShare * (high - low);
    for (int i = lowest + 1; i <= highestTo; ++i) {
        const double a = level[static_cast<size_t>(i - 1)];
        const double b = level[static_cast<size_t>(i)];
        if (a >= 0 && a < end && b >= end) {
            return (i - 1 + (end - a) / (b - a)) * kStep;
        }
    }
    return (steepest + span / 2.0) * kStep;
}

BorderReading
readBorder(std::initializer_list<const std::vector<std::optional<SideReading>>*> kinds,
           double cardWidth) {
    std::vector<SideReading> all;
    std::optional<double> narrowestKind;
    for (const auto* kind : kinds) {
        std::vector<SideReading> read;
        for (const auto& side : *kind) {
            if (side) {
                read.push_back(*side);
            }
        }
        if (const std::optional<double> own = borderWidth(read, cardWidth)) {
            narrowestKind = std::min(narrowestKind.value_or(*own), *own);
        }
        all.insert(all.end(), read.begin(), read.end());
    }
    BorderReading reading;
    reading.pooled = borderWidth(all, cardWidth);
    if (reading.pooled) {
        reading.narrowest = std::min(*reading.pooled, narrowestKind.value_or(*reading.pooled));
    }
    return reading;
}

} // namespace kv_slots
