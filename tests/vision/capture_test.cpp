#include "vision/capture.hpp"

#include "platform/fake/fake_platform.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

KVWindowInfo window(uint32_t id, const std::string& owner, KVRect bounds, int layer = 0,
                    bool onScreen = true, int32_t pid = 100) {
    return {id, pid, owner, layer, bounds, onScreen};
}

struct FindCase {
    const char* name;
    int32_t frontmostPid;
    std::optional<uint32_t> expected;
    bool focused;
    std::vector<KVWindowInfo> windows;
};

TEST(CaptureTest, FindArenaKeepsTheLargestOrdinaryArenaWindow) {
    const KVRect hd{0, 0, 1920, 1080};
    const KVRect mid{0, 0, 1280, 800};
    const KVRect sq{0, 0, 900, 900};
    const KVRect wide{0, 0, 800, 600};
    const KVRect tall{9, 9, 600, 800};
    const std::vector lookAlikes{window(9, "mtga", sq), window(10, "MTGA Launcher", sq),
                                 window(11, "MTG", sq)};
    const std::vector<FindCase> cases = {
        {"larger second", 100, 2, true, {window(1, "MTGA", mid), window(2, "MTGA", hd)}},
        {"larger first", 100, 2, true, {window(2, "MTGA", hd), window(1, "MTGA", mid)}},
        {"equal: first", 100, 3, true, {window(3, "MTG Arena", wide), window(4, "MTGA", tall)}},
        {"199 wide is too small", 100, std::nullopt, false, {window(5, "MTGA", {0, 0, 199, 900})}},
        {"200 square", 100, 6, true, {window(6, "Magic: The Gathering Arena", {0, 0, 200, 200})}},
        {"other layers never", 100, 8, true, {window(7, "MTGA", hd, 1), window(8, "MTGA", sq)}},
        {"case and prefixes", 100, std::nullopt, false, lookAlikes},
        {"another process in front", 55, 12, false, {window(12, "MTGA", sq)}},
        {"off screen is never focused", 100, 13, false, {window(13, "MTGA", sq, 0, false)}},
        {"unknown front, unknown pid", 0, 14, false, {window(14, "MTGA", sq, 0, true, 0)}},
    };
    for (const FindCase& c : cases) {
        KVScopedFakePlatform fake;
        fake.windows->next = KVWindowSnapshot{c.windows, c.frontmostPid};
        const auto found = KVCapture::findArena();
        ASSERT_EQ(found.has_value(), c.expected.has_value()) << c.name;
        if (found) {
            EXPECT_EQ(found->windowId, *c.expected) << c.name;
            EXPECT_EQ(found->focused, c.focused) << c.name;
        }
    }
    KVScopedFakePlatform fake;
    EXPECT_FALSE(KVCapture::findArena());
    EXPECT_FALSE(KVCapture::frontmostIsUs());
    fake.windows->next = KVWindowSnapshot{{}, static_cast<int32_t>(::getpid())};
    EXPECT_TRUE(KVCapture::frontmostIsUs());
}

TEST(CaptureTest, RectanglesAreFlippedAgainstThePrimaryScreen) {
    KVScopedFakePlatform fake;
    // No screen: H is 0.
    EXPECT_EQ(KVCapture::cocoaRectFromQuartz({100, 50, 800, 600}), (KVRect{100, -650, 800, 600}));
    fake.screens->all = {{{0, 0, 1920, 1080}, true}, {{1920, 0, 1280, 2000}, false}};
    EXPECT_EQ(KVCapture::cocoaRectFromQuartz({100, 50, 800, 600}), (KVRect{100, 430, 800, 600}));
}

struct CaptureCacheTest : ::testing::Test {
    KVScopedFakePlatform fake;
    double now = 1000;
    KVCapture capture{[this] { return now; }};
    KVArenaWindow arena{7, 100, "MTGA", {10, 20, 300, 200}, true, true};

    void SetUp() override {
        fake.capture->content = KVShareableContent{{{7, {10, 20, 300, 200}}}, {{0, 0, 1920, 1080}}};
    }
};

TEST_F(CaptureCacheTest, ContentIsQueriedOnceInFiveSeconds) {
    ASSERT_TRUE(capture.shareableContent());
    now += 4.9;
    ASSERT_TRUE(capture.shareableContent());
    EXPECT_EQ(fake.capture->contentQueries, 1);
    now += 0.1; // 5.0 after the first query, which is timed from its start
    ASSERT_TRUE(capture.shareableContent());
    EXPECT_EQ(fake.capture->contentQueries, 2);

    // A failed refresh keeps the old content but does not return it.
    fake.capture->content.reset();
    now += 6;
    EXPECT_FALSE(capture.shareableContent());
    EXPECT_EQ(capture.lastError(), "no shareable content (permission?)");
    fake.capture->contentFailure = "no X display (DISPLAY is not set)";
    EXPECT_FALSE(capture.shareableContent());
    EXPECT_EQ(capture.lastError(), "no X display (DISPLAY is not set)");
}

