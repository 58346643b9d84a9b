// The capture test of the real program on a private X server, against fake-arena showing a
// draft screen: what a user sends support when the stamps do not appear.
#include "korvane_program.hpp"

#include "base/files.hpp"
#include "draft_screen/arena_screen.hpp"
#include "support/x11_fixture.hpp"
#include "vision/capture.hpp"
#include "vision/image_codec.hpp"

#include <gtest/gtest.h>

namespace {

struct CaptureTestProgramIntegration : X11Fixture {};

TEST_F(CaptureTestProgramIntegration, ArenaShowingTwelveCardsIsReadAsTwelve) {
    start({.windowManager = true});
    KVFreshHome home;
    KVArenaScreenSpec spec{.width = 1280, .height = 720, .cards = 12, .cardImages = {}};
    kKVArenaLayouts[0].applyTo(spec);
    const std::string picture = home.dir.file("pack.png");
    KVWriteTestFile(picture, KVEncodePNG(KVRenderArenaScreen(spec).image).value_or(""));
    auto game =
        arena({"--x", "40", "--y", "30", "--width", "1280", "--height", "720", "--image", picture});
    // Openbox gives a new window the focus: in front, the report waits for nothing.
    ASSERT_TRUE(untilRootSays([] {
        const auto found = KVCapture::findArena();
        return found && found->focused;
    }));

    const KVProgramRun run = home.run({"--capture-test"}, {"DISPLAY=" + display()});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    KVExpectGolden(KVMaskReport(run.out, home.dir.path()), "capture_test_twelve.txt");
    const auto saved = KVReadFile(home.dir.file("data/Korvane/diagnose-frame.png"));
    const auto frame = saved ? KVImageFromData(*saved) : std::nullopt;
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 1280);
    EXPECT_EQ(frame->height, 720);
}

} // namespace
