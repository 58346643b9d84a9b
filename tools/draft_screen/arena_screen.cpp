#include "draft_screen/arena_screen.hpp"

#include "vision/image_codec.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>

namespace {

constexpr double kCardAspect = 88.0 / 63.0; // height / width of a card

struct Rgb {
    double r = 0, g = 0, b = 0;
};

Rgb mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb scaled(const Rgb& c, double f) {
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

uint32_t mixSeed(uint32_t a, uint32_t b) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// The nearest byte value (fast: a truncation after adding the half, within 0…255).
uint8_t toByte(double v) {
    return static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
}

// Straight-alpha "over" onto a canvas that is not opaque (a card image with rounded corners).
[[gnu::noinline]] void blendOnto(uint8_t* p, const Rgb& c, double a) {
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

Box inset(const Box& b, double d) {
    return {b.x0 + d, b.y0 + d, b.x1 - d, b.y1 - d};
}
Box shifted(const Box& b, double dx, double dy) {
    return {b.x0 + dx, b.y0 + dy, b.x1 + dx, b.y1 + dy};
}

// Signed distance from a point to a box with rounded corners (negative inside).
double roundedBoxDistance(const Box& b, double radius, double px, double py) {
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
PixelSpan pixelSpan(const KVImage& image, const Box& b) {
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
void paint(KVImage& image, const Box& b, double radius, double opacity, const Shade& shade) {
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

void fillBox(KVImage& image, const Box& b, double radius, const Rgb& colour, double opacity = 1) {
    paint(image, b, radius, opacity, [&](double, double) { return colour; });
}

void fillGradient(KVImage& image, const Box& b, double radius, const Rgb& top, const Rgb& bottom,
                  double opacity = 1) {
    paint(image, b, radius, opacity, [&](double, double py) {
        return mix(top, bottom, std::clamp((py - b.y0) / b.height(), 0.0, 1.0));
    });
}

void fillCircle(KVImage& image, double cx, double cy, double r, const Rgb& colour,
                double opacity = 1) {
    fillBox(image, {cx - r, cy - r, cx + r, cy + r}, r, colour, opacity);
}

// A blurred dark shape under something opaque; `covered`, the part of the image that will be
// painted over, is skipped.
void softShadow(KVImage& image, const Box& b, double radius, double blur, double opacity,
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

// Art: soft waves of colour under a few solid discs, laid out relative to the box so that one
// seed at two sizes is the same picture (the recipe of KVTexturedImage). Each wave is the sine
// of a column term plus a row term, expanded by angle addition over per-column and per-row
// tables, so that a screen full of cards draws quickly at any resolution.
void paintPicture(KVImage& image, const Box& b, double radius, uint32_t seed) {
    constexpr int kWaves = 6;
    Rng rng(seed);
    struct Wave {
        double fx, fy, phase, amplitude[3];
    };
    struct Disc {
        double cx, cy, r;
        Rgb colour;
    };
    std::array<Wave, kWaves> waves{};
    for (Wave& w : waves) {
        w = {rng.unit() * 12 - 6, rng.unit() * 12 - 6, rng.unit() * 2 * std::numbers::pi, {}};
        for (double& a : w.amplitude) {
            a = 20 + rng.unit() * 30;
        }
    }
    std::array<Disc, 5> discs{};
    for (Disc& d : discs) {
        d = {rng.unit(), rng.unit(), 0.05 + rng.unit() * 0.2, {}};
        d.colour = {double(rng.next() & 0xff), double(rng.next() & 0xff),
                    double(rng.next() & 0xff)};
    }

    // Tables over the pixels that paint() visits.
    const PixelSpan span = pixelSpan(image, b);
    const int xa = span.xa;
    const int xb = span.xb;
    const int ya = span.ya;
    const int yb = span.yb;
    if (xb <= xa || yb <= ya) {
        return;
    }
    const size_t nx = static_cast<size_t>(xb - xa);
    const size_t ny = static_cast<size_t>(yb - ya);
    std::vector<double> colSin(kWaves * nx), colCos(kWaves * nx);
    std::vector<double> rowSin(kWaves * ny), rowCos(kWaves * ny);
    for (int k = 0; k < kWaves; ++k) {
        for (size_t i = 0; i < nx; ++i) {
            const double u =
                (static_cast<double>(xa) + static_cast<double>(i) + 0.5 - b.x0) / b.width();
            const double a = 2 * std::numbers::pi * waves[k].fx * u + waves[k].phase;
            colSin[k * nx + i] = std::sin(a);
            colCos[k * nx + i] = std::cos(a);
        }
        for (size_t j = 0; j < ny; ++j) {
            const double v =
                (static_cast<double>(ya) + static_cast<double>(j) + 0.5 - b.y0) / b.height();
            const double a = 2 * std::numbers::pi * waves[k].fy * v;
            rowSin[k * ny + j] = std::sin(a);
            rowCos[k * ny + j] = std::cos(a);
        }
    }
    paint(image, b, radius, 1, [&](double px, double py) {
        const double u = (px - b.x0) / b.width();
        const double v = (py - b.y0) / b.height();
        // Later discs lie on top.
        for (size_t k = discs.size(); k-- > 0;) {
            const Disc& d = discs[k];
            if ((u - d.cx) * (u - d.cx) + (v - d.cy) * (v - d.cy) < d.r * d.r) {
                return d.colour;
            }
        }
        const size_t i = static_cast<size_t>(px) - static_cast<size_t>(xa);
        const size_t j = static_cast<size_t>(py) - static_cast<size_t>(ya);
        double c[3] = {128, 128, 128};
        for (int k = 0; k < kWaves; ++k) {
            const double wave =
                colSin[k * nx + i] * rowCos[k * ny + j] + colCos[k * nx + i] * rowSin[k * ny + j];
            for (int ch = 0; ch < 3; ++ch) {
                c[ch] += waves[k].amplitude[ch] * wave;
            }
        }
        return Rgb{std::clamp(c[0], 0.0, 255.0), std::clamp(c[1], 0.0, 255.0),
                   std::clamp(c[2], 0.0, 255.0)};
    });
}

// Text as it looks from a distance: words of glyphs built from stems and bars, `size` high (the
// cap height), from (x, y) at the top left to at most x + maxWidth.
void paintText(KVImage& image, Rng& rng, double x, double y, double size, double maxWidth,
               const Rgb& colour, double opacity = 1) {
    const double stroke = 0.16 * size;
    const double end = x + maxWidth;
    double cx = x;
    while (cx < end) {
        const int letters = 2 + rng.below(7);
        for (int i = 0; i < letters; ++i) {
            const double gw = size * rng.range(0.45, 0.8);
            if (cx + gw > end) {
                return;
            }
            // Bits: left stem, right stem, top bar, middle bar, bottom bar; never without a stem.
            int shape = 1 + rng.below(31);
            if ((shape & 3) == 0) {
                shape |= 1 + rng.below(2);
            }
            if (shape & 1) {
                fillBox(image, {cx, y, cx + stroke, y + size}, 0, colour, opacity);
            }
            if (shape & 2) {
                fillBox(image, {cx + gw - stroke, y, cx + gw, y + size}, 0, colour, opacity);
            }
            for (int bar = 0; bar < 3; ++bar) {
                if (shape & (4 << bar)) {
                    const double by = y + bar * (size - stroke) / 2;
                    fillBox(image, {cx, by, cx + gw, by + stroke}, 0, colour, opacity);
                }
            }
            cx += gw + 0.2 * size;
        }
        cx += 0.5 * size;
    }
}

// Arena's backdrop: a dark painted scene in blues and purples. The smooth part (gradient, clouds,
// a hill line, the vignette) is made on a grid of kStep pixels and stretched; the grain of the
// paint is added per pixel.
void paintBackground(KVImage& image, uint32_t seed) {
    Rng rng(mixSeed(seed, 0xB4C6));
    const int w = image.width;
    const int h = image.height;
    constexpr int kStep = 8;
    const int lw = w / kStep + 2;
    const int lh = h / kStep + 2;

    constexpr int kGrid = 10;
    std::array<std::array<double, kGrid + 1>, kGrid + 1> lattice{};
    for (auto& row : lattice) {
        for (double& v : row) {
            v = rng.unit();
        }
    }
    struct Cloud {
        double cx, cy, r;
        Rgb colour;
    };
    const std::array<Rgb, 4> cloudColours{
        {{70, 50, 120}, {30, 70, 120}, {90, 60, 110}, {40, 90, 110}}};
    std::vector<Cloud> clouds(5 + rng.below(3));
    for (Cloud& c : clouds) {
        c = {rng.unit(), rng.range(0.1, 0.9), rng.range(0.1, 0.3), {}};
        // One draw per statement: the order in which a call's arguments are evaluated is up to
        // the compiler, and the same seed must give the same screen with every compiler.
        const Rgb& colour = cloudColours[rng.below(4)];
        c.colour = scaled(colour, rng.range(0.5, 1.0));
    }
    const Rgb top = mix(Rgb{14, 16, 38}, Rgb{26, 16, 44}, rng.unit());
    const Rgb bottom = mix(Rgb{22, 14, 36}, Rgb{12, 18, 34}, rng.unit());
    const double hill = rng.range(0.55, 0.75);
    const double hillPhase[2] = {rng.range(0, 6.3), rng.range(0, 6.3)};

    const auto smoothNoise = [&lattice](double u, double v) {
        const double gu = u * (kGrid - 1);
        const double gv = v * (kGrid - 1);
        const int iu = std::clamp(static_cast<int>(gu), 0, kGrid - 1);
        const int iv = std::clamp(static_cast<int>(gv), 0, kGrid - 1);
        double fu = gu - iu;
        double fv = gv - iv;
        fu = fu * fu * (3 - 2 * fu);
        fv = fv * fv * (3 - 2 * fv);
        const double a = lattice[iv][iu] * (1 - fu) + lattice[iv][iu + 1] * fu;
        const double b = lattice[iv + 1][iu] * (1 - fu) + lattice[iv + 1][iu + 1] * fu;
        return a * (1 - fv) + b * fv;
    };

    std::vector<Rgb> low(static_cast<size_t>(lw) * static_cast<size_t>(lh));
    const double aspect = static_cast<double>(w) / h;
    for (int j = 0; j < lh; ++j) {
        for (int i = 0; i < lw; ++i) {
            const double u = std::clamp((i + 0.5) * kStep / w, 0.0, 1.0);
            const double v = std::clamp((j + 0.5) * kStep / h, 0.0, 1.0);
            Rgb c = mix(top, bottom, v);
            c = scaled(c, 0.7 + 0.6 * smoothNoise(u, v));
            for (const Cloud& cloud : clouds) {
                const double dx = (u - cloud.cx) * aspect;
                const double dy = v - cloud.cy;
                const double k = std::exp(-(dx * dx + dy * dy) / (cloud.r * cloud.r));
                c = {c.r + cloud.colour.r * k * 0.5, c.g + cloud.colour.g * k * 0.5,
                     c.b + cloud.colour.b * k * 0.5};
            }
            // A dark hill line across the lower part of the scene, soft-edged.
            const double ridge = hill + 0.05 * std::sin(u * 7 + hillPhase[0]) +
                                 0.025 * std::sin(u * 17 + hillPhase[1]);
            const double below = std::clamp((v - ridge) / 0.04 + 0.5, 0.0, 1.0);
            c = scaled(c, 1 - 0.35 * below);
            const double dx = (u - 0.5) * 2;
            const double dy = (v - 0.5) * 2;
            c = scaled(c, std::clamp(1 - 0.45 * (dx * dx * 0.8 + dy * dy), 0.3, 1.0));
            low[static_cast<size_t>(j) * lw + i] = c;
        }
    }

    // The grain: a tile of noise, each row read from its own offset so that nothing repeats.
    Rng grainRng(mixSeed(seed, 0x6A41));
    std::vector<uint8_t> tile(size_t{256} * 256);
    for (uint8_t& t : tile) {
        t = static_cast<uint8_t>(grainRng.next() >> 24);
    }
    std::vector<int> lowColumn(static_cast<size_t>(w));
    std::vector<double> lowWeight(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        const double fx = (x + 0.5) / kStep - 0.5;
        lowColumn[x] = std::clamp(static_cast<int>(std::floor(fx)), 0, lw - 2);
        lowWeight[x] = std::clamp(fx - lowColumn[x], 0.0, 1.0);
    }
    std::vector<Rgb> line(static_cast<size_t>(lw));
    for (int y = 0; y < h; ++y) {
        const double fy = (y + 0.5) / kStep - 0.5;
        const int j = std::clamp(static_cast<int>(std::floor(fy)), 0, lh - 2);
        const double tv = std::clamp(fy - j, 0.0, 1.0);
        for (int i = 0; i < lw; ++i) {
            const size_t at = static_cast<size_t>(j) * lw + i;
            line[i] = mix(low[at], low[at + lw], tv);
        }
        const uint8_t* grainRow = tile.data() + static_cast<size_t>(grainRng.next() >> 24) * 256;
        const uint32_t shift = grainRng.next();
        uint8_t* p = image.pixel(0, y);
        for (int x = 0; x < w; ++x, p += 4) {
            const Rgb c = mix(line[lowColumn[x]], line[lowColumn[x] + 1], lowWeight[x]);
            const int n = grainRow[(static_cast<uint32_t>(x) + shift) & 255];
            const double grain = n * (8.0 / 255) - 4;
            p[0] = toByte(c.r + grain);
            p[1] = toByte(c.g + grain);
            p[2] = toByte(c.b + grain + (n & 3) - 1.5);
            p[3] = 255;
        }
    }
}

const Rgb kBorderBlack{14, 13, 16};
const Rgb kInk{22, 20, 20};
const Rgb kLightText{214, 210, 200};
const Rgb kGold{206, 168, 92};

// The bar across the top of Arena's window: a title, a few words, icons and a button; during a
// draft, the pick timer in the middle.
void paintHeader(KVImage& image, Rng& rng, int wordsLeft, bool timer) {
    const double w = image.width;
    const double h = image.height;
    const double bar = 0.08 * h;
    fillGradient(image, {0, 0, w, bar}, 0, Rgb{12, 11, 22}, Rgb{22, 20, 36}, 0.93);
    fillBox(image, {0, bar - 0.003 * h, w, bar}, 0, Rgb{120, 96, 60}, 0.8);
    fillCircle(image, 0.03 * w, bar / 2, 0.022 * h, kGold, 0.9);
    fillCircle(image, 0.03 * w, bar / 2, 0.014 * h, Rgb{30, 24, 40});
    double x = 0.06 * w;
    for (int i = 0; i < wordsLeft; ++i) {
        const double width = rng.range(0.04, 0.09) * w;
        paintText(image, rng, x, bar * 0.38, 0.022 * h, width, kLightText, 0.9);
        x += width + 0.02 * w;
    }
    if (timer) {
        const Box track{0.42 * w, bar * 0.42, 0.58 * w, bar * 0.58};
        fillBox(image, track, track.height() / 2, Rgb{40, 36, 56});
        fillBox(image,
                {track.x0, track.y0, track.x0 + track.width() * rng.range(0.2, 1.0), track.y1},
                track.height() / 2, Rgb{190, 150, 70});
    }
    for (int i = 0; i < 3; ++i) {
        fillCircle(image, (0.80 + 0.025 * i) * w, bar / 2, 0.013 * h, Rgb{150, 146, 170}, 0.8);
    }
    const Box button{0.875 * w, bar * 0.2, 0.985 * w, bar * 0.8};
    fillGradient(image, button, 0.2 * button.height(), Rgb{232, 150, 60}, Rgb{178, 92, 30});
    paintText(image, rng, button.x0 + 0.012 * w, button.y0 + button.height() * 0.3,
              button.height() * 0.4, button.width() - 0.024 * w, kInk);
}

struct Palette {
    Rgb frame, bar, box;
};

// Frame, title-bar and text-box colours of the card colours: white, blue, black, red, green,
// gold, artifact, land.
const std::array<Palette, 8> kPalettes{{
    {{214, 208, 186}, {236, 230, 212}, {238, 234, 222}},
    {{36, 96, 168}, {176, 206, 232}, {206, 222, 236}},
    {{52, 48, 50}, {160, 152, 150}, {196, 190, 188}},
    {{178, 62, 40}, {232, 180, 156}, {236, 212, 196}},
    {{46, 112, 64}, {178, 208, 176}, {206, 222, 202}},
    {{196, 164, 82}, {232, 214, 160}, {238, 228, 200}},
    {{138, 144, 152}, {200, 204, 210}, {218, 222, 226}},
    {{132, 108, 84}, {206, 190, 170}, {222, 212, 198}},
}};

const std::array<Rgb, 6> kManaColours{{{248, 240, 200},
                                       {160, 200, 235},
                                       {170, 160, 160},
                                       {235, 150, 120},
                                       {150, 200, 150},
                                       {200, 195, 190}}};

// One card face, every part proportional to the card: black border with rounded corners,
// coloured frame, title bar with name and mana cost, art, type line, text box, the collector's
// line in the black foot, and for some cards a power/toughness box.
void paintCardFace(KVImage& image, const Box& card, uint32_t seed) {
    Rng rng(seed);
    const int colour = rng.below(static_cast<int>(kPalettes.size()));
    const Palette& pal = kPalettes[colour];
    const double w = card.width();
    const double h = card.height();
    const auto at = [&](double fx0, double fy0, double fx1, double fy1) {
        return Box{card.x0 + fx0 * w, card.y0 + fy0 * h, card.x0 + fx1 * w, card.y0 + fy1 * h};
    };

    fillBox(image, card, 0.05 * w, kBorderBlack);
    const Box frame = inset(card, 0.042 * w);
    fillGradient(image, frame, 0.015 * w, mix(pal.frame, Rgb{255, 255, 255}, 0.12),
                 scaled(pal.frame, 0.78));
    fillBox(image, {frame.x0, card.y0 + 0.94 * h, frame.x1, frame.y1}, 0, kBorderBlack);
    paintText(image, rng, card.x0 + 0.07 * w, card.y0 + 0.948 * h, 0.014 * h, 0.4 * w,
              Rgb{190, 190, 190}, 0.8);

    const Box title = at(0.06, 0.045, 0.94, 0.103);
    fillGradient(image, title, 0.02 * w, pal.bar, scaled(pal.bar, 0.82));
    paintText(image, rng, title.x0 + 0.035 * w, title.y0 + 0.3 * title.height(),
              0.42 * title.height(), 0.55 * w, kInk, 0.9);
    const int mana = colour == 7 ? 0 : 1 + rng.below(4);
    const double d = 0.62 * title.height();
    for (int i = 0; i < mana; ++i) {
        const double cx = title.x1 - 0.035 * w - d / 2 - i * 1.12 * d;
        const double cy = (title.y0 + title.y1) / 2;
        fillCircle(image, cx + 0.08 * d, cy + 0.08 * d, d / 2, kInk, 0.7);
        fillCircle(image, cx, cy, d / 2, kManaColours[rng.below(6)]);
    }

    const Box art = at(0.08, 0.11, 0.92, 0.555);
    fillBox(image, inset(art, -0.006 * w), 0, scaled(pal.frame, 0.35));
    paintPicture(image, art, 0, mixSeed(seed, 0xA27));

    const Box type = at(0.06, 0.562, 0.94, 0.618);
    fillGradient(image, type, 0.02 * w, pal.bar, scaled(pal.bar, 0.82));
    paintText(image, rng, type.x0 + 0.035 * w, type.y0 + 0.3 * type.height(), 0.4 * type.height(),
              0.6 * w, kInk, 0.9);
    fillCircle(image, type.x1 - 0.06 * w, (type.y0 + type.y1) / 2, 0.25 * type.height(),
               rng.unit() < 0.5 ? kGold : kInk);

    const Box text = at(0.08, 0.626, 0.92, 0.905);
    fillBox(image, text, 0.006 * w, pal.box);
    const int lines = 3 + rng.below(4);
    for (int i = 0; i < lines; ++i) {
        const double y = text.y0 + 0.028 * h + i * 0.042 * h;
        if (y + 0.04 * h > text.y1) {
            break;
        }
        const double width = (i + 1 == lines ? rng.range(0.25, 0.7) : 0.76) * w;
        paintText(image, rng, text.x0 + 0.035 * w, y, 0.021 * h, width, kInk, 0.85);
    }

    if (colour != 7 && rng.unit() < 0.55) {
        const Box pt = at(0.76, 0.878, 0.945, 0.935);
        fillGradient(image, pt, 0.02 * w, pal.bar, scaled(pal.bar, 0.8));
        paintText(image, rng, pt.x0 + 0.04 * w, pt.y0 + 0.25 * pt.height(), 0.5 * pt.height(),
                  0.1 * w, kInk);
    }
}

// One output pixel's share of the source along one axis.
struct Tap {
    int index;
    double weight;
};

// For every output pixel along an axis that the span [start, start + length) touches: the source
// pixels it takes (area average when shrinking, linear interpolation when growing) and how much
// of the pixel the span covers.
struct AxisMap {
    int first = 0;
    std::vector<std::vector<Tap>> taps;
    std::vector<double> cover;
};

AxisMap mapAxis(double start, double length, int sourceSize, int imageSize) {
    AxisMap map;
    map.first = std::max(0, static_cast<int>(std::floor(start)));
    const int last = std::min(imageSize, static_cast<int>(std::ceil(start + length)));
    const double scale = sourceSize / length;
    for (int p = map.first; p < last; ++p) {
        const double a = std::max(static_cast<double>(p), start);
        const double b = std::min(p + 1.0, start + length);
        std::vector<Tap> taps;
        if (b > a) {
            const double sa = (a - start) * scale;
            const double sb = (b - start) * scale;
            if (scale >= 1) {
                for (int s = static_cast<int>(sa); s < sb && s < sourceSize; ++s) {
                    const double weight = std::min(sb, s + 1.0) - std::max(sa, double(s));
                    if (weight > 0) {
                        taps.push_back({s, weight});
                    }
                }
            } else {
                const double c = std::clamp((sa + sb) / 2 - 0.5, 0.0, sourceSize - 1.0);
                const int s0 = std::min(static_cast<int>(c), std::max(0, sourceSize - 2));
                const double f = std::clamp(c - s0, 0.0, 1.0);
                taps.push_back({s0, 1 - f});
                taps.push_back({std::min(s0 + 1, sourceSize - 1), f});
            }
            double sum = 0;
            for (const Tap& t : taps) {
                sum += t.weight;
            }
            for (Tap& t : taps) {
                t.weight /= sum;
            }
        }
        map.cover.push_back(std::max(0.0, b - a));
        map.taps.push_back(std::move(taps));
    }
    return map;
}

// A card image scaled into the box, its alpha (transparent corners) respected.
void paintCardImage(KVImage& image, const Box& card, const KVImage& source) {
    if (source.empty() ||
        source.rgba.size() < source.stride() * static_cast<size_t>(source.height)) {
        return;
    }
    const AxisMap mx = mapAxis(card.x0, card.width(), source.width, image.width);
    const AxisMap my = mapAxis(card.y0, card.height(), source.height, image.height);
    for (size_t j = 0; j < my.taps.size(); ++j) {
        for (size_t i = 0; i < mx.taps.size(); ++i) {
            double alpha = 0;
            double c[3] = {0, 0, 0};
            for (const Tap& ty : my.taps[j]) {
                for (const Tap& tx : mx.taps[i]) {
                    const uint8_t* s = source.pixel(tx.index, ty.index);
                    const double wgt = tx.weight * ty.weight * s[3];
                    alpha += wgt;
                    c[0] += wgt * s[0];
                    c[1] += wgt * s[1];
                    c[2] += wgt * s[2];
                }
            }
            if (alpha <= 0) {
                continue;
            }
            blend(image.pixel(mx.first + static_cast<int>(i), my.first + static_cast<int>(j)),
                  {c[0] / alpha, c[1] / alpha, c[2] / alpha},
                  alpha / 255.0 * mx.cover[i] * my.cover[j]);
        }
    }
}

// The shadow that lifts a card off the backdrop.
void paintCardShadow(KVImage& image, const Box& card) {
    const double w = card.width();
    softShadow(image, shifted(card, 0.012 * w, 0.03 * w), 0.06 * w, 0.08 * w, 0.6,
               inset(card, 0.06 * w));
}

// A list of cards as Arena shows a deck or the picks: slim bars, each with a cost bubble, a name
// and mana symbols, coloured by the card's colour.
void paintCardList(KVImage& image, Rng& rng, const Box& area, int count) {
    const double h = image.height;
    const double barH = 0.03 * h;
    const double gap = 0.0045 * h;
    for (int i = 0; i < count; ++i) {
        const double y = area.y0 + i * (barH + gap);
        if (y + barH > area.y1) {
            break;
        }
        const Palette& pal = kPalettes[rng.below(static_cast<int>(kPalettes.size()))];
        const Box bar{area.x0, y, area.x1, y + barH};
        fillGradient(image, bar, 0.15 * barH, scaled(pal.frame, 0.55), scaled(pal.frame, 0.35));
        fillBox(image, {bar.x1 - 0.3 * bar.width(), bar.y0, bar.x1, bar.y1}, 0.15 * barH,
                scaled(pal.frame, 0.8), 0.6);
        fillCircle(image, bar.x0 + 0.6 * barH, y + barH / 2, 0.36 * barH, Rgb{60, 56, 70});
        paintText(image, rng, bar.x0 + 0.45 * barH, y + 0.32 * barH, 0.36 * barH, 0.4 * barH,
                  kLightText);
        paintText(image, rng, bar.x0 + 1.4 * barH, y + 0.3 * barH, 0.4 * barH,
                  bar.width() * rng.range(0.3, 0.55), kLightText);
        const int mana = 1 + rng.below(3);
        for (int m = 0; m < mana; ++m) {
            fillCircle(image, bar.x1 - (0.6 + 0.8 * m) * barH, y + barH / 2, 0.3 * barH,
                       kManaColours[rng.below(6)]);
        }
    }
}

// The panel on the right: a framed dark pane with a heading and the list of picks.
void paintSidePanel(KVImage& image, Rng& rng, double fraction, int picked) {
    const double w = image.width;
    const double h = image.height;
    const Box panel{(1 - fraction) * w + 0.008 * w, 0.095 * h, w - 0.006 * w, 0.935 * h};
    fillBox(image, panel, 0.01 * h, Rgb{92, 88, 120}, 0.55);
    fillBox(image, inset(panel, std::max(1.0, 0.0015 * h)), 0.01 * h, Rgb{9, 9, 18}, 0.82);
    paintText(image, rng, panel.x0 + 0.02 * h, panel.y0 + 0.018 * h, 0.02 * h, panel.width() * 0.5,
              kLightText);
    paintText(image, rng, panel.x1 - 0.07 * h, panel.y0 + 0.018 * h, 0.02 * h, 0.05 * h, kGold);
    fillBox(image,
            {panel.x0 + 0.01 * h, panel.y0 + 0.05 * h, panel.x1 - 0.01 * h, panel.y0 + 0.052 * h},
            0, Rgb{120, 110, 150}, 0.6);
    paintCardList(
        image, rng,
        {panel.x0 + 0.012 * h, panel.y0 + 0.065 * h, panel.x1 - 0.012 * h, panel.y1 - 0.012 * h},
        picked);
}

// The strip along the bottom: a few words and the pick button.
void paintFooter(KVImage& image, Rng& rng) {
    const double w = image.width;
    const double h = image.height;
    fillGradient(image, {0, 0.955 * h, w, h}, 0, Rgb{16, 14, 26}, Rgb{8, 8, 14}, 0.85);
    paintText(image, rng, 0.03 * w, 0.97 * h, 0.016 * h, 0.25 * w, kLightText, 0.7);
    const Box button{0.84 * w, 0.943 * h, 0.98 * w, 0.993 * h};
    fillGradient(image, button, 0.25 * button.height(), Rgb{232, 150, 60}, Rgb{170, 88, 28});
    paintText(image, rng, button.x0 + 0.02 * w, button.y0 + 0.3 * button.height(),
              0.4 * button.height(), button.width() - 0.04 * w, kInk);
}

std::vector<Box> cardBoxes(const KVArenaScreenSpec& spec) {
    std::vector<Box> boxes;
    if (spec.perRow < 1) {
        return boxes;
    }
    const double cardH = spec.cardHeight * spec.height;
    const double cardW = cardH / kCardAspect;
    for (int i = 0; i < spec.cards; ++i) {
        const int row = i / spec.perRow;
        const int column = i % spec.perRow;
        const double x = spec.left * spec.width + column * spec.columnPitch * cardW;
        const double y = spec.top * spec.height + row * spec.rowPitch * cardH;
        boxes.push_back({x, y, x + cardW, y + cardH});
    }
    return boxes;
}

KVImage throughJpeg(KVImage image, int quality) {
    if (quality <= 0) {
        return image;
    }
    const std::optional<std::string> bytes = KVEncodeJPEG(image, quality);
    if (!bytes) {
        return image;
    }
    std::optional<KVImage> decoded = KVImageFromData(*bytes);
    return decoded ? std::move(*decoded) : image;
}

} // namespace

KVArenaScreen KVRenderArenaScreen(const KVArenaScreenSpec& spec) {
    KVArenaScreen screen;
    screen.image = KVImage::blank(spec.width, spec.height);
    if (screen.image.empty()) {
        return screen;
    }
    Rng rng(mixSeed(spec.seed, 0x51DE));
    paintBackground(screen.image, spec.seed);
    paintHeader(screen.image, rng, 2, true);
    // Picks so far: whole packs before this one, and this pack's cards already taken.
    const int pack = 1 + rng.below(3);
    const int picked = 15 * (pack - 1) + std::max(0, 15 - spec.cards);
    paintSidePanel(screen.image, rng, spec.sidePanel, picked);
    paintFooter(screen.image, rng);

    const std::vector<Box> boxes = cardBoxes(spec);
    for (size_t i = 0; i < boxes.size(); ++i) {
        const Box& card = boxes[i];
        paintCardShadow(screen.image, card);
        if (spec.cardImages.empty()) {
            paintCardFace(screen.image, card, mixSeed(spec.seed, static_cast<uint32_t>(i) + 1));
        } else {
            paintCardImage(screen.image, card, spec.cardImages[i % spec.cardImages.size()]);
        }
        screen.slots.push_back({card.x0 / spec.width, card.y0 / spec.height,
                                card.width() / spec.width, card.height() / spec.height});
    }
    screen.image = throughJpeg(std::move(screen.image), spec.jpegQuality);
    return screen;
}

std::string KVArenaLayoutProblem(const KVArenaScreenSpec& spec) {
    char text[160];
    if (spec.width <= 0 || spec.height <= 0 || spec.cards < 1 || spec.perRow < 1 ||
        spec.perRow > 8) {
        return "no pack layout (size, card count or cards per row)";
    }
    const int rows = (spec.cards + spec.perRow - 1) / spec.perRow;
    const std::vector<Box> boxes = cardBoxes(spec);
    double right = 0;
    double bottom = 0;
    for (const Box& b : boxes) {
        right = std::max(right, b.x1 / spec.width);
        bottom = std::max(bottom, b.y1 / spec.height);
    }
    if (rows > 4) {
        std::snprintf(text, sizeof text, "%d rows (at most 4)", rows);
    } else if (spec.cardHeight < 0.11 || spec.cardHeight > 0.38) {
        std::snprintf(text, sizeof text, "card height %.3f outside 0.11…0.38", spec.cardHeight);
    } else if (spec.columnPitch < 1.0 || spec.columnPitch > 1.35) {
        std::snprintf(text, sizeof text, "column pitch %.3f outside 1…1.35", spec.columnPitch);
    } else if (rows > 1 && (spec.rowPitch < 1.0 || spec.rowPitch > 1.35)) {
        std::snprintf(text, sizeof text, "row pitch %.3f outside 1…1.35", spec.rowPitch);
    } else if (spec.left < 0 || spec.left > 0.35) {
        std::snprintf(text, sizeof text, "first column at %.3f (0…0.35)", spec.left);
    } else if (spec.top < 0.10 || spec.top > 0.25) {
        std::snprintf(text, sizeof text, "first row at %.3f (0.10…0.25)", spec.top);
    } else if (bottom > 0.96) {
        std::snprintf(text, sizeof text, "block ends at %.3f, below 0.96", bottom);
    } else if (right > 1 - spec.sidePanel) {
        std::snprintf(text, sizeof text, "block reaches %.3f, under the side panel at %.3f", right,
                      1 - spec.sidePanel);
    } else {
        return {};
    }
    return text;
}

KVImage KVRenderMenuScreen(int width, int height, uint32_t seed) {
    KVImage image = KVImage::blank(width, height);
    if (image.empty()) {
        return image;
    }
    Rng rng(mixSeed(seed, 0x3E1F));
    const double w = width;
    const double h = height;
    paintBackground(image, seed);
    paintHeader(image, rng, 5, false);

    // The featured event: a large picture with its title on a dark foot and a button.
    const Box banner{0.03 * w, 0.12 * h, 0.62 * w, 0.78 * h};
    softShadow(image, shifted(banner, 0, 0.006 * h), 0.012 * h, 0.03 * h, 0.6);
    paintPicture(image, banner, 0.012 * h, mixSeed(seed, 1));
    fillGradient(image, {banner.x0, banner.y1 - 0.2 * h, banner.x1, banner.y1}, 0.012 * h,
                 Rgb{10, 10, 20}, Rgb{6, 6, 12}, 0.75);
    paintText(image, rng, banner.x0 + 0.03 * w, banner.y1 - 0.16 * h, 0.045 * h, 0.3 * w,
              kLightText);
    paintText(image, rng, banner.x0 + 0.03 * w, banner.y1 - 0.085 * h, 0.02 * h, 0.35 * w,
              Rgb{170, 168, 180});
    const Box join{banner.x1 - 0.16 * w, banner.y1 - 0.13 * h, banner.x1 - 0.03 * w,
                   banner.y1 - 0.06 * h};
    fillGradient(image, join, 0.2 * join.height(), Rgb{232, 150, 60}, Rgb{178, 92, 30});
    paintText(image, rng, join.x0 + 0.02 * w, join.y0 + 0.3 * join.height(), 0.4 * join.height(),
              join.width() - 0.04 * w, kInk);

    // Three event tiles of different heights, a picture on the left of each.
    const double heights[3] = {0.24, 0.18, 0.2};
    double y = 0.12 * h;
    for (int i = 0; i < 3; ++i) {
        const Box tile{0.65 * w, y, 0.97 * w, y + heights[i] * h};
        softShadow(image, shifted(tile, 0, 0.005 * h), 0.01 * h, 0.025 * h, 0.5);
        fillGradient(image, tile, 0.01 * h, Rgb{40, 36, 62}, Rgb{22, 20, 38});
        paintPicture(image, {tile.x0, tile.y0, tile.x0 + 0.45 * tile.width(), tile.y1}, 0.01 * h,
                     mixSeed(seed, 10 + i));
        const double tx = tile.x0 + 0.5 * tile.width();
        paintText(image, rng, tx, tile.y0 + 0.03 * h, 0.025 * h, 0.45 * tile.width(), kLightText);
        paintText(image, rng, tx, tile.y0 + 0.075 * h, 0.016 * h, 0.42 * tile.width(),
                  Rgb{160, 158, 172});
        y = tile.y1 + 0.02 * h;
    }

    // Daily objectives: rings with a few words under them.
    for (int i = 0; i < 3; ++i) {
        const double cx = (0.08 + 0.1 * i) * w;
        const double cy = 0.87 * h;
        fillCircle(image, cx, cy, 0.05 * h, kGold, 0.9);
        fillCircle(image, cx, cy, 0.042 * h, Rgb{24, 22, 40});
        paintText(image, rng, cx - 0.015 * h, cy - 0.012 * h, 0.024 * h, 0.03 * h, kLightText);
    }
    const Box play{0.8 * w, 0.84 * h, 0.97 * w, 0.94 * h};
    softShadow(image, shifted(play, 0, 0.005 * h), 0.02 * h, 0.03 * h, 0.6);
    fillGradient(image, play, 0.25 * play.height(), Rgb{240, 160, 66}, Rgb{180, 90, 26});
    paintText(image, rng, play.x0 + 0.04 * w, play.y0 + 0.3 * play.height(), 0.4 * play.height(),
              play.width() - 0.08 * w, kInk);
    return image;
}

KVImage KVRenderCollectionScreen(int width, int height, uint32_t seed) {
    KVImage image = KVImage::blank(width, height);
    if (image.empty()) {
        return image;
    }
    Rng rng(mixSeed(seed, 0xC011));
    const double w = width;
    const double h = height;
    paintBackground(image, seed);
    paintHeader(image, rng, 4, false);

    // Filters: a search box and the colour buttons.
    const Box search{0.03 * w, 0.1 * h, 0.22 * w, 0.145 * h};
    fillBox(image, search, search.height() / 2, Rgb{30, 28, 46});
    paintText(image, rng, search.x0 + 0.015 * w, search.y0 + 0.3 * search.height(),
              0.4 * search.height(), 0.1 * w, Rgb{130, 128, 140});
    for (int i = 0; i < 6; ++i) {
        fillCircle(image, (0.25 + 0.03 * i) * w, (search.y0 + search.y1) / 2, 0.016 * h,
                   kManaColours[i]);
    }

    // The collection: rows of small equal cards, each with its copies owned as pips below.
    const int perRow = 8 + rng.below(3);
    const int rows = 4 + rng.below(3);
    const double cardH = rng.range(0.08, 0.09) * h;
    const double cardW = cardH / kCardAspect;
    const double pitchX = cardW * rng.range(1.08, 1.2);
    const double pitchY = cardH * rng.range(1.14, 1.22);
    const double x0 = 0.03 * w;
    const double y0 = 0.18 * h;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < perRow; ++c) {
            const Box card{x0 + c * pitchX, y0 + r * pitchY, x0 + c * pitchX + cardW,
                           y0 + r * pitchY + cardH};
            paintCardShadow(image, card);
            paintCardFace(image, card, mixSeed(seed, static_cast<uint32_t>(100 + r * 16 + c)));
            const int owned = 1 + rng.below(4);
            for (int p = 0; p < 4; ++p) {
                fillBox(image,
                        {card.x0 + (0.2 + 0.16 * p) * cardW, card.y1 + 0.03 * cardH,
                         card.x0 + (0.32 + 0.16 * p) * cardW, card.y1 + 0.06 * cardH},
                        0, p < owned ? kGold : Rgb{60, 58, 70});
            }
        }
    }
    paintText(image, rng, x0, 0.93 * h, 0.018 * h, 0.2 * w, kLightText, 0.8);

    // The deck being built, on the right.
    paintSidePanel(image, rng, 0.22, 14 + rng.below(10));
    return image;
}

KVImage KVRenderCardFace(int width, int height, uint32_t seed) {
    KVImage image = KVImage::blank(width, height);
    if (!image.empty()) {
        paintCardFace(image, {0, 0, static_cast<double>(width), static_cast<double>(height)}, seed);
    }
    return image;
}

// The screens the tests share.
namespace {

// The window sizes, each with how many layouts per pack size it is drawn in: the large screens
// are the slowest to draw, so they get fewer.
struct Size {
    int width, height, layouts;
};
constexpr std::array<Size, 4> kSizes{
    {{1280, 720, 5}, {1920, 1080, 4}, {2560, 1440, 3}, {3840, 2160, 1}}};

} // namespace

const std::vector<KVImage>& KVHostedCardFaces() {
    static const std::vector<KVImage> images = [] {
        std::vector<KVImage> list;
        for (uint32_t seed = 501; seed < 506; ++seed) {
            list.push_back(KVRenderCardFace(488, 680, seed));
        }
        return list;
    }();
    return images;
}

std::vector<KVArenaScreenSpec> KVArenaAcceptanceScreens() {
    std::vector<KVArenaScreenSpec> specs;
    constexpr std::array<int, 4> kPacks{15, 14, 13, 8};
    for (size_t si = 0; si < kSizes.size(); ++si) {
        for (size_t pi = 0; pi < kPacks.size(); ++pi) {
            for (int l = 0; l < kSizes[si].layouts; ++l) {
                const KVArenaLayout& layout =
                    kKVArenaLayouts[(si * 3 + pi + 3 * static_cast<size_t>(l)) %
                                    kKVArenaLayouts.size()];
                const int n = static_cast<int>(specs.size());
                KVArenaScreenSpec spec;
                spec.width = kSizes[si].width;
                spec.height = kSizes[si].height;
                spec.cards = kPacks[pi];
                spec.perRow = 8;
                layout.applyTo(spec);
                spec.seed = 1000 + static_cast<uint32_t>(n);
                spec.jpegQuality = n % 4 == 3 ? 0 : 80 + (n * 7) % 11;
                if (n % 9 == 4) {
                    spec.cardImages = KVHostedCardFaces();
                }
                specs.push_back(spec);
            }
        }
    }
    return specs;
}

std::string KVDescribeArenaScreen(const KVArenaScreenSpec& spec) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "%dx%d cards=%d perRow=%d cardHeight=%.3f columnPitch=%.2f rowPitch=%.2f "
                  "left=%.3f top=%.3f sidePanel=%.2f seed=%u jpeg=%d%s",
                  spec.width, spec.height, spec.cards, spec.perRow, spec.cardHeight,
                  spec.columnPitch, spec.rowPitch, spec.left, spec.top, spec.sidePanel, spec.seed,
                  spec.jpegQuality, spec.cardImages.empty() ? "" : " cardImages");
    return text;
}

KVImage KVUniformImage(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    KVImage image = KVImage::blank(width, height);
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        image.rgba[i] = r;
        image.rgba[i + 1] = g;
        image.rgba[i + 2] = b;
        image.rgba[i + 3] = 255;
    }
    return image;
}

std::vector<KVNamedScreen> KVScreensWithoutAPack() {
    std::vector<KVNamedScreen> screens;
    for (const Size& size : {kSizes[0], kSizes[1], kSizes[2]}) {
        const std::string suffix = std::to_string(size.width) + "x" + std::to_string(size.height);
        screens.push_back({"menu_" + suffix, KVRenderMenuScreen(size.width, size.height, 7)});
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            screens.push_back({"collection_" + suffix + "_" + std::to_string(seed),
                               KVRenderCollectionScreen(size.width, size.height, seed)});
        }
        // The draft screen between two picks: panels and picks list, the pack not dealt yet.
        KVArenaScreenSpec empty;
        empty.width = size.width;
        empty.height = size.height;
        empty.cards = 0;
        empty.seed = 77;
        empty.jpegQuality = 85;
        screens.push_back({"between_picks_" + suffix, KVRenderArenaScreen(empty).image});
    }
    screens.push_back({"menu_3840x2160", KVRenderMenuScreen(3840, 2160, 8)});
    return screens;
}
