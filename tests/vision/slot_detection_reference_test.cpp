#include "vision/vision.hpp"

#include "draft_screen/arena_screen.hpp"
#include "vision/reference_slot_detector.hpp"
#include "vision/test_images.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

// The library's detector is built for speed (histogram percentiles, integer running sums, binary
// searches, shortcuts); the plain reference beside these tests reads the screen the slow, obvious
// way. Both must give the very same rectangles, to the last bit, and the same debug lines, which
// trace every intermediate choice (peaks, widths, chains, bands, the reason each chain fails).

namespace {

std::string firstDifferentLine(const std::string& a, const std::string& b) {
    std::istringstream sa(a), sb(b);
    std::string la, lb;
    for (int line = 1;; ++line) {
        const bool moreA = static_cast<bool>(std::getline(sa, la));
        const bool moreB = static_cast<bool>(std::getline(sb, lb));
        if (!moreA && !moreB) {
            return "texts equal";
        }
        if (!moreA || !moreB || la != lb) {
            return "line " + std::to_string(line) + ":\n  library:   " + (moreA ? la : "(end)") +
                   "\n  reference: " + (moreB ? lb : "(end)");
        }
    }
}

std::string rectText(const KVNormRect& r) {
    char text[160];
    std::snprintf(text, sizeof text, "(%.17g, %.17g, %.17g, %.17g)", r.x, r.y, r.width, r.height);
    return text;
}

// Both detectors on one image: the same answer, rectangle for rectangle and bit for bit, and the
// same debug text.
testing::AssertionResult sameReading(const KVImage& image, int64_t expected, bool* read = nullptr) {
    std::string libraryDebug, referenceDebug;
    const auto library = KVVision::detectSlots(image, expected, &libraryDebug);
    const auto reference = KVReferenceDetectSlots(image, expected, &referenceDebug);
    if (read != nullptr) {
        *read = library.has_value();
    }
    if (library.has_value() != reference.has_value()) {
        return testing::AssertionFailure()
               << "library " << (library ? "reads a pack" : "finds none") << ", reference "
               << (reference ? "reads a pack" : "finds none") << "\n"
               << firstDifferentLine(libraryDebug, referenceDebug);
    }
    if (library) {
        if (library->size() != reference->size()) {
            return testing::AssertionFailure() << library->size() << " slots against "
                                               << reference->size() << " in the reference";
        }
        for (size_t i = 0; i < library->size(); ++i) {
            const KVNormRect& a = (*library)[i];
            const KVNormRect& b = (*reference)[i];
            if (a.x != b.x || a.y != b.y || a.width != b.width || a.height != b.height) {
                return testing::AssertionFailure() << "slot " << i << ": library " << rectText(a)
                                                   << ", reference " << rectText(b);
            }
        }
    }
    if (libraryDebug != referenceDebug) {
        return testing::AssertionFailure()
               << "debug text differs at " << firstDifferentLine(libraryDebug, referenceDebug);
    }
    if (libraryDebug.empty()) {
        return testing::AssertionFailure() << "no debug text: nothing was compared on the way";
    }
    return testing::AssertionSuccess();
}

} // namespace

// Every draft screen, with its pack size and with the caller's default of 15 (which on a smaller
// pack exercises the block search with cells outside the pack).
TEST(SlotDetectionReference, DraftScreensReadAlike) {
    int read = 0, compared = 0;
    for (const KVArenaScreenSpec& spec : KVArenaAcceptanceScreens()) {
        const KVImage image = KVRenderArenaScreen(spec).image;
        bool found = false;
        EXPECT_TRUE(sameReading(image, spec.cards, &found)) << KVDescribeArenaScreen(spec);
        read += found ? 1 : 0;
        ++compared;
        if (spec.cards != 15) {
            EXPECT_TRUE(sameReading(image, 15)) << KVDescribeArenaScreen(spec) << " expected 15";
            ++compared;
        }
    }
    std::printf("%d draft readings compared, %d screens read\n", compared, read);
    // The comparison must cover the whole way to the rectangles, not only the rejections.
    EXPECT_GT(read, 30);
}

