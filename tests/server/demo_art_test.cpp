#include "demo_draft/demo_art.hpp"
#include "server/demo_set.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>

namespace {

using Mean = std::array<double, 3>;

// The mean colour of the middle half of `rect` (in pixels).
Mean meanOf(const KVImage& image, int x0, int y0, int width, int height) {
    Mean sum{};
    int count = 0;
    for (int y = y0 + height / 4; y < y0 + height * 3 / 4; ++y) {
        for (int x = x0 + width / 4; x < x0 + width * 3 / 4; ++x) {
            for (int c = 0; c < 3; ++c) {
                sum[static_cast<size_t>(c)] += image.pixel(x, y)[c];
            }
            ++count;
        }
    }
    for (double& channel : sum) {
        channel /= count;
    }
    return sum;
}

Mean meanOfSlot(const KVArenaScreen& screen, size_t slot) {
    const KVNormRect& r = screen.slots.at(slot);
    const int w = screen.image.width;
    const int h = screen.image.height;
    return meanOf(screen.image, static_cast<int>(r.x * w), static_cast<int>(r.y * h),
                  static_cast<int>(r.width * w), static_cast<int>(r.height * h));
}

double distance(const Mean& a, const Mean& b) {
    return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
}

int64_t arenaIdAt(size_t index) {
    return KVJsonInt64(KVJsonAt(KVSDemoSet::cards("")[index], "arena_id"), 0);
}

TEST(DemoArt, ArtIsDecodedOnceAndMissingArtIsNamed) {
    KVDemoArt art;
    const int64_t id = arenaIdAt(0);
    const KVImage* first = art.of(id);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width, 488);
    EXPECT_EQ(first->height, 680);
    EXPECT_NE(art.of(arenaIdAt(1)), first);
    EXPECT_EQ(art.of(id), first); // the cached picture, still where it was
    EXPECT_EQ(art.of(123), nullptr);

    std::string error;
    EXPECT_FALSE(art.screen({id, 123}, 1280, 720, 1, &error).has_value());
    EXPECT_NE(error.find("123"), std::string::npos) << error;
}

TEST(DemoArt, EachSlotShowsItsOwnCardAtAReadableLayout) {
    for (const auto& [width, height] : {std::pair{1280, 720}, std::pair{1600, 900}}) {
        EXPECT_EQ(KVArenaLayoutProblem(KVDemoScreenSpec(width, height)), "") << width;
    }

    // Two cards of different colours, so their pictures tell them apart.
    const auto cards = KVSDemoSet::cards("");
    size_t other = 1;
    while (other < cards.size() &&
           KVDemoArt::card(arenaIdAt(other)).colour == KVDemoArt::card(arenaIdAt(0)).colour) {
        ++other;
    }
    ASSERT_LT(other, cards.size());
    const int64_t a = arenaIdAt(0);
    const int64_t b = arenaIdAt(other);

    KVDemoArt art;
    const Mean artA = meanOf(*art.of(a), 0, 0, 488, 680);
    const Mean artB = meanOf(*art.of(b), 0, 0, 488, 680);
    ASSERT_GT(distance(artA, artB), 20.0);
    for (const auto& pack : {std::vector<int64_t>{a, b, b}, std::vector<int64_t>{b, a, a}}) {
        const auto screen = art.screen(pack, 1280, 720);
        ASSERT_TRUE(screen.has_value());
        ASSERT_EQ(screen->slots.size(), pack.size());
        for (size_t slot = 0; slot < pack.size(); ++slot) {
            const Mean shown = meanOfSlot(*screen, slot);
            const bool isA = pack[slot] == a;
            EXPECT_LT(distance(shown, isA ? artA : artB), distance(shown, isA ? artB : artA))
                << "slot " << slot;
        }
    }
}

} // namespace
