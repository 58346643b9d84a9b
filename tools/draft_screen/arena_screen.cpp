#include "draft_screen/arena_screen.hpp"
#include "draft_screen/painting.hpp"

#include "vision/image_codec.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>

namespace kv_draw {

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

} // namespace kv_draw

using namespace kv_draw;

namespace {

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
    }
    screen.slots = KVArenaScreenSlots(spec);
    screen.image = throughJpeg(std::move(screen.image), spec.jpegQuality);
    return screen;
}

std::vector<KVNormRect> KVArenaScreenSlots(const KVArenaScreenSpec& spec) {
    std::vector<KVNormRect> slots;
    if (spec.width <= 0 || spec.height <= 0) {
        return slots;
    }
    for (const Box& card : cardBoxes(spec)) {
        slots.push_back({card.x0 / spec.width, card.y0 / spec.height, card.width() / spec.width,
                         card.height() / spec.height});
    }
    return slots;
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
