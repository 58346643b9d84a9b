#pragma once

#include "base/image.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

// How an X server lays out the pixels of an image it returns.
struct KVXPixelFormat {
    int depth = 0;                     // 24 (no alpha) or 32 (ARGB windows)
    int bitsPerPixel = 0;              // from the server's pixmap formats
    bool mostSignificantFirst = false; // the server's image byte order
    uint32_t redMask = 0xff0000, greenMask = 0xff00, blueMask = 0xff;
};

// Writes `width` × `height` pixels of `data` (rows `stride` bytes apart) into `out` at (x, y) as
// opaque RGBA: the alpha of ARGB windows is what the game did not mean to show. Only the 8-bit
// channel layouts of 24- and 32-bit depths are read; anything else is refused with the reason.
bool KVXPixelsToRGBA(const uint8_t* data, int width, int height, size_t stride,
                     const KVXPixelFormat& format, KVImage& out, int x, int y, std::string* error);
