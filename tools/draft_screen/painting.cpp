#include "draft_screen/painting.hpp"

#include <numbers>

namespace kv_draw {

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
               const Rgb& colour, double opacity) {
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

} // namespace kv_draw
