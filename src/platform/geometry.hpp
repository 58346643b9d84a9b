#pragma once

#include <algorithm>

// A rectangle of doubles. Which coordinates it is in (desktop: top-left origin, y down; screen:
// bottom-left origin, y up) is said wherever one is declared.
struct KVRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const KVRect&) const = default;

    bool intersects(const KVRect& other) const {
        return std::max(x, other.x) < std::min(x + width, other.x + other.width) &&
               std::max(y, other.y) < std::min(y + height, other.y + other.height);
    }
};
