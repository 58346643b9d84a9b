#include "vision/capture.hpp"
#include "vision/image_codec.hpp"

#include "base/files.hpp"
#include "support/x11_fixture.hpp"

#include <chrono>
#include <csignal>

namespace {

// fake-arena's picture when it is given none.
std::array<uint8_t, 4> patternAt(int x, int y) {
    return {static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y), 255};
}

std::array<uint8_t, 4> at(const KVImage& image, int x, int y) {
    const uint8_t* p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

int patternMismatches(const KVImage& image) {
    int wrong = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            wrong += at(image, x, y) != patternAt(x, y) ? 1 : 0;
        }
    }
    return wrong;
}

struct CaptureIntegrationTest : X11Fixture {
    KVTempDir files;

    // The pattern as a PNG, so that fake-arena can be told to paint it again.
    std::string patternFile(int width, int height) {
        KVImage image = KVImage::blank(width, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto p = patternAt(x, y);
                std::copy(p.begin(), p.end(), image.pixel(x, y));
            }
        }
        std::string path = files.file("pattern.png");
        KVWriteTestFile(path, KVEncodePNG(image).value_or(""));
        return path;
    }

    // Window capture of the game as it is once redirected: a newly redirected window keeps what
    // the screen showed (the cover, say) until it paints again, as a game does every frame.
    std::optional<KVImage> settledCapture(KVCapture& capture, KVFakeArena& game,
                                          const KVArenaWindow& record, const std::string& picture) {
        capture.captureWindow(record);
        EXPECT_EQ(game.process.command("image " + picture), "ok");
        return capture.captureWindow(record);
    }
};

TEST_F(CaptureIntegrationTest, WindowPathSeesTheGameUnderACoverRegionPathSeesTheCover) {
    start();
    const std::string picture = patternFile(640, 480);
    auto game = arena(
        {"--x", "100", "--y", "100", "--width", "640", "--height", "480", "--image", picture});
    auto cover = arena({"--process", "korvane", "--title", "stamps", "--x", "200", "--y", "200",
                        "--width", "300", "--height", "200", "--color", "00ff00"});
    const auto record = KVCapture::findArena();
    ASSERT_TRUE(record);
    EXPECT_TRUE(KVCapture::hasCapturePermission());

    KVCapture capture;
    const auto image = settledCapture(capture, *game, *record, picture);
    ASSERT_TRUE(image) << capture.lastError();
    EXPECT_EQ(capture.lastPath(), "window");
    EXPECT_EQ(capture.lastFrameRect(), (KVRect{100, 100, 640, 480}));
    ASSERT_EQ(image->width, 640);
    ASSERT_EQ(image->height, 480);
    EXPECT_EQ(patternMismatches(*image), 0);

    // Across the cover's edge, and past the screen's right edge, where nothing is.
    const auto region = capture.captureRegion({150, 150, 400, 100});
    ASSERT_TRUE(region) << capture.lastError();
    EXPECT_EQ(capture.lastPath(), "region");
    EXPECT_EQ(at(*region, 0, 0), patternAt(50, 50));
    EXPECT_EQ(at(*region, 60, 60), (std::array<uint8_t, 4>{0, 255, 0, 255}));
    const auto edge = capture.captureRegion({1900, 1070, 40, 20});
    ASSERT_TRUE(edge);
    EXPECT_EQ(at(*edge, 19, 9), (std::array<uint8_t, 4>{0, 0, 0, 255}));
    EXPECT_EQ(at(*edge, 20, 9), (std::array<uint8_t, 4>{0, 0, 0, 255}));
    EXPECT_EQ(at(*edge, 39, 19), (std::array<uint8_t, 4>{0, 0, 0, 255}));
    capture.endWindowCapture();

    const auto monitors = KVPlatform::current()->screens->monitors();
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors[0].frame, (KVRect{0, 0, 1920, 1080}));
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_EQ(KVCapture::cocoaRectFromQuartz({100, 50, 800, 600}), (KVRect{100, 430, 800, 600}));
    // No compositor here; a running one is seen in the overlay tests.
    EXPECT_FALSE(KVPlatform::current()->screens->compositing());
}

