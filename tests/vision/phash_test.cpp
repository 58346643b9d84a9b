#include "vision/phash.hpp"

#include "base/files.hpp"
#include "draft_screen/arena_screen.hpp"
#include "vision/vision.hpp"

#include "vision/image_crop.hpp"

#include "draft_screen/pictures.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sstream>
#include <thread>

namespace {

// 160 × 160 pixels at two gray levels, `high` of them at 160 (the right columns first), the rest
// at 100: half and half gives a standard deviation of exactly 30.
KVImage twoLevels(int high) {
    std::vector<uint8_t> values(size_t{160} * 160, 100);
    for (int i = 0; i < high; ++i) {
        values[(i % 160) * 160 + 159 - i / 160] = 160;
    }
    return KVGrayImage(160, 160, values);
}

TEST(PHash, FlatPicturesHaveNoHash) {
    EXPECT_FALSE(KVPHash(KVImage{}).has_value());
    EXPECT_FALSE(
        KVPHash(KVGrayImage(300, 200, std::vector<uint8_t>(size_t{300} * 200, 90))).has_value());
    EXPECT_FALSE(KVPHashOfArt(KVImage::blank(488, 680)).has_value());
    // The contrast gate: a standard deviation of exactly 30 passes, a hair below does not. Most
    // coefficients of the half-and-half picture are rounding noise around zero, so its bits are
    // pinned: they show any change in the order of the sums or at the median.
    EXPECT_EQ(KVPHashToHex(KVPHash(twoLevels(12800)).value_or(KVArtHash{})),
              "911995b9cef791996ee691196ee691996ee791196ee69119911991196ee69119");
    EXPECT_FALSE(KVPHash(twoLevels(12700)).has_value()); // 29.9991
    EXPECT_FALSE(KVPHash(twoLevels(4000)).has_value());
}

// Only 32-byte values compare; anything else is as far as can be. The bits counted between two
// hashes are checked wherever the identification tests build hashes at given distances.
TEST(PHash, DistanceComparesOnly32ByteValues) {
    const KVArtHash a = *KVPHash(KVTexturedImage(100, 100, 1));
    std::vector<uint8_t> bytes(a.begin(), a.end());
    EXPECT_EQ(KVPHashDistance(bytes, a), 0);
    bytes.push_back(0);
    EXPECT_EQ(KVPHashDistance(a, bytes), 256);
    bytes.resize(31);
    EXPECT_EQ(KVPHashDistance(bytes, a), 256);
    EXPECT_EQ(KVPHashDistance(std::vector<uint8_t>{}, std::vector<uint8_t>{}), 256);
}

TEST(PHash, HexWritesAndReadsEveryByte) {
    KVArtHash hash{};
    for (size_t i = 0; i < hash.size(); ++i) {
        hash[i] = static_cast<uint8_t>(i * 37 + 5);
    }
    const std::string hex = KVPHashToHex(hash);
    EXPECT_EQ(hex.substr(0, 8), "052a4f74");
    EXPECT_EQ(KVPHashFromHex(hex), hash);
    std::string upper = hex;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_EQ(KVPHashFromHex(upper), hash);
    EXPECT_EQ(KVPHashToHex(std::vector<uint8_t>{0x0a, 0x0b, 0xff}), "0a0bff");

    EXPECT_FALSE(KVPHashFromHex(hex.substr(0, 63)).has_value());
    EXPECT_FALSE(KVPHashFromHex(hex + "0").has_value());
    EXPECT_FALSE(KVPHashFromHex("").has_value());
    EXPECT_FALSE(KVPHashFromHex("zz" + hex.substr(2)).has_value());
    EXPECT_FALSE(KVPHashFromHex(hex.substr(0, 62) + "g0").has_value());
    EXPECT_FALSE(KVPHashFromHex(hex.substr(0, 30) + " 1" + hex.substr(32)).has_value());
    // A pair whose second character is not a digit is its first digit alone.
    const auto loose = KVPHashFromHex("5z" + hex.substr(2, 60) + "Fx");
    ASSERT_TRUE(loose.has_value());
    EXPECT_EQ((*loose)[0], 0x05);
    EXPECT_EQ((*loose)[1], hash[1]);
    EXPECT_EQ((*loose)[31], 0x0f);
}

std::string hexOrDash(const std::optional<KVArtHash>& hash) {
    return hash ? KVPHashToHex(*hash) : "-";
}

// The test pictures' hashes and thumbnails as pinned before the hash was last made faster:
// whole card pictures of many sizes, card art cut from rendered draft screens (JPEG too), and
// the thumbnails of those screens.
TEST(PHash, PinnedHashesAndThumbnailsOfTheTestPicturesNeverChange) {
    std::istringstream pins(KVReadFile(KV_FIXTURES_DIR "/phash_pins.txt").value_or(""));
    std::string kind;
    int checked = 0;
    KVArenaScreen screen;
    std::pair<int, int> screenOf{-1, -1};
    const auto render = [&](int layout, int quality) {
        if (screenOf != std::pair{layout, quality}) {
            KVArenaScreenSpec spec;
            kKVArenaLayouts.at(static_cast<size_t>(layout)).applyTo(spec);
            spec.seed = 3 + static_cast<uint32_t>(layout);
            spec.jpegQuality = quality;
            screen = KVRenderArenaScreen(spec);
            screenOf = {layout, quality};
        }
    };
    for (std::string line; std::getline(pins, line);) {
        std::istringstream fields(line);
        if (!(fields >> kind) || kind[0] == '#') {
            continue;
        }
        SCOPED_TRACE(line);
        if (kind == "textured") {
            int width = 0, height = 0;
            uint32_t seed = 0;
            std::string art, whole;
            fields >> width >> height >> seed >> art >> whole;
            const KVImage image = KVTexturedImage(width, height, seed);
            EXPECT_EQ(hexOrDash(KVPHashOfArt(image)), art);
            EXPECT_EQ(hexOrDash(KVPHash(image)), whole);
        } else if (kind == "slot") {
            int layout = 0, quality = 0;
            size_t slot = 0;
            std::string art;
            fields >> layout >> quality >> slot >> art;
            render(layout, quality);
            ASSERT_LT(slot, screen.slots.size());
            const KVNormRect& r = screen.slots[slot];
            const double w = screen.image.width, h = screen.image.height;
            const KVImage crop =
                KVCropImage(screen.image, r.x * w, r.y * h, r.width * w, r.height * h);
            EXPECT_EQ(hexOrDash(KVPHashOfArt(crop)), art);
        } else if (kind == "thumbnail") {
            int layout = 0, quality = 0;
            size_t values = 0;
            uint64_t pinned = 0;
            fields >> layout >> quality >> values >> pinned;
            render(layout, quality);
            const auto thumbnail = KVVision::thumbnail(screen.image);
            ASSERT_TRUE(thumbnail.has_value());
            ASSERT_EQ(thumbnail->size(), values);
            uint64_t fnv = 1469598103934665603ull;
            for (const float value : *thumbnail) {
                uint32_t bits = 0;
                std::memcpy(&bits, &value, sizeof bits);
                fnv = (fnv ^ bits) * 1099511628211ull;
            }
            EXPECT_EQ(fnv, pinned);
        }
        ++checked;
    }
    EXPECT_EQ(checked, 100);
}

TEST(PHashIntegration, ThreadsHashingAtOnceAgreeWithOneThread) {
    std::vector<KVImage> images;
    std::vector<KVArtHash> expected;
    for (uint32_t i = 0; i < 10; ++i) {
        // Many sizes, so that each thread's cached resampling weights keep changing.
        images.push_back(
            KVTexturedImage(150 + 37 * static_cast<int>(i), 210 + 23 * static_cast<int>(i % 4), i));
        expected.push_back(KVPHashOfArt(images.back()).value());
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                for (size_t i = 0; i < images.size(); ++i) {
                    const size_t k = (i + t * 3) % images.size();
                    wrong += KVPHashOfArt(images[k]) != expected[k] ? 1 : 0;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace
