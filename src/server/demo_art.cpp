#include "server/demo_art.hpp"

#include <turbojpeg.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Rgb {
    int r, g, b;
};

Rgb tint(const std::string& color) {
    if (color == "W") {
        return {236, 226, 196};
    }
    if (color == "U") {
        return {70, 130, 200};
    }
    if (color == "B") {
        return {80, 70, 90};
    }
    if (color == "R") {
        return {210, 80, 60};
    }
    if (color == "G") {
        return {70, 150, 80};
    }
    return {160, 160, 170};
}

class Canvas {
public:
    Canvas() : pixels_(static_cast<size_t>(KVSDemoArt::kWidth) * KVSDemoArt::kHeight * 3) {}

    void put(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= KVSDemoArt::kWidth || y >= KVSDemoArt::kHeight) {
            return;
        }
        const size_t at = (static_cast<size_t>(y) * KVSDemoArt::kWidth + x) * 3;
        pixels_[at] = static_cast<unsigned char>(c.r);
        pixels_[at + 1] = static_cast<unsigned char>(c.g);
        pixels_[at + 2] = static_cast<unsigned char>(c.b);
    }
    void rect(int x0, int y0, int x1, int y1, Rgb c) {
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                put(x, y, c);
            }
        }
    }
    // A disc clipped to the art window.
    void disc(int cx, int cy, int radius, Rgb c, int top, int bottom) {
        for (int y = std::max(top, cy - radius); y < std::min(bottom, cy + radius); ++y) {
            for (int x = cx - radius; x < cx + radius; ++x) {
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius && x >= 40 &&
                    x < KVSDemoArt::kWidth - 40) {
                    put(x, y, c);
                }
            }
        }
    }
    const std::vector<unsigned char>& pixels() const { return pixels_; }

private:
    std::vector<unsigned char> pixels_;
};

} // namespace

std::string KVSDemoArt::jpeg(int index, const std::string& colorLetter) {
    std::mt19937 random(static_cast<uint32_t>(index) * 2654435761u + 17);
    const Rgb base = tint(colorLetter);
    Canvas canvas;
    // The frame: a dark border, the card's colour, a name bar, the text box below the art.
    canvas.rect(0, 0, kWidth, kHeight, {20, 20, 24});
    canvas.rect(18, 18, kWidth - 18, kHeight - 18, base);
    canvas.rect(30, 30, kWidth - 30, 66, {240, 236, 224});
    canvas.rect(30, 400, kWidth - 30, 436, {240, 236, 224});
    canvas.rect(36, 446, kWidth - 36, kHeight - 44, {246, 242, 232});
    // The art: a sky gradient and shapes placed by the card's own number.
    constexpr int kTop = 72;
    constexpr int kBottom = 394;
    const Rgb sky{static_cast<int>(random() % 256), static_cast<int>(random() % 256),
                  static_cast<int>(random() % 256)};
    for (int y = kTop; y < kBottom; ++y) {
        const double t = static_cast<double>(y - kTop) / (kBottom - kTop);
        const Rgb row{static_cast<int>(sky.r * (1 - t) + base.r * t),
                      static_cast<int>(sky.g * (1 - t) + base.g * t),
                      static_cast<int>(sky.b * (1 - t) + base.b * t)};
        canvas.rect(40, y, kWidth - 40, y + 1, row);
    }
    for (int shape = 0; shape < 14; ++shape) {
        const Rgb color{static_cast<int>(random() % 256), static_cast<int>(random() % 256),
                        static_cast<int>(random() % 256)};
        const int cx = 40 + static_cast<int>(random() % (kWidth - 80));
        const int cy = kTop + static_cast<int>(random() % (kBottom - kTop));
        const int size = 12 + static_cast<int>(random() % 70);
        if (shape % 3 == 0) {
            canvas.rect(std::max(40, cx - size), std::max(kTop, cy - size / 2),
                        std::min(kWidth - 40, cx + size), std::min(kBottom, cy + size / 2), color);
        } else {
            canvas.disc(cx, cy, size, color, kTop, kBottom);
        }
    }
    tjhandle encoder = tjInitCompress();
    if (encoder == nullptr) {
        return {};
    }
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    const int failed = tjCompress2(encoder, canvas.pixels().data(), kWidth, 0, kHeight, TJPF_RGB,
                                   &bytes, &size, TJSAMP_420, 88, TJFLAG_FASTDCT);
    std::string out;
    if (failed == 0) {
        out.assign(reinterpret_cast<const char*>(bytes), size);
    }
    tjFree(bytes);
    tjDestroy(encoder);
    return out;
}
