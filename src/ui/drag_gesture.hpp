#pragma once

#include "platform/geometry.hpp"

#include <cmath>
#include <optional>

// Tells a tap from a drag: a press becomes a drag once the pointer has moved 3 points along
// either axis, so a hand's wobble still taps. Points in screen coordinates.
struct KVDragGesture {
    static constexpr double kThreshold = 3;

    KVPoint last;
    bool dragged = false;

    void press(const KVPoint& point) {
        last = point;
        dragged = false;
    }

    // The move since the last step once this is a drag; nothing while it is still a tap.
    std::optional<KVPoint> moveTo(const KVPoint& point) {
        const KVPoint delta{point.x - last.x, point.y - last.y};
        if (!dragged && std::abs(delta.x) < kThreshold && std::abs(delta.y) < kThreshold) {
            return std::nullopt;
        }
        dragged = true;
        last = point;
        return delta;
    }
};
