#pragma once

// The painting shared by the screen renderer's files: colours, boxes, anti-aliased shapes and the
// pieces of Arena's screens. Internal to tools/draft_screen.

#include "draft_screen/arena_screen.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace kv_draw {

constexpr double kCardAspect = 88.0 / 63.0; // height / width of a card

struct Rgb {
    double r = 0, g = 0, b = 0;
};

inline Rgb mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

inline Rgb scaled(const Rgb& c, double f) {
    return {c.r * f, c.g * f, c.b * f};
}

// Only raw mt19937 output is used: its distributions differ between standard libraries, and a
// screen must be the same picture everywhere.
class Rng {
public:
    explicit Rng(uint32_t seed) : engine_(seed) {}
    double unit() { return static_cast<double>(engine_()) / 4294967296.0; }
    double range(double lo, double hi) { return lo + (hi - lo) * unit(); }
    int below(int n) { return std::min(n - 1, static_cast<int>(unit() * n)); }
    uint32_t next() { return static_cast<uint32_t>(engine_()); }

private:
    std::mt19937 engine_;
};

inline uint32_t mixSeed(uint32_t a, uint32_t b) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// The nearest byte value (fast: a truncation after adding the half, within 0…255).
inline uint8_t toByte(double v) {
    return static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
}

// Straight-alpha "over" onto a canvas that is not opaque (a card image with rounded corners).
[[gnu::noinline]] inline void blendOnto(uint8_t* p, const Rgb& c, double a) {
    const double under = p[3] / 255.0 * (1 - a);
    const double out = a + under;
    p[0] = toByte((c.r * a + p[0] * under) / out);
    p[1] = toByte((c.g * a + p[1] * under) / out);
    p[2] = toByte((c.b * a + p[2] * under) / out);
    p[3] = toByte(out * 255);
}

// Colour c at opacity a over the pixel; on the opaque screen, the plain mix.
inline void blend(uint8_t* p, const Rgb& c, double a) {
    if (a >= 1) {
        p[0] = toByte(c.r);
        p[1] = toByte(c.g);
        p[2] = toByte(c.b);
        p[3] = 255;
    } else if (p[3] == 255) {
        p[0] = toByte(p[0] + (c.r - p[0]) * a);
        p[1] = toByte(p[1] + (c.g - p[1]) * a);
        p[2] = toByte(p[2] + (c.b - p[2]) * a);
    } else if (a > 0) {
        blendOnto(p, c, a);
    }
}

struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    double width() const { return x1 - x0; }
    double height() const { return y1 - y0; }
};

inline Box inset(const Box& b, double d) {
    return {b.x0 + d, b.y0 + d, b.x1 - d, b.y1 - d};
}
inline Box shifted(const Box& b, double dx, double dy) {
    return {b.x0 + dx, b.y0 + dy, b.x1 + dx, b.y1 + dy};
}

// Signed distance from a point to a box with rounded corners (negative inside).
inline double roundedBoxDistance(const Box& b, double radius, double px, double py) {
    const double hx = b.width() / 2;
    const double hy = b.height() / 2;
    const double r = std::clamp(radius, 0.0, std::min(hx, hy));
    const double qx = std::abs(px - (b.x0 + hx)) - (hx - r);
    const double qy = std::abs(py - (b.y0 + hy)) - (hy - r);
    const double ox = std::max(qx, 0.0);
    const double oy = std::max(qy, 0.0);
    const double outside = (ox > 0 && oy > 0) ? std::sqrt(ox * ox + oy * oy) : ox + oy;
    return outside + std::min(std::max(qx, qy), 0.0) - r;
}

// The pixels a box touches, clipped to the image: [xa, xb) × [ya, yb).
struct PixelSpan {
    int xa, xb, ya, yb;
};
inline PixelSpan pixelSpan(const KVImage& image, const Box& b) {
    return {std::max(0, static_cast<int>(std::floor(b.x0))),
            std::min(image.width, static_cast<int>(std::ceil(b.x1))),
            std::max(0, static_cast<int>(std::floor(b.y0))),
            std::min(image.height, static_cast<int>(std::ceil(b.y1)))};
}

// Paints the shape pixel by pixel with the colours `shade` gives at pixel centres. Each pixel
// takes the share of its area that the shape covers: exact for straight edges, so that edges at
// fractional positions and strokes thinner than a pixel come out as a scaled window shows them,
// and from the distance to the edge in rounded corners.
template <typename Shade>
inline void paint(KVImage& image, const Box& b, double radius, double opacity, const Shade& shade) {
    const double r = std::clamp(radius, 0.0, std::min(b.width(), b.height()) / 2);
    const PixelSpan span = pixelSpan(image, b);
    for (int y = span.ya; y < span.yb; ++y) {
        const double oy = std::clamp(std::min(y + 1.0, b.y1) - std::max(double(y), b.y0), 0.0, 1.0);
        const bool clearOfCorners = y >= b.y0 + r && y + 1 <= b.y1 - r;
        for (int x = span.xa; x < span.xb; ++x) {
            double a =
                std::clamp(std::min(x + 1.0, b.x1) - std::max(double(x), b.x0), 0.0, 1.0) * oy;
            if (a > 0 && r > 0 && !clearOfCorners && (x < b.x0 + r || x + 1 > b.x1 - r)) {
                a = std::min(
                    a, std::clamp(0.5 - roundedBoxDistance(b, r, x + 0.5, y + 0.5), 0.0, 1.0));
            }
            if (a > 0) {
                blend(image.pixel(x, y), shade(x + 0.5, y + 0.5), a * opacity);
            }
        }
    }
}

