#include "app/vision_loop.hpp"
#include "app/vision_runner.hpp"

#include "base/dispatch/run_loop.hpp"
#include "draft/catalog.hpp"
#include "draft_screen/arena_screen.hpp"
#include "platform/fake/fake_platform.hpp"
#include "vision/art_hashes.hpp"
#include "vision/capture.hpp"
#include "vision/phash.hpp"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kArenaId = 7;
const KVRect kArenaBounds{100, 50, 1280, 720};

// A pack of `count` cards whose art the catalog knows, drawn on Arena's draft screen in the
// given order of card numbers, with the real detector and identifier reading it.
class VisionLoop : public ::testing::Test {
protected:
    KVScopedFakePlatform fake;
    std::vector<KVCardRef> cards;
    std::vector<KVImage> faces;
    std::shared_ptr<KVArtHashes> artHashes =
        std::make_shared<KVArtHashes>(std::make_shared<KVCatalog>("http://127.0.0.1:1"));
    KVVisionLoop loop{std::make_shared<KVCapture>(), artHashes};
    KVVisionInputs inputs;

    void SetUp() override {
        for (uint32_t i = 0; i < 8; ++i) {
            faces.push_back(KVRenderCardFace(488, 680, 500 + i));
            auto card = std::make_shared<KVCard>("Card " + std::to_string(i));
            card->artHashes.push_back(KVPHashOfArt(faces.back()).value());
            cards.push_back(card);
        }
        fake.capture->content =
            KVShareableContent{{{kArenaId, kArenaBounds}}, {{0, 0, 1920, 1080}}};
        inputs.inDraft = true;
        inputs.arena = KVArenaWindow{kArenaId, 42, "MTGA.exe", kArenaBounds, true, true};
        inputs.packSize = 8;
        inputs.candidates = std::make_shared<const std::vector<KVCardRef>>(cards);
        inputs.catalogCards = 250;
    }

    // Shows the pack with its cards in `order` (indices into `cards`); returns the truth.
    std::vector<KVNormRect> show(const std::vector<size_t>& order) {
        KVArenaScreenSpec spec{
            .width = 1280, .height = 720, .cards = int(order.size()), .cardImages = {}};
        kKVArenaLayouts[0].applyTo(spec);
        for (const size_t i : order) {
            spec.cardImages.push_back(faces[i]);
        }
        KVArenaScreen screen = KVRenderArenaScreen(spec);
        fake.capture->windowFrames[kArenaId] = {std::move(screen.image), kArenaBounds};
        return screen.slots;
    }

    static std::vector<std::string> names(const KVVisionStep& step) {
        std::vector<std::string> out;
        for (const KVSlotMatch& match : step.report.value().matches) {
            out.push_back(match.card ? match.card->name : "?");
        }
        return out;
    }
};

