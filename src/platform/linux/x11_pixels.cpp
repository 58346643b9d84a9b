#include "platform/linux/x11_pixels.hpp"

bool KVXPixelsToRGBA(const uint8_t* data, int width, int height, size_t stride,
                     const KVXPixelFormat& format, KVImage& out, int x, int y, std::string* error) {
    const bool standardMasks =
        format.redMask == 0xff0000 && format.greenMask == 0xff00 && format.blueMask == 0xff;
    if ((format.depth != 24 && format.depth != 32) || format.bitsPerPixel != 32 || !standardMasks) {
        if (error != nullptr) {
            *error = "unsupported pixel format (depth " + std::to_string(format.depth) + ", " +
                     std::to_string(format.bitsPerPixel) + " bits per pixel)";
        }
        return false;
    }
    if (x < 0 || y < 0 || width < 0 || height < 0 || x + width > out.width ||
        y + height > out.height || stride < static_cast<size_t>(width) * 4) {
        if (error != nullptr) {
            *error = "the pixels do not fit the image";
        }
        return false;
    }
    for (int row = 0; row < height; ++row) {
        const uint8_t* in = data + static_cast<size_t>(row) * stride;
        uint8_t* dst = out.pixel(x, y + row);
        for (int col = 0; col < width; ++col, in += 4, dst += 4) {
            uint32_t value = 0;
            if (format.mostSignificantFirst) {
                value = static_cast<uint32_t>(in[0]) << 24 | static_cast<uint32_t>(in[1]) << 16 |
                        static_cast<uint32_t>(in[2]) << 8 | in[3];
            } else {
                value = static_cast<uint32_t>(in[3]) << 24 | static_cast<uint32_t>(in[2]) << 16 |
                        static_cast<uint32_t>(in[1]) << 8 | in[0];
            }
            dst[0] = static_cast<uint8_t>(value >> 16);
            dst[1] = static_cast<uint8_t>(value >> 8);
            dst[2] = static_cast<uint8_t>(value);
            dst[3] = 255;
        }
    }
    return true;
}
