#include "vision/gray_pixels.hpp"
#include "vision/image_crop.hpp"
#include "vision/luma_rows.hpp"

#include "draft_screen/arena_screen.hpp"
#include "draft_screen/pictures.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

std::vector<float> gray(const KVImage& image, int width, int height) {
    return KVGrayPixels(image, width, height).value_or(std::vector<float>{-1});
}

TEST(ImageCrop, RectanglesAreRoundedOutwardThenClamped) {
    const auto same = [](KVPixelRect r, KVPixelRect e) {
        return r.x == e.x && r.y == e.y && r.width == e.width && r.height == e.height;
    };
    // A fractional origin and far edge each take the whole pixel they touch.
    EXPECT_TRUE(same(KVPixelRectOutward(6, 4, 1.5, 0.2, 2.0, 1.0), {1, 0, 3, 2}));
    EXPECT_TRUE(same(KVPixelRectOutward(6, 4, 1.0, 1.0, 2.0, 2.0), {1, 1, 2, 2}));
    EXPECT_TRUE(same(KVPixelRectOutward(6, 4, -2.5, 2.5, 100, 100), {0, 2, 6, 2}));
    EXPECT_TRUE(same(KVPixelRectOutward(488, 680, 0.08 * 488, 0.10 * 680, 0.84 * 488, 0.52 * 680),
                     {39, 68, 410, 354}));
    // Nothing left, or nonsense coordinates: empty.
    EXPECT_TRUE(KVPixelRectOutward(6, 4, 6.0, 0, 3, 3).empty());
    EXPECT_TRUE(KVPixelRectOutward(6, 4, 2, 2, -1, 1).empty());
    EXPECT_TRUE(KVPixelRectOutward(6, 4, std::nan(""), 0, 3, 3).empty());
    EXPECT_TRUE(KVPixelRectOutward(6, 4, 0, 0, std::numeric_limits<double>::infinity(), 3).empty());
    EXPECT_TRUE(same(KVPixelRectOutward(6, 4, -1e300, -1e300, 2e300, 2e300), {0, 0, 6, 4}));
}

TEST(ImageCrop, CropCopiesTheRightPixels) {
    KVImage image = KVImage::blank(6, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            image.pixel(x, y)[0] = static_cast<uint8_t>(10 * y + x);
            image.pixel(x, y)[3] = static_cast<uint8_t>(100 + x);
        }
    }
    const KVImage crop = KVCropImage(image, 1.5, 0.2, 2.0, 1.0);
    ASSERT_EQ(crop.width, 3);
    ASSERT_EQ(crop.height, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(crop.pixel(x, y)[0], 10 * y + x + 1);
            EXPECT_EQ(crop.pixel(x, y)[3], 100 + x + 1);
        }
    }
    EXPECT_TRUE(KVCropImage(image, 7, 0, 2, 2).empty());
    KVImage shortBuffer = image;
    shortBuffer.rgba.resize(20);
    EXPECT_TRUE(KVCropImage(shortBuffer, 0, 0, 6, 4).empty());
}

// Rec. 601 luma of the straight colour, rounded; alpha (here anything, even 0) plays no part.
TEST(GrayPixels, EveryRedAndGreenWithManyBluesIsItsRec601Luma) {
    KVImage image = KVImage::blank(256, 256);
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            uint8_t* p = image.pixel(r, g);
            p[0] = static_cast<uint8_t>(r);
            p[1] = static_cast<uint8_t>(g);
            p[2] = static_cast<uint8_t>(r * 31 + g * 17);
            p[3] = static_cast<uint8_t>(r * 7 + g);
        }
    }
    const std::vector<float> values = gray(image, 256, 256);
    ASSERT_EQ(values.size(), 256u * 256u);
    for (int g = 0; g < 256; ++g) {
        for (int r = 0; r < 256; ++r) {
            const int b = image.pixel(r, g)[2];
            const auto luma = static_cast<float>((299 * r + 587 * g + 114 * b + 500) / 1000);
            ASSERT_EQ(values[g * 256 + r], luma) << r << "," << g << "," << b;
        }
    }
}

