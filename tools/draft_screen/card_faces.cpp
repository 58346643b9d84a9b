#include "draft_screen/painting.hpp"

#include <numbers>

namespace kv_draw {

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

} // namespace kv_draw

using namespace kv_draw;

KVImage KVRenderCardFace(int width, int height, uint32_t seed) {
    KVImage image = KVImage::blank(width, height);
    if (!image.empty()) {
        paintCardFace(image, {0, 0, static_cast<double>(width), static_cast<double>(height)}, seed);
    }
    return image;
}

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