// Read where it is now when moved or resized; an X error when unmapped or closed, after which
// the connection still serves.
TEST_F(CaptureIntegrationTest, AWindowMovedUnmappedOrClosedMidCapture) {
    start();
    auto game = arena({"--x", "10", "--y", "20", "--width", "400", "--height", "300"});
    const auto record = KVCapture::findArena(); // and the content cached with it
    ASSERT_TRUE(record);
    KVCapture capture;
    ASSERT_TRUE(capture.captureWindow(record)) << capture.lastError();
    ASSERT_EQ(game->process.command("move 300 320"), "ok");
    ASSERT_EQ(game->process.command("resize 500 350"), "ok");
    const auto image = capture.captureWindow(record);
    ASSERT_TRUE(image) << capture.lastError();
    EXPECT_EQ(capture.lastFrameRect(), (KVRect{300, 320, 500, 350}));
    EXPECT_EQ(image->width, 500);
    EXPECT_EQ(image->height, 350);

    ASSERT_EQ(game->process.command("unmap"), "ok");
    EXPECT_FALSE(capture.captureWindow(record));
    EXPECT_EQ(capture.lastError().rfind("capturing window 0x", 0), 0u) << capture.lastError();
    EXPECT_NE(capture.lastError().find("BadMatch"), std::string::npos) << capture.lastError();

    ASSERT_EQ(game->process.command("map"), "ok");
    EXPECT_TRUE(capture.captureWindow(record)) << capture.lastError();
    ASSERT_EQ(game->process.command("close"), "ok");
    game->process.kill();
    EXPECT_FALSE(capture.captureWindow(record)); // still in the cached content
    EXPECT_NE(capture.lastError().find("Bad"), std::string::npos) << capture.lastError();
    EXPECT_EQ(capture.lastPath(), "window");

    auto next = arena({"--width", "300", "--height", "300"});
    KVCapture fresh; // this one's content is not from before the window came
    const auto found = KVCapture::findArena();
    ASSERT_TRUE(found);
    EXPECT_TRUE(fresh.captureWindow(found)) << fresh.lastError();
}

TEST_F(CaptureIntegrationTest, AServerThatStopsAnsweringTimesOutAndIsReconnected) {
    start();
    auto game = arena({"--width", "300", "--height", "200"});
    const auto record = KVCapture::findArena();
    ASSERT_TRUE(record);
    KVCapture capture;
    ASSERT_TRUE(capture.captureWindow(record)) << capture.lastError(); // content now cached

    ::kill(xvfb_->serverPid(), SIGSTOP);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(capture.captureWindow(record));
    const auto waited = std::chrono::steady_clock::now() - started;
    ::kill(xvfb_->serverPid(), SIGCONT);
    EXPECT_EQ(capture.lastError(), "screenshot timed out");
    EXPECT_GE(waited, std::chrono::seconds(5)); // the whole bound, then given up
    EXPECT_LT(waited, std::chrono::seconds(15));

    // The stuck connection was dropped; a new one captures again.
    EXPECT_TRUE(capture.captureWindow(record)) << capture.lastError();
}

struct CapturePixelsIntegrationTest : CaptureIntegrationTest,
                                      ::testing::WithParamInterface<std::pair<bool, bool>> {};

TEST_P(CapturePixelsIntegrationTest, ExactPixels) {
    const auto [argb, shm] = GetParam();
    start({.shm = shm});
    const std::string picture = patternFile(320, 240);
    std::vector<std::string> arguments = {"--width", "320", "--height", "240", "--image", picture};
    if (argb) {
        arguments.emplace_back("--argb");
    }
    auto game = arena(arguments);
    const auto record = KVCapture::findArena();
    ASSERT_TRUE(record);
    KVCapture capture;
    const auto image = settledCapture(capture, *game, *record, picture);
    ASSERT_TRUE(image) << capture.lastError();
    EXPECT_EQ(patternMismatches(*image), 0);
    const auto region = capture.captureRegion({0, 0, 320, 240});
    ASSERT_TRUE(region) << capture.lastError();
    EXPECT_EQ(patternMismatches(*region), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, CapturePixelsIntegrationTest,
                         // 24-bit through shared memory is the first test's case.
                         ::testing::Values(std::pair{true, true}, std::pair{false, false}),
                         [](const auto& info) {
                             return std::string(info.param.first ? "argb" : "rgb") +
                                    (info.param.second ? "_shm" : "_plain");
                         });

} // namespace