TEST_F(VisionLoop, ReportsAPackThreeTimesThenOnlyWhatChangesAndLosesItOnTheThirdMiss) {
    const auto truth = show({3, 1, 4, 0, 5, 2, 7, 6});
    const std::vector<std::string> expected = {"Card 3", "Card 1", "Card 4", "Card 0",
                                               "Card 5", "Card 2", "Card 7", "Card 6"};
    for (int tick = 0; tick < 3; ++tick) {
        SCOPED_TRACE(tick);
        const KVVisionStep step = loop.tick(inputs);
        ASSERT_TRUE(step.report);
        EXPECT_EQ(loop.stable(), tick);
        EXPECT_EQ(step.report->frame, kArenaBounds);
        EXPECT_FALSE(step.report->regionOnly);
        EXPECT_EQ(names(step), expected);
        // Where the stamps go: on the cards themselves.
        for (size_t slot = 0; slot < truth.size(); ++slot) {
            const KVNormRect& seen = step.report->matches[slot].normRect;
            EXPECT_NEAR(seen.x, truth[slot].x, 0.015 * truth[slot].width) << slot;
            EXPECT_NEAR(seen.width, truth[slot].width, 0.03 * truth[slot].width) << slot;
        }
    }
    EXPECT_FALSE(loop.tick(inputs).report); // steady: silent
    EXPECT_FALSE(loop.tick(inputs).report);
    EXPECT_EQ(loop.registrations(), 1); // the layout was registered on the art once

    // The next pick, one card fewer. Arena draws it a moment before its log line arrives: the
    // first look still expects eight cards and finds no pack, and must not leave the loop
    // thinking the screen is the pack it already reported.
    show({1, 4, 0, 5, 2, 7, 6});
    ASSERT_FALSE(loop.tick(inputs).report) << "eight cards expected: no pack of seven read";
    inputs.packSize = 7;
    KVVisionStep changed = loop.tick(inputs);
    ASSERT_TRUE(changed.report);
    EXPECT_EQ(names(changed), (std::vector<std::string>{"Card 1", "Card 4", "Card 0", "Card 5",
                                                        "Card 2", "Card 7", "Card 6"}));
    EXPECT_EQ(loop.stable(), 0);
    EXPECT_EQ(loop.registrations(), 2);

    fake.capture->windowFrames[kArenaId] = {KVUniformImage(1280, 720, 20, 24, 30), kArenaBounds};
    EXPECT_FALSE(loop.tick(inputs).lost);
    EXPECT_FALSE(loop.tick(inputs).lost);
    EXPECT_TRUE(loop.onScreen()); // two misses keep the stamps up
    EXPECT_TRUE(loop.tick(inputs).lost);
    EXPECT_FALSE(loop.tick(inputs).lost); // once
}

TEST_F(VisionLoop, IdleWhenOffOrOutOfDraftAndTheRegionOnlyWhileNoStampsAreUp) {
    show({0, 1, 2, 3, 4, 5, 6, 7});
    ASSERT_TRUE(loop.tick(inputs).report);
    inputs.enabled = false;
    const KVVisionStep off = loop.tick(inputs);
    EXPECT_TRUE(off.lost);
    EXPECT_DOUBLE_EQ(off.nextDelay, 0.3);
    EXPECT_EQ(fake.capture->windowCaptureEnds, 1);
    EXPECT_FALSE(loop.tick(inputs).lost);
    inputs.enabled = true;
    inputs.catalogCards = 0;
    EXPECT_FALSE(loop.tick(inputs).report);

    // The window cannot be read: the screen region is, but only while our stamps are hidden,
    // and what it shows is marked so that no stamps go up over it.
    inputs.catalogCards = 250;
    fake.capture->regionImage = std::move(fake.capture->windowFrames[kArenaId].image);
    fake.capture->windowFrames.clear();
    inputs.stampsHidden = false;
    EXPECT_FALSE(loop.tick(inputs).report);
    EXPECT_TRUE(fake.capture->capturedRegions.empty());
    inputs.stampsHidden = true;
    const KVVisionStep region = loop.tick(inputs);
    ASSERT_TRUE(region.report);
    EXPECT_TRUE(region.report->regionOnly);
    EXPECT_EQ(region.report->frame, kArenaBounds);
}

TEST_F(VisionLoop, TheRunnerReportsOnTheMainQueueAndNoTickRunsAfterStop) {
    show({0, 1, 2, 3, 4, 5, 6, 7});
    int reports = 0;
    auto runner = KVVisionRunner::create(
        std::make_unique<KVVisionLoop>(std::make_shared<KVCapture>(), artHashes),
        {[&](const KVVisionReport& report) { reports += report.matches.size() == 8 ? 1 : 100; },
         [] {}},
        KVMain());
    runner->setInputs(inputs);
    runner->start();
    runner->start();
    ASSERT_TRUE(KVMain().runUntil([&] { return reports >= 3; }, 20));
    runner->stop();
    const size_t captures = fake.capture->capturedWindows.size();
    KVMain().runUntil([] { return false; }, 0.7);
    EXPECT_EQ(fake.capture->capturedWindows.size(), captures);
    EXPECT_EQ(reports, 3); // the steady pack is reported three times
}

} // namespace
