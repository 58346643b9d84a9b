#include "draft_screen/arena_screen.hpp"
#include "draft_screen/painting.hpp"

using namespace kv_draw;

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
    return KVRenderCollectionScreen(width, height, seed, 0, 0);
}

KVImage KVRenderCollectionScreen(int width, int height, uint32_t seed, int columns, int rows) {
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
    const int perRow = columns > 0 ? columns : 8 + rng.below(3);
    rows = rows > 0 ? rows : 4 + rng.below(3);
    double cardH = rng.range(0.08, 0.09) * h;
    const double pitchX0 = rng.range(1.08, 1.2);
    const double pitchY0 = rng.range(1.14, 1.22);
    if (columns > 0) {
        // As large as the grid fits left of the deck list and above the foot.
        cardH = std::min(0.74 * w / (perRow * pitchX0) * kCardAspect, 0.74 * h / (rows * pitchY0));
    }
    const double cardW = cardH / kCardAspect;
    const double pitchX = cardW * pitchX0;
    const double pitchY = cardH * pitchY0;
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

KVImage KVGradientImage(int width, int height, uint8_t top, uint8_t bottom) {
    KVImage image = KVImage::blank(width, height);
    for (int y = 0; y < image.height; ++y) {
        const double t = height > 1 ? static_cast<double>(y) / (height - 1) : 0;
        const uint8_t v = toByte(top + (bottom - top) * t);
        for (int x = 0; x < image.width; ++x) {
            uint8_t* p = image.pixel(x, y);
            p[0] = v;
            p[1] = v;
            p[2] = static_cast<uint8_t>(v / 2 + 40);
            p[3] = 255;
        }
    }
    return image;
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
