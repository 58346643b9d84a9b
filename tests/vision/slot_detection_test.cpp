#include "vision/vision.hpp"

#include "draft_screen/arena_screen.hpp"
#include "draft_screen/pictures.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

namespace {

// A 15-card pack at 1920 × 1080 in Arena's usual layout, which the detector reads.
KVArenaScreenSpec packSpec() {
    KVArenaScreenSpec spec;
    kKVArenaLayouts[0].applyTo(spec);
    spec.seed = 4;
    return spec;
}

const KVArenaScreen& packScreen() {
    static const KVArenaScreen screen = KVRenderArenaScreen(packSpec());
    return screen;
}

TEST(SlotDetectionTest, RefusesAtOnceWhatCannotHoldAPack) {
    const KVImage& image = packScreen().image;
    ASSERT_TRUE(KVVision::detectSlots(image, 15)) << "the screen used below must be readable";
    for (const int64_t expected : {0, 1, -3}) {
        std::string debug;
        EXPECT_FALSE(KVVision::detectSlots(image, expected, &debug)) << expected;
        EXPECT_EQ(debug, "") << "refused before any work";
    }
    // More cards than any pack: none, whatever the picture.
    EXPECT_FALSE(KVVision::detectSlots(image, 65));
    EXPECT_FALSE(KVVision::detectSlots(KVImage{}, 15));
    EXPECT_FALSE(KVVision::detectSlots(KVTexturedImage(319, 480, 1), 15));
    EXPECT_FALSE(KVVision::detectSlots(KVTexturedImage(640, 239, 1), 15));
    // A bitmap whose pixels do not match its size.
    KVImage broken = KVImage::blank(640, 480);
    broken.rgba.resize(100);
    EXPECT_FALSE(KVVision::detectSlots(broken, 15));
    // Far taller than wide: no card width it can read is tall enough for it.
    EXPECT_FALSE(KVVision::detectSlots(KVTexturedImage(320, 4000, 2), 15));
}

// Pictures that are no screen at all, at sizes the draft screens never have (the smallest
// accepted, odd widths, portrait), asked for small, usual and the largest pack sizes.
TEST(SlotDetectionTest, TexturedPicturesAreNoPack) {
    const std::pair<int, int> sizes[] = {{320, 240},  {641, 479},  {1280, 720}, {1000, 1000},
                                         {1717, 643}, {900, 1500}, {2400, 1350}};
    for (const auto& [width, height] : sizes) {
        const KVImage image = KVTexturedImage(width, height, static_cast<uint32_t>(width));
        for (const int64_t expected : {2, 5, 15, 64}) {
            EXPECT_FALSE(KVVision::detectSlots(image, expected))
                << width << "x" << height << " expected " << expected;
        }
    }
}

TEST(SlotDetectionTest, SlotsComeInReadingOrderWithOneSize) {
    const auto slots = KVVision::detectSlots(packScreen().image, 15);
    ASSERT_TRUE(slots);
    ASSERT_EQ(slots->size(), 15u);
    for (size_t i = 0; i < slots->size(); ++i) {
        const KVNormRect& slot = (*slots)[i];
        EXPECT_EQ(slot.width, slots->front().width);
        EXPECT_EQ(slot.height, slots->front().height);
        // Row i / 8, column i % 8: the same top as the row's first card, the same left as the
        // first row's card above. (Where they lie is the acceptance screens' check.)
        EXPECT_EQ(slot.y, (*slots)[i / 8 * 8].y) << i;
        EXPECT_EQ(slot.x, (*slots)[i % 8].x) << i;
    }
    // The height never runs into the next row.
    EXPECT_LE((*slots)[0].y + (*slots)[0].height, (*slots)[8].y + 1e-12);
}

TEST(SlotDetectionTest, PackRightOfTheFirstThirdIsNotAPack) {
    // The same pack pushed right: its first card edge at working column 400 or so.
    KVArenaScreenSpec spec = packSpec();
    spec.cards = 6;
    spec.left = 0.42;
    spec.sidePanel = 0.0;
    const KVArenaScreen screen = KVRenderArenaScreen(spec);
    std::string debug;
    EXPECT_FALSE(KVVision::detectSlots(screen.image, 6, &debug));
    EXPECT_NE(debug.find("right of 336"), std::string::npos) << debug;
}

TEST(SlotDetectionTest, DebugLinesGoToStandardErrorOnlyWhenAskedFor) {
    {
        KVScopedEnvironment quiet;
        testing::internal::CaptureStderr();
        (void)KVVision::detectSlots(packScreen().image, 15);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    KVScopedEnvironment loud([](KVEnvironment& environment) { environment.visionDebug = true; });
    testing::internal::CaptureStderr();
    (void)KVVision::detectSlots(packScreen().image, 15);
    const std::string lines = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines.rfind("[vision] work=960x540 ", 0), 0u) << lines; // half the frame
    EXPECT_NE(lines.find("-> READ margin="), std::string::npos);
}

} // namespace
