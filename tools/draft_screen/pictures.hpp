#pragma once

// Plain pictures for the vision tests and benchmarks: textured scenes and gray images.

#include "base/image.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

// A deterministic textured picture: soft waves in each channel under a few solid discs, drawn
// relative to the image's size so that one seed at two sizes is the same scene. Only raw
// mt19937 output is used (its distributions differ between standard libraries).
inline KVImage KVTexturedImage(int width, int height, uint32_t seed) {
    std::mt19937 rng(seed);
    const auto unit = [&rng] { return static_cast<double>(rng()) / 4294967296.0; };
    struct Wave {
        double fx, fy, phase, amplitude[3];
    };
    struct Disc {
        double cx, cy, r;
        uint8_t colour[3];
    };
    std::vector<Wave> waves(6);
    for (Wave& w : waves) {
        w = {unit() * 12 - 6, unit() * 12 - 6, unit() * 2 * std::numbers::pi, {}};
        for (double& a : w.amplitude) {
            a = 20 + unit() * 30;
        }
    }
    std::vector<Disc> discs(5);
    for (Disc& d : discs) {
        d = {unit(), unit(), 0.05 + unit() * 0.2, {}};
        for (uint8_t& c : d.colour) {
            c = static_cast<uint8_t>(rng() & 0xff);
        }
    }
    KVImage image = KVImage::blank(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = (x + 0.5) / width;
            const double v = (y + 0.5) / height;
            uint8_t* p = image.pixel(x, y);
            for (int c = 0; c < 3; ++c) {
                double value = 128;
                for (const Wave& w : waves) {
                    value += w.amplitude[c] *
                             std::sin(2 * std::numbers::pi * (w.fx * u + w.fy * v) + w.phase);
                }
                p[c] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
            }
            p[3] = 255;
            for (const Disc& d : discs) {
                if ((u - d.cx) * (u - d.cx) + (v - d.cy) * (v - d.cy) < d.r * d.r) {
                    std::copy(d.colour, d.colour + 3, p);
                }
            }
        }
    }
    return image;
}

// An opaque gray image from its values, rows top first.
inline KVImage KVGrayImage(int width, int height, const std::vector<uint8_t>& values) {
    KVImage image = KVImage::blank(width, height);
    for (size_t i = 0; i < values.size() && i < image.rgba.size() / 4; ++i) {
        std::fill_n(image.rgba.begin() + static_cast<std::ptrdiff_t>(4 * i), 3, values[i]);
        image.rgba[4 * i + 3] = 255;
    }
    return image;
}