inline void fillBox(KVImage& image, const Box& b, double radius, const Rgb& colour,
                    double opacity = 1) {
    paint(image, b, radius, opacity, [&](double, double) { return colour; });
}

inline void fillGradient(KVImage& image, const Box& b, double radius, const Rgb& top,
                         const Rgb& bottom, double opacity = 1) {
    paint(image, b, radius, opacity, [&](double, double py) {
        return mix(top, bottom, std::clamp((py - b.y0) / b.height(), 0.0, 1.0));
    });
}

inline void fillCircle(KVImage& image, double cx, double cy, double r, const Rgb& colour,
                       double opacity = 1) {
    fillBox(image, {cx - r, cy - r, cx + r, cy + r}, r, colour, opacity);
}

// A blurred dark shape under something opaque; `covered`, the part of the image that will be
// painted over, is skipped.
inline void softShadow(KVImage& image, const Box& b, double radius, double blur, double opacity,
                       const Box& covered = {}) {
    const int xa = std::max(0, static_cast<int>(std::floor(b.x0 - blur)));
    const int xb = std::min(image.width, static_cast<int>(std::ceil(b.x1 + blur)));
    const int ya = std::max(0, static_cast<int>(std::floor(b.y0 - blur)));
    const int yb = std::min(image.height, static_cast<int>(std::ceil(b.y1 + blur)));
    for (int y = ya; y < yb; ++y) {
        const bool rowCovered = y >= covered.y0 && y + 1 <= covered.y1;
        for (int x = xa; x < xb; ++x) {
            if (rowCovered && x >= covered.x0 && x + 1 <= covered.x1) {
                x = static_cast<int>(std::floor(covered.x1)) - 1;
                continue;
            }
            const double d = roundedBoxDistance(b, radius, x + 0.5, y + 0.5);
            blend(image.pixel(x, y), {0, 0, 0}, std::clamp(0.5 - d / blur, 0.0, 1.0) * opacity);
        }
    }
}

inline const Rgb kBorderBlack{14, 13, 16};
inline const Rgb kInk{22, 20, 20};
inline const Rgb kLightText{214, 210, 200};
inline const Rgb kGold{206, 168, 92};

struct Palette {
    Rgb frame, bar, box;
};

// Frame, title-bar and text-box colours of the card colours: white, blue, black, red, green,
// gold, artifact, land.
inline const std::array<Palette, 8> kPalettes{{
    {{214, 208, 186}, {236, 230, 212}, {238, 234, 222}},
    {{36, 96, 168}, {176, 206, 232}, {206, 222, 236}},
    {{52, 48, 50}, {160, 152, 150}, {196, 190, 188}},
    {{178, 62, 40}, {232, 180, 156}, {236, 212, 196}},
    {{46, 112, 64}, {178, 208, 176}, {206, 222, 202}},
    {{196, 164, 82}, {232, 214, 160}, {238, 228, 200}},
    {{138, 144, 152}, {200, 204, 210}, {218, 222, 226}},
    {{132, 108, 84}, {206, 190, 170}, {222, 212, 198}},
}};

inline const std::array<Rgb, 6> kManaColours{{{248, 240, 200},
                                              {160, 200, 235},
                                              {170, 160, 160},
                                              {235, 150, 120},
                                              {150, 200, 150},
                                              {200, 195, 190}}};

// Art: soft waves of colour under a few solid discs, the same picture at any size of the box.
void paintPicture(KVImage& image, const Box& b, double radius, uint32_t seed);
// Text as it looks from a distance, `size` high, from (x, y) to at most x + maxWidth.
void paintText(KVImage& image, Rng& rng, double x, double y, double size, double maxWidth,
               const Rgb& colour, double opacity = 1);
// Arena's dark painted backdrop over the whole image.
void paintBackground(KVImage& image, uint32_t seed);

void paintCardFace(KVImage& image, const Box& card, uint32_t seed);
void paintCardImage(KVImage& image, const Box& card, const KVImage& source);
void paintCardShadow(KVImage& image, const Box& card);
void paintCardList(KVImage& image, Rng& rng, const Box& area, int count);

void paintHeader(KVImage& image, Rng& rng, int wordsLeft, bool timer);
void paintSidePanel(KVImage& image, Rng& rng, double fraction, int picked);
void paintFooter(KVImage& image, Rng& rng);

} // namespace kv_draw
