#include "base/dispatch/run_loop.hpp"
#include "overlay_samples/overlay_samples.hpp"
#include "platform/fake/fake_platform.hpp"
#include "ui/stamps.hpp"

#include "offscreen_qt.hpp"

#include <gtest/gtest.h>

namespace {

TEST(StampsViewTest, DrawsEachRowWithASlotInItsPlace) {
    KVStampsView view;
    view.width = 1000;
    view.height = 500;
    view.advice = KVSampleAdvice(true);
    view.advice.resize(4);
    view.advice[2].slot = 7;  // only 5 slots known
    view.advice[3].slot = -1; // no slot
    view.advice[1].grade = "";
    view.slots.assign(5, {0.1, 0.2, 0.3, 0.6});
    view.slots[1] = {0.5, 0.2, 0.3, 0.6};
    view.bestNames = {view.advice[0].card->name};
    view.nextName = "STORMCALLER'S REACH"; // the service's spelling of a card on screen
    KVRecordingCanvas canvas;
    view.drawRect(canvas);
    const auto texts = canvas.texts();
    EXPECT_EQ(texts, (std::vector<std::string>{"A-", "TAKE", "?", "NEXT"}));
    const auto* next = canvas.findText("NEXT");
    EXPECT_GT(next->rect.x, 500) << "the NEXT ring is on the second card";
}

class StampsTest : public ::testing::Test {
protected:
    void SetUp() override { OffscreenQt(); }
    KVScopedFakePlatform platform;
    std::shared_ptr<KVRunLoop> queue = KVRunLoop::create();
    std::vector<KVNormRect> slots = std::vector<KVNormRect>(15, {0.1, 0.1, 0.1, 0.2});
};

TEST_F(StampsTest, TheCardsToTakeAndTheRunnerUp) {
    KVStamps stamps(*queue);
    const auto rows = KVSampleAdvice(true);
    struct Case {
        int64_t take;
        size_t rows;
        std::optional<std::string> next;
        size_t best;
        std::optional<std::string> nextShown;
    };
    const Case cases[] = {
        {0, 15, "Mirefang Stalker", 1, "Mirefang Stalker"},
        {1, 15, std::nullopt, 1, std::nullopt},
        {2, 15, "Stormcaller's Reach", 2, std::nullopt}, // the runner-up is taken anyway
        {5, 3, "", 3, ""},
        {-3, 15, "Sunfall Warden", 1, std::nullopt},
    };
    for (const Case& c : cases) {
        stamps.setPack({rows.begin(), rows.begin() + long(c.rows)}, slots, false, c.take, c.next);
        EXPECT_EQ(stamps.view.bestNames.size(), c.best) << "take " << c.take;
        EXPECT_EQ(stamps.view.nextName, c.nextShown) << "take " << c.take;
        EXPECT_TRUE(stamps.view.bestNames.count("Sunfall Warden")) << "take " << c.take;
    }
}

TEST_F(StampsTest, PendingPacksPulseUntilGraded) {
    KVStamps stamps(*queue);
    stamps.setPack(KVSampleAdvice(false), slots, true, 1, "x");
    EXPECT_TRUE(stamps.pulsing());
    EXPECT_TRUE(stamps.view.bestNames.empty());
    EXPECT_FALSE(stamps.view.nextName);
    ASSERT_TRUE(queue->runUntil([&] { return stamps.view.tick >= 2; }, 5));
    EXPECT_EQ(stamps.badgeRedraws(), 2);

    // The same pending pack again: the dots go on from where they were.
    stamps.setPack(KVSampleAdvice(false), slots, true, 1, std::nullopt);
    EXPECT_EQ(stamps.view.tick, 2);
    ASSERT_TRUE(queue->runUntil([&] { return stamps.view.tick >= 3; }, 5));

    KVRecordingCanvas canvas;
    stamps.view.drawBadges(canvas);
    EXPECT_EQ(canvas.texts().size(), 15u);
    EXPECT_EQ(canvas.texts()[0], "·  ") << "tick 3 shows the first place";

    stamps.setPack(KVSampleAdvice(true), slots, false, 1, std::nullopt);
    EXPECT_FALSE(stamps.pulsing());
    EXPECT_EQ(stamps.view.tick, 0);
    queue->runUntil([] { return false; }, 0.9);
    EXPECT_EQ(stamps.view.tick, 0) << "no step after the grades came";

    stamps.setPack({}, slots, true, 1, std::nullopt);
    EXPECT_FALSE(stamps.pulsing()) << "nothing to animate without rows";
    EXPECT_TRUE(stamps.view.pending);

    stamps.setPack(KVSampleAdvice(false), slots, true, 1, std::nullopt);
    stamps.clearPack();
    EXPECT_FALSE(stamps.pulsing());
    EXPECT_TRUE(stamps.view.stamps().empty());
}

TEST_F(StampsTest, SetFrameRedrawsOnlyOnAChange) {
    KVStamps stamps(*queue);
    stamps.setFrame({0, 0, 1280, 720});
    const int redraws = stamps.redraws();
    stamps.setFrame({0, 0, 1280, 720});
    EXPECT_EQ(stamps.redraws(), redraws);
    stamps.setFrame({10, 0, 1280, 720});
    EXPECT_EQ(stamps.redraws(), redraws + 1);
}

} // namespace