TEST_F(CaptureCacheTest, WindowCaptureReadsTheFrameOfTheMomentAndKeepsTheLastSuccess) {
    EXPECT_FALSE(capture.captureWindow(std::nullopt));
    EXPECT_TRUE(fake.capture->capturedWindows.empty());

    // Moved and resized since the content was cached: the frame read with the pixels counts.
    fake.capture->windowFrames[7] = {KVImage::blank(400, 250), {500, 60, 400, 250}};
    auto image = capture.captureWindow(arena);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 400);
    EXPECT_EQ(capture.lastPath(), "window");
    EXPECT_EQ(capture.lastFrameRect(), (KVRect{500, 60, 400, 250}));

    struct Failure {
        const char* name;
        std::function<void()> arrange;
        const char* error;
    };
    const std::vector<Failure> failures = {
        {"not listed", [&] { arena.windowId = 8; },
         "Arena's window is not in the shareable content"},
        {"no size",
         [&] {
             fake.capture->windowFrames[7] = {KVImage{}, {1, 1, 0, 0}};
         },
         "Arena's window has no size"},
    };
    for (const Failure& f : failures) {
        const KVArenaWindow saved = arena;
        f.arrange();
        EXPECT_FALSE(capture.captureWindow(arena)) << f.name;
        EXPECT_EQ(capture.lastError(), f.error) << f.name;
        EXPECT_EQ(capture.lastPath(), "window") << f.name;
        EXPECT_EQ(capture.lastFrameRect(), (KVRect{500, 60, 400, 250})) << f.name;
        arena = saved;
    }
}

TEST_F(CaptureCacheTest, RegionCaptureAsksForTheRegionAsGiven) {
    fake.capture->regionImage = KVImage::blank(300, 200);
    const KVRect outside{5000, 5000, 300, 200}; // off every display: read as it lies
    ASSERT_TRUE(capture.captureRegion(outside));
    EXPECT_EQ(fake.capture->capturedRegions.back(), outside);
    EXPECT_EQ(capture.lastPath(), "region");
    EXPECT_EQ(capture.lastFrameRect(), outside);

    fake.capture->regionImage.reset();
    EXPECT_FALSE(capture.captureRegion({0, 0, 10, 10}));
    EXPECT_EQ(capture.lastError(), "screenshot timed out");
    EXPECT_EQ(capture.lastFrameRect(), outside);

    fake.capture->content->displays.clear();
    now += 10;
    EXPECT_FALSE(capture.captureRegion({0, 0, 10, 10}));
    EXPECT_EQ(capture.lastError(), "no display");
}

TEST(CaptureArenaAppTest, PathsFollowTheEnvironmentThenSteamThenWineAndSoDoLaunches) {
    KVScopedFakePlatform fake;
    KVScopedEnvironment env;
    const std::string& home = env.home();
    const std::string steam = home + "/.local/share/Steam";
    const std::string steamExe = steam + "/steamapps/common/MTGA/MTGA.exe";
    const std::string lutris = home + "/Games/mtga";
    const std::string lutrisExe =
        lutris + "/drive_c/Program Files/Wizards of the Coast/MTGA/MTGA.exe";
    KVWriteTestFile(steam + "/steamapps/libraryfolders.vdf", "\"libraryfolders\" {}");
    KVWriteTestFile(lutris + "/drive_c/users/player/AppData/LocalLow/x", "");

    const auto candidates = KVCapture::arenaAppCandidates();
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0], steamExe);
    EXPECT_EQ(candidates[1], lutrisExe);
    EXPECT_FALSE(KVCapture::arenaInstalled());
    EXPECT_FALSE(KVCapture::launchArena());

    KVWriteTestFile(steam + "/steamapps/appmanifest_2141910.acf", "\"AppState\" {}");
    EXPECT_EQ(KVCapture::arenaPath(), steam + "/steamapps/appmanifest_2141910.acf");
    KVWriteTestFile(lutrisExe, "MZ");
    EXPECT_EQ(KVCapture::arenaPath(), lutrisExe);
    ASSERT_TRUE(KVCapture::launchArena());
    ASSERT_EQ(fake.launcher->launches.size(), 1u);
    EXPECT_EQ(fake.launcher->launches[0].argv, (std::vector<std::string>{"wine", lutrisExe}));
    EXPECT_EQ(fake.launcher->launches[0].environment,
              (std::vector<std::pair<std::string, std::string>>{{"WINEPREFIX", lutris}}));
    fake.launcher->succeeds = false; // no wine installed
    EXPECT_FALSE(KVCapture::launchArena());
    fake.launcher->succeeds = true;

    KVWriteTestFile(steamExe, "MZ");
    EXPECT_EQ(KVCapture::arenaPath(), steamExe);
    ASSERT_TRUE(KVCapture::launchArena());
    EXPECT_EQ(fake.launcher->urls, (std::vector<std::string>{"steam://rungameid/2141910"}));

    // A pinned path that does not exist falls through to the candidates; a pinned program that
    // is no .exe is run as it is.
    KVEnvironment pinned = *KVEnvironment::current();
    pinned.arenaExe = home + "/nowhere/MTGA.exe";
    auto previous = KVEnvironment::replace(pinned);
    EXPECT_EQ(KVCapture::arenaPath(), steamExe);
    pinned.arenaExe = lutrisExe;
    KVEnvironment::replace(pinned);
    EXPECT_EQ(KVCapture::arenaPath(), lutrisExe);
    const std::string script = home + "/run-arena";
    KVWriteTestFile(script, "#!/bin/sh\n");
    pinned.arenaExe = script;
    KVEnvironment::replace(pinned);
    ASSERT_TRUE(KVCapture::launchArena());
    EXPECT_EQ(fake.launcher->launches.back().argv, (std::vector<std::string>{script}));
    KVEnvironment::restore(previous);
}

} // namespace
