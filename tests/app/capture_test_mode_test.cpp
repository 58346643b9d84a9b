// The capture test's report in-process, on fake desktop services: how long it waits for Arena
// and which capture route it falls back to. (The whole report of a frame that reads, and the
// run without a display, are checked on the real program in run_modes_tests.)
#include "app/app.hpp"

#include "draft_screen/arena_screen.hpp"
#include "platform/fake/fake_platform.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kArenaId = 7;
constexpr int32_t kArenaPid = 4242;
const KVRect kBounds{100, 50, 1280, 720};

struct CaptureTestMode : testing::Test {
    KVScopedEnvironment env{[](KVEnvironment& e) { e.display = ":99"; }};
    KVScopedFakePlatform platform;

    void showArena(bool inFront) {
        platform.windows->next = KVWindowSnapshot{{{kArenaId, kArenaPid, "MTGA", 0, kBounds, true}},
                                                  inFront ? kArenaPid : 1};
        platform.capture->content = KVShareableContent{{{kArenaId, kBounds}}, {{0, 0, 1920, 1080}}};
        platform.screens->all = {{{0, 0, 1920, 1080}, true}};
    }
    std::pair<int, std::string> run(int tries = 3) {
        testing::internal::CaptureStdout();
        const int status = KVApp::captureTest(KVCaptureWait{tries, 0.001});
        return {status, testing::internal::GetCapturedStdout()};
    }
};

TEST_F(CaptureTestMode, WithoutArenaItLooksEveryTimeThenFails) {
    for (const bool listed : {false, true}) {
        platform.windows->snapshots = 0;
        platform.windows->next = listed ? std::optional(KVWindowSnapshot{}) : std::nullopt;
        const auto [status, out] = run(5);
        EXPECT_EQ(status, 1);
        EXPECT_EQ(platform.windows->snapshots, 5);
        EXPECT_TRUE(out.ends_with("\narena    : NOT FOUND\n")) << out;
    }
}

TEST_F(CaptureTestMode, ArenaInFrontStopsTheWaitAndBehindItIsUsedAfterTheWait) {
    KVArenaScreenSpec spec{.width = 1280, .height = 720, .cards = 12, .cardImages = {}};
    kKVArenaLayouts[0].applyTo(spec);
    platform.capture->windowFrames[kArenaId] = {KVRenderArenaScreen(spec).image, kBounds};
    for (const auto& [inFront, looks] : {std::pair{true, 1}, std::pair{false, 4}}) {
        showArena(inFront);
        platform.windows->snapshots = 0;
        const auto [status, out] = run(4);
        EXPECT_EQ(status, 0) << out;
        EXPECT_EQ(platform.windows->snapshots, looks) << out;
        EXPECT_NE(out.find(inFront ? "focused=1" : "focused=0"), std::string::npos) << out;
    }
}

TEST_F(CaptureTestMode, AnUnreadableWindowFallsBackToTheScreenAndNoFrameFails) {
    showArena(true);
    platform.capture->regionImage = KVImage::blank(1280, 720);
    auto [status, out] = run();
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("window   : NOT readable -- screenshot timed out\n"), std::string::npos)
        << out;
    ASSERT_EQ(platform.capture->capturedRegions.size(), 1u);
    EXPECT_EQ(platform.capture->capturedRegions[0], kBounds);
    // A frame without a pack is a finished run that says so.
    EXPECT_TRUE(out.ends_with(
        "slots    : NONE -- the card finder rejected this frame at every pack size\n"))
        << out;

    platform.capture->regionImage.reset();
    platform.capture->captureFailure = "the X server went away";
    std::tie(status, out) = run();
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(out.ends_with("window   : NOT readable -- the X server went away\n"
                              "frame    : NONE -- the X server went away\n"))
        << out;
}

} // namespace
