#include "vision/vision.hpp"

#include "draft_screen/arena_screen.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Whether the slots are exactly the pack's cards, each edge within 1.5 % of the card's width of
// the drawn card (the art hash moves by about 25 bits per 1 % of shift); otherwise `where` names
// the worst edge, so that a wrong layout is one message.
bool readsTruth(const std::vector<KVNormRect>& slots, const KVArenaScreen& screen,
                const KVArenaScreenSpec& spec, std::string* where) {
    double worst = slots.size() == screen.slots.size() ? 0 : 1e9;
    *where = worst > 0 ? std::to_string(slots.size()) + " slots" : "";
    for (size_t i = 0; i < slots.size() && i < screen.slots.size(); ++i) {
        const KVNormRect& got = slots[i];
        const KVNormRect& want = screen.slots[i];
        const double errors[4] = {
            (got.x - want.x) * spec.width,
            (got.y - want.y) * spec.height,
            (got.x + got.width - want.x - want.width) * spec.width,
            (got.y + got.height - want.y - want.height) * spec.height,
        };
        const char* names[4] = {"left", "top", "right", "bottom"};
        for (int e = 0; e < 4; ++e) {
            if (std::abs(errors[e]) > worst) {
                worst = std::abs(errors[e]);
                *where = "slot " + std::to_string(i) + " " + names[e] + " off by " +
                         std::to_string(errors[e]) + " px";
            }
        }
    }
    const double cardWidth = screen.slots.empty() ? 0 : screen.slots.front().width * spec.width;
    return worst <= 0.015 * cardWidth;
}

} // namespace

// The acceptance matrix. A screen the detector reads must give exactly the pack's cards, each
// edge within 1.5 % of the card's width of the drawn card; a screen it cannot read is reported
// with its reasons (a miss: the caller then waits for the next frame).
TEST(SlotDetectionScreens, ReadsDraftScreensOrFindsNothing) {
    const std::vector<KVArenaScreenSpec> specs = KVArenaAcceptanceScreens();
    int found = 0;
    for (size_t n = 0; n < specs.size(); ++n) {
        const KVArenaScreenSpec& spec = specs[n];
        ASSERT_EQ(KVArenaLayoutProblem(spec), "") << KVDescribeArenaScreen(spec);
        const KVArenaScreen screen = KVRenderArenaScreen(spec);
        const std::string name = KVDescribeArenaScreen(spec);

        std::string debug;
        const auto slots = KVVision::detectSlots(screen.image, spec.cards, &debug);
        if (!slots) {
            std::cout << "[ miss ] " << name << "\n" << debug;
            continue;
        }
        ++found;
        std::string where;
        EXPECT_TRUE(readsTruth(*slots, screen, spec, &where)) << name << ": " << where << "\n"
                                                              << debug;
    }
    std::cout << "found " << found << " of " << specs.size() << " screens\n";
    // A screen that stops being found is a miss, not a failure, above: the count of screens
    // read must not fall.
    EXPECT_GE(found, 49) << "fewer draft screens read than before";
}

// Screens with cards but no pack must not produce one: the caller would then identify cards
// that are not being offered. The expected count is the caller's default (15) or a real pack
// size.
TEST(SlotDetectionScreens, ScreensWithoutAPackGiveNone) {
    const std::vector<KVNamedScreen> screens = KVScreensWithoutAPack();
    ASSERT_GE(screens.size(), 20u);

    for (const KVNamedScreen& screen : screens) {
        for (const int64_t expected : {15, 14, 13, 8}) {
            std::string debug;
            const auto slots = KVVision::detectSlots(screen.image, expected, &debug);
            EXPECT_FALSE(slots.has_value())
                << screen.name << " read as a pack of " << expected << "\n"
                << debug;
        }
    }
}

// Packs the acceptance matrix never draws: other window sizes and aspects, short rows (three and
// four pack rows, so the later bands and the row pitch between them matter) and packs of a few
// cards. Each is read right or missed, never read wrongly; asked for one card more than the pack
// holds, none is read at all.
TEST(SlotDetectionScreens, OtherPackShapesAreReadRightOrMissed) {
    struct Shape {
        int width, height, cards, perRow;
        double cardHeight, columnPitch, rowPitch, left, top;
    };
    const std::array<Shape, 16> shapes{{
        {1366, 768, 15, 5, 0.18, 1.06, 1.08, 0.04, 0.12},
        {1600, 900, 14, 4, 0.17, 1.10, 1.12, 0.05, 0.11},
        {1440, 900, 12, 4, 0.23, 1.05, 1.10, 0.04, 0.14},
        {1024, 768, 9, 3, 0.24, 1.08, 1.06, 0.06, 0.13},
        {2560, 1080, 15, 8, 0.28, 1.04, 1.07, 0.05, 0.15},
        {1920, 1080, 2, 8, 0.30, 1.12, 1.10, 0.10, 0.20},
        {1920, 1080, 5, 8, 0.26, 1.20, 1.10, 0.20, 0.16},
        {1280, 720, 11, 6, 0.25, 1.34, 1.34, 0.03, 0.12},
        {1280, 720, 13, 7, 0.30, 1.00, 1.00, 0.02, 0.11},
        {1920, 1080, 16, 4, 0.19, 1.15, 1.02, 0.08, 0.10},
        {1920, 1200, 10, 5, 0.26, 1.07, 1.25, 0.05, 0.12},
        {2048, 1152, 8, 4, 0.36, 1.05, 1.05, 0.05, 0.13},
        {1680, 1050, 6, 3, 0.12, 1.30, 1.30, 0.30, 0.24},
        {3000, 1688, 15, 8, 0.21, 1.05, 1.08, 0.04, 0.14},
        {800, 600, 15, 8, 0.22, 1.05, 1.08, 0.04, 0.14},
        {1280, 1024, 14, 7, 0.20, 1.09, 1.15, 0.07, 0.17},
    }};
    int right = 0;
    for (size_t i = 0; i < shapes.size(); ++i) {
        const Shape& s = shapes[i];
        KVArenaScreenSpec spec;
        spec.width = s.width;
        spec.height = s.height;
        spec.cards = s.cards;
        spec.perRow = s.perRow;
        KVArenaLayout{s.cardHeight, s.columnPitch, s.rowPitch, s.left, s.top, 0.2}.applyTo(spec);
        spec.seed = 2000 + static_cast<uint32_t>(i);
        spec.jpegQuality = i % 3 == 0 ? 0 : 75 + static_cast<int>(i);
        if (i % 5 == 2) {
            spec.cardImages = KVHostedCardFaces();
        }
        SCOPED_TRACE(KVDescribeArenaScreen(spec));
        const KVArenaScreen screen = KVRenderArenaScreen(spec);
        const auto slots = KVVision::detectSlots(screen.image, spec.cards);
        std::string where;
        const bool readRight = slots && readsTruth(*slots, screen, spec, &where);
        EXPECT_FALSE(slots && !readRight) << where;
        right += readRight ? 1 : 0;
        EXPECT_FALSE(KVVision::detectSlots(screen.image, spec.cards + 1));
    }
    EXPECT_GE(right, 14) << "fewer shapes read right than before";
}