// Packs the matrix never draws: other window sizes and aspects, short rows (three and four pack
// rows, so that the later bands, the row pitch between bands and the grid rows above the first
// band all matter), and packs of a few cards.
TEST(SlotDetectionReference, OtherPackShapesReadAlike) {
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
    int read = 0;
    for (size_t i = 0; i < shapes.size(); ++i) {
        const Shape& s = shapes[i];
        KVArenaScreenSpec spec;
        spec.width = s.width;
        spec.height = s.height;
        spec.cards = s.cards;
        spec.perRow = s.perRow;
        spec.cardHeight = s.cardHeight;
        spec.columnPitch = s.columnPitch;
        spec.rowPitch = s.rowPitch;
        spec.left = s.left;
        spec.top = s.top;
        spec.sidePanel = 0.2;
        spec.seed = 2000 + static_cast<uint32_t>(i);
        spec.jpegQuality = i % 3 == 0 ? 0 : 75 + static_cast<int>(i);
        if (i % 5 == 2) {
            spec.cardImages = KVHostedCardFaces();
        }
        const KVImage image = KVRenderArenaScreen(spec).image;
        bool found = false;
        EXPECT_TRUE(sameReading(image, spec.cards, &found)) << KVDescribeArenaScreen(spec);
        read += found ? 1 : 0;
        EXPECT_TRUE(sameReading(image, spec.cards + 1))
            << KVDescribeArenaScreen(spec) << " one more";
    }
    std::printf("%d of %zu other pack shapes read\n", read, shapes.size());
    EXPECT_GT(read, 4);
}

TEST(SlotDetectionReference, ScreensWithoutAPackReadAlike) {
    for (const auto& [name, image] : KVScreensWithoutAPack()) {
        for (const int64_t expected : {15, 14, 8}) {
            EXPECT_TRUE(sameReading(image, expected)) << name << " expected " << expected;
        }
    }
}

// Pictures that are no screen at all, at sizes and aspects the matrix never draws (the smallest
// accepted, odd widths, portrait), with small, usual and the largest pack sizes.
TEST(SlotDetectionReference, TexturedPicturesReadAlike) {
    struct Case {
        int width, height;
        uint32_t seed;
    };
    const std::array<Case, 7> cases{{
        {320, 240, 1},
        {641, 479, 2},
        {1280, 720, 3},
        {1000, 1000, 4},
        {1717, 643, 5},
        {900, 1500, 6},
        {2400, 1350, 7},
    }};
    for (const Case& c : cases) {
        const KVImage image = KVTexturedImage(c.width, c.height, c.seed);
        for (const int64_t expected : {2, 5, 15, 64}) {
            EXPECT_TRUE(sameReading(image, expected))
                << c.width << "x" << c.height << " seed " << c.seed << " expected " << expected;
        }
    }
}

// Where the library stops early by design (no edge pixel at all, more cards than any pack, a
// window far taller than any card it can read), its debug text is shorter; the answer must still
// be the reference's, none.
TEST(SlotDetectionReference, HopelessScreensGiveNoneInBoth) {
    const auto noneInBoth = [](const KVImage& image, int64_t expected) {
        const bool library = KVVision::detectSlots(image, expected).has_value();
        const bool reference = KVReferenceDetectSlots(image, expected, nullptr).has_value();
        if (library || reference) {
            return testing::AssertionFailure()
                   << (library ? "the library" : "") << (library && reference ? " and " : "")
                   << (reference ? "the reference" : "") << " read a pack";
        }
        return testing::AssertionSuccess();
    };
    const KVImage flat = KVUniformImage(1920, 1080, 24, 20, 40);
    const KVImage gray = KVUniformImage(1280, 720, 128, 128, 128);
    for (const int64_t expected : {15, 14, 8}) {
        EXPECT_TRUE(noneInBoth(flat, expected)) << "uniform 1920x1080 " << expected;
        EXPECT_TRUE(noneInBoth(gray, expected)) << "uniform 1280x720 " << expected;
    }

    KVArenaScreenSpec spec;
    kKVArenaLayouts[0].applyTo(spec);
    spec.seed = 3;
    const KVImage pack = KVRenderArenaScreen(spec).image;
    ASSERT_TRUE(sameReading(pack, 15)) << "the pack below must be read alike";
    ASSERT_TRUE(KVReferenceDetectSlots(pack, 15, nullptr)) << "the pack below must be readable";
    EXPECT_TRUE(noneInBoth(pack, 65));

    // 320 × 800 works at 960 × 2400: the tallest card width read is too short for it.
    EXPECT_TRUE(noneInBoth(KVTexturedImage(320, 800, 9), 15));
}