// The wide-vector rows and the portable ones give the same bits, whatever the row's length (the
// vector path takes eight pixels at a time and leaves the rest to the portable code).
TEST(GrayPixels, EveryRowPathGivesTheSameBits) {
    std::mt19937 rng(5);
    for (const int width : {1, 7, 8, 9, 31, 210, 1920}) {
        std::vector<uint8_t> rgba(4 * static_cast<size_t>(width));
        for (uint8_t& byte : rgba) {
            byte = static_cast<uint8_t>(rng());
        }
        std::vector<float> fast(static_cast<size_t>(width), 3.0f);
        std::vector<float> portable = fast;
        kv_gray::lumaRow(rgba.data(), width, fast.data());
        kv_gray::lumaRowPortable(rgba.data(), width, portable.data());
        EXPECT_EQ(std::memcmp(fast.data(), portable.data(), fast.size() * sizeof(float)), 0)
            << width;
        for (const bool first : {true, false}) {
            const float weight = 0.0375f + static_cast<float>(width) * 1e-5f;
            kv_gray::addWeightedLuma(fast.data(), rgba.data(), weight, width, first);
            kv_gray::addWeightedLumaPortable(portable.data(), rgba.data(), weight, width, first);
            EXPECT_EQ(std::memcmp(fast.data(), portable.data(), fast.size() * sizeof(float)), 0)
                << width << (first ? " first" : " added");
        }
    }
}

TEST(GrayPixels, AUniformColourStaysItsLumaAtEverySize) {
    const KVImage image = KVUniformImage(37, 23, 200, 30, 90); // luma 88.17
    for (const auto& [w, h] : {std::pair{64, 64}, {160, 160}, {5, 3}, {37, 23}, {101, 7}}) {
        const std::vector<float> values = gray(image, w, h);
        ASSERT_EQ(values.size(), static_cast<size_t>(w * h));
        for (const float v : values) {
            ASSERT_EQ(v, 88.0f) << w << "x" << h;
        }
    }
}

TEST(GrayPixels, ReductionAveragesWhatEachPixelCovers) {
    // 4 × 4 to 2 × 2: each value is the mean of its 2 × 2 block, rounded.
    const KVImage blocks = KVGrayImage(4, 4,
                                       {0, 1, 10, 20,       //
                                        2, 4, 30, 40,       //
                                        100, 101, 255, 255, //
                                        102, 103, 255, 0});
    EXPECT_EQ(gray(blocks, 2, 2), (std::vector<float>{2, 25, 102, 191}));
    // 3 to 2: the middle pixel is shared half and half, weighted by coverage.
    EXPECT_EQ(gray(KVGrayImage(3, 1, {0, 90, 180}), 2, 1), (std::vector<float>{30, 150}));
    EXPECT_EQ(gray(KVGrayImage(1, 3, {0, 90, 180}), 1, 2), (std::vector<float>{30, 150}));
    EXPECT_EQ(gray(KVGrayImage(2, 1, {0, 255}), 1, 1), std::vector<float>{128});
    // A fine checkerboard shrinks to its mean, not to an alias of one of its colours.
    std::vector<uint8_t> board(size_t{40} * 40);
    for (size_t i = 0; i < board.size(); ++i) {
        board[i] = ((i % 40 + i / 40) % 2) != 0 ? 200 : 100;
    }
    for (const float v : gray(KVGrayImage(40, 40, board), 10, 10)) {
        EXPECT_EQ(v, 150.0f);
    }
}

TEST(GrayPixels, EnlargementInterpolatesBetweenPixelCentres) {
    for (const bool across : {true, false}) {
        const KVImage image = across ? KVGrayImage(2, 1, {0, 255}) : KVGrayImage(1, 2, {0, 255});
        const std::vector<float> v = across ? gray(image, 4, 1) : gray(image, 1, 4);
        ASSERT_EQ(v.size(), 4u);
        EXPECT_EQ(v[0], 0);
        EXPECT_EQ(v[3], 255);
        EXPECT_LT(v[0], v[1]);
        EXPECT_LT(v[1], v[2]);
        EXPECT_LT(v[2], v[3]);
        EXPECT_EQ(v[1] + v[2], 255) << "symmetric about the middle";
    }
    // Growing one axis while shrinking the other.
    EXPECT_EQ(gray(KVGrayImage(4, 1, {10, 30, 200, 220}), 2, 3),
              (std::vector<float>{20, 210, 20, 210, 20, 210}));
}

TEST(GrayPixels, NothingToResampleGivesNone) {
    const KVImage image = KVTexturedImage(10, 10, 1);
    EXPECT_FALSE(KVGrayPixels(KVImage{}, 8, 8).has_value());
    EXPECT_FALSE(KVGrayPixels(image, 0, 8).has_value());
    EXPECT_FALSE(KVGrayPixels(image, 8, -1).has_value());
    EXPECT_FALSE(KVGrayPixels(image, 100000, 100000).has_value());
    KVImage shortBuffer = image;
    shortBuffer.rgba.resize(40);
    EXPECT_FALSE(KVGrayPixels(shortBuffer, 8, 8).has_value());
}

} // namespace
