#include "platform/linux/x11_pixels.hpp"
#include "platform/resident_bytes.hpp"
#include "platform/screens.hpp"

#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>

namespace {

TEST(PlatformPixelsTest, ServerPixelsBecomeOpaqueRGBA) {
    // Two pixels of a little-endian server: 0xAARRGGBB stored B, G, R, A.
    const uint8_t lsb[] = {0x30, 0x20, 0x10, 0x00, 0x03, 0x02, 0x01, 0x80, 0xEE, 0xEE, 0xEE, 0xEE};
    KVImage image = KVImage::blank(2, 1);
    std::string error;
    ASSERT_TRUE(KVXPixelsToRGBA(lsb, 2, 1, 12, {24, 32, false}, image, 0, 0, &error)) << error;
    EXPECT_EQ(image.rgba, (std::vector<uint8_t>{0x10, 0x20, 0x30, 255, 0x01, 0x02, 0x03, 255}));

    // A big-endian server stores A, R, G, B; an ARGB window's alpha never reaches the image.
    const uint8_t msb[] = {0x00, 0x10, 0x20, 0x30};
    KVImage wide = KVImage::blank(3, 2);
    ASSERT_TRUE(KVXPixelsToRGBA(msb, 1, 1, 4, {32, 32, true}, wide, 2, 1, &error)) << error;
    EXPECT_EQ(std::vector<uint8_t>(wide.pixel(2, 1), wide.pixel(2, 1) + 4),
              (std::vector<uint8_t>{0x10, 0x20, 0x30, 255}));
    EXPECT_EQ(wide.pixel(0, 0)[3], 0); // untouched elsewhere

    struct Refusal {
        KVXPixelFormat format;
        const char* error;
    };
    const Refusal refusals[] = {
        {{16, 16, false}, "unsupported pixel format (depth 16, 16 bits per pixel)"},
        {{24, 24, false}, "unsupported pixel format (depth 24, 24 bits per pixel)"},
        {{24, 32, false, 0xff, 0xff00, 0xff0000},
         "unsupported pixel format (depth 24, 32 bits per pixel)"},
    };
    for (const Refusal& r : refusals) {
        EXPECT_FALSE(KVXPixelsToRGBA(lsb, 1, 1, 4, r.format, image, 0, 0, &error));
        EXPECT_EQ(error, r.error);
    }
    EXPECT_FALSE(KVXPixelsToRGBA(lsb, 2, 1, 8, {24, 32, false}, image, 1, 0, &error));
}

TEST(PlatformScreensTest, ScreenRectanglesMeetQtGeometryInOnePlace) {
    struct Case {
        KVRect screen;
        double primaryHeight;
        KVQtScreen qt;
        KVRect expected;
    };
    const Case cases[] = {
        // Primary 1080 high at ratio 1: only y flips.
        {{100, 430, 800, 600}, 1080, {0, 0, 1}, {100, 50, 800, 600}},
        // Ratio 2 on the primary: offsets and sizes halve.
        {{100, 430, 800, 600}, 1080, {0, 0, 2}, {50, 25, 400, 300}},
        // A second monitor right of the primary at ratio 2 keeps its origin in pixels.
        {{2020, 880, 400, 100}, 1080, {1920, 0, 2}, {1970, 50, 200, 50}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KVScreenRectToQt(c.screen, c.primaryHeight, c.qt), c.expected);
        EXPECT_EQ(KVQtRectToScreen(c.expected, c.primaryHeight, c.qt), c.screen);
    }
}

TEST(PlatformResidentBytesTest, ReadsResidentPagesCountsTouchedMemoryAndZeroWhenUnreadable) {
    KVTempDir dir;
    KVWriteTestFile(dir.file("statm"), "5000 300 20 1 0 100 0\n");
    EXPECT_EQ(KVResidentBytes(dir.file("statm")), 300u * static_cast<uint64_t>(getpagesize()));
    KVWriteTestFile(dir.file("bad"), "garbage");
    EXPECT_EQ(KVResidentBytes(dir.file("bad")), 0u);
    EXPECT_EQ(KVResidentBytes(dir.file("missing")), 0u);

    const uint64_t before = KVResidentBytes();
    ASSERT_GT(before, 0u);
    const size_t size = 64u << 20;
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(block, MAP_FAILED);
    std::memset(block, 1, size);
    const uint64_t after = KVResidentBytes();
    ::munmap(block, size);
    EXPECT_GE(after, before + size * 9 / 10);
}

} // namespace
