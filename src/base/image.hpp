#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A plain bitmap: 8-bit red, green, blue, alpha per pixel (straight alpha), rows top first,
// no padding. Decoders, capture and the vision code all speak it.
struct KVImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    static KVImage blank(int width, int height) {
        KVImage image;
        if (width > 0 && height > 0) {
            image.width = width;
            image.height = height;
            image.rgba.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
        }
        return image;
    }

    bool empty() const { return width <= 0 || height <= 0 || rgba.empty(); }
    size_t stride() const { return static_cast<size_t>(width) * 4; }
    uint8_t* pixel(int x, int y) {
        return rgba.data() + static_cast<size_t>(y) * stride() + static_cast<size_t>(x) * 4;
    }
    const uint8_t* pixel(int x, int y) const {
        return rgba.data() + static_cast<size_t>(y) * stride() + static_cast<size_t>(x) * 4;
    }
};
