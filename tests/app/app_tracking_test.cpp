// Arena tracking, the panel's place over Arena, the hot keys and what vision reports, on the
// headless controller with a fake window list and fake hot keys.
#include "app_harness.hpp"

#include "app/hotkeys.hpp"
#include "app/vision_loop.hpp"
#include "base/config.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "draft/draft_session.hpp"
#include "ui/drawing.hpp"
#include "ui/login.hpp"
#include "ui/overlay_window.hpp"
#include "ui/panel.hpp"
#include "ui/settings.hpp"
#include "ui/stamps.hpp"
#include "vision/capture.hpp"

#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr int32_t kArenaPid = 4242;
constexpr uint32_t kCtrlAlt = kKVHotKeyControl | kKVHotKeyOption;
const KVRect kArenaBounds{100, 50, 1600, 900}; // desktop coordinates, on a 1920 × 1080 screen

void signIn(AppHarness& h, const std::function<void(KVAppServices&)>& adjust = {}) {
    h.platform.screens->all = {{{0, 0, 1920, 1080}, true}};
    h.storeSignIn();
    h.launch(adjust);
    ASSERT_TRUE(h.runUntil([&] { return h.app->active; }));
}

void showArena(AppHarness& h, bool front = true) {
    h.platform.windows->next =
        KVWindowSnapshot{{{7, kArenaPid, "MTGA", 0, kArenaBounds, true}}, front ? kArenaPid : 1};
}

// The panel's top-left corner relative to Arena's, measured right and down.
KVPoint panelOffset(const KVApp& app) {
    const KVRect frame = KVCapture::cocoaRectFromQuartz(kArenaBounds);
    const KVPoint corner = app.panel->topLeft();
    return {corner.x - frame.x, frame.y + frame.height - corner.y};
}

TEST(AppTracking, PlacesThePanelAtItsOffsetInsideArena) {
    struct Case {
        std::string name;
        KVJson stored;       // panel_dx and panel_dy, when set
        double wantX, wantY; // kDefault and kFar stand for figures of the panel's size
    };
    constexpr double kDefault = -1; // x: 24 from Arena's right edge
    constexpr double kFar = -2;     // against Arena's right or bottom edge
    const std::vector<Case> cases = {
        {"default", {}, kDefault, 72},
        {"stored", {{"panel_dx", 40}, {"panel_dy", 100}}, 40, 100},
        {"one offset alone", {{"panel_dx", 40}}, kDefault, 72},
        {"an offset of another type", {{"panel_dx", "40"}, {"panel_dy", 100}}, kDefault, 72},
        {"past the left and bottom", {{"panel_dx", -500}, {"panel_dy", 5000}}, 0, kFar},
        {"past the right and top", {{"panel_dx", 5000}, {"panel_dy", -50}}, kFar, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppHarness h;
        for (const auto& [key, value] : c.stored.items()) {
            h.config[key] = value;
        }
        signIn(h);
        showArena(h);
        h.app->tickArena();
        const KVPoint size = h.app->panel->size();
        const double wantX = c.wantX == kDefault ? kArenaBounds.width - size.x - 24
                             : c.wantX == kFar   ? kArenaBounds.width - size.x
                                                 : c.wantX;
        const KVPoint offset = panelOffset(*h.app);
        EXPECT_EQ(offset.x, wantX);
        EXPECT_EQ(offset.y, c.wantY == kFar ? kArenaBounds.height - size.y : c.wantY);
    }
}

TEST(AppTracking, ADragIsStoredAsDraggedOnlyWithArenaKnown) {
    AppHarness h;
    signIn(h);
    const KVRect frame = KVCapture::cocoaRectFromQuartz(kArenaBounds);

    // No Arena: nothing to keep the spot relative to.
    h.app->tickArena();
    h.app->panel->moveTo({frame.x + 10, frame.y + frame.height - 20});
    h.app->panelMoved();
    EXPECT_FALSE(KVConfig::load().contains("panel_dx"));

    showArena(h);
    h.app->tickArena();
    h.app->panel->moveTo({frame.x - 50, frame.y + frame.height - 30}); // left of Arena
    h.app->panelMoved();
    const KVJson stored = KVConfig::load();
    EXPECT_EQ(stored["panel_dx"], -50);
    EXPECT_EQ(stored["panel_dy"], 30);

    // While the user drags, the tick leaves the panel where it is, outside Arena or not.
    h.app->panel->dragging = true;
    h.app->tickArena();
    EXPECT_EQ(panelOffset(*h.app).x, -50);
}

TEST(AppTracking, ArenaInTheBackgroundHidesUnlessBroughtBack) {
    AppHarness h;
    signIn(h);
    // The tracker runs by itself.
    showArena(h, false);
    ASSERT_TRUE(h.runUntil([&] { return !h.app->panel->isVisible(); }, 3));
    EXPECT_FALSE(h.app->arenaInFront);

    h.app->showFromTray();
    h.app->tickArena();
    EXPECT_TRUE(h.app->panel->isVisible());
    EXPECT_FALSE(h.app->panel->onTop);

    showArena(h, true);
    h.app->tickArena();
    EXPECT_FALSE(h.app->forcedVisible);
    EXPECT_TRUE(h.app->panel->onTop);

    // Arena quits with a pack on screen: the pack is gone, the panel stays as a window.
    h.app->onVision({{}, {100, 50, 1600, 900}, false});
    ASSERT_TRUE(h.app->packOnScreen);
    h.platform.windows->next = KVWindowSnapshot{}; // Arena is gone
    h.app->tickArena();
    EXPECT_FALSE(h.app->packOnScreen);
    EXPECT_TRUE(h.app->panel->isVisible());
    EXPECT_FALSE(h.app->panel->onTop);
}

TEST(AppTracking, AWindowAboveTheOverlayGetsItRaisedOnce) {
    AppHarness h;
    signIn(h);
    auto& stacking = *h.platform.stacking;
    showArena(h);
    h.app->tickArena(); // the first tick in front floats the overlay by itself
    ASSERT_TRUE(h.app->arenaInFront);
    QWidget tooltip(nullptr, Qt::ToolTip);
    tooltip.show();
    const uint32_t A = 7, X = 99, C = 555; // Arena, a window not ours, the settings card's frame
    const auto P = uint32_t(h.app->panel->window()->winId());
    const auto S = uint32_t(h.app->stamps->window()->winId());
    const auto T = uint32_t(tooltip.winId());
    const auto M = uint32_t(h.app->settings->scrim()->winId());
    stacking.frames[uint32_t(h.app->settings->window()->winId())] = C;

    struct Case {
        std::string name;
        std::vector<uint32_t> order; // bottom first
        std::vector<uint32_t> raised;
        bool settingsOpen;
    };
    const std::vector<Case> cases = {
        {"nothing above", {A, P, S}, {}, false},
        {"a window below ours", {X, A, P, S}, {}, false},
        {"the stamps above the panel", {A, S, P}, {}, false},
        {"a window above both", {A, P, S, X}, {P, S}, false},
        {"a window between them", {A, P, X, S}, {P}, false},
        {"a tooltip of ours above", {A, P, S, T}, {}, false},
        // The settings card's frame stands above its scrim by design.
        {"the settings open", {A, M, C, P, S}, {}, true},
        {"a window over the settings' scrim", {A, M, X, C, P, S}, {M}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.settingsOpen != h.app->settingsOpen) {
            h.app->toggleSettings();
        }
        stacking.windows = c.order;
        stacking.raised.clear();
        h.app->tickArena();
        EXPECT_EQ(stacking.raised, c.raised);
        // Raised once: the next tick finds the order right.
        stacking.raised.clear();
        h.app->tickArena();
        EXPECT_EQ(stacking.raised, std::vector<uint32_t>{});
    }
    h.app->closeSettings();

    // Nothing is raised over a game in the background, nor without an order to go by.
    stacking.raised.clear();
    stacking.windows = std::vector<uint32_t>{A, P, S, X};
    showArena(h, false);
    h.app->tickArena();
    showArena(h);
    h.app->tickArena(); // in front again: floated, not checked
    stacking.windows.reset();
    h.app->tickArena();
    EXPECT_EQ(stacking.raised, std::vector<uint32_t>{});
}

TEST(AppTracking, HotKeysReachTheirActions) {
    AppHarness h;
    signIn(h);
    auto& keys = *h.platform.hotKeys;
    const auto press = [&](char letter, uint32_t modifiers) {
        const bool held = keys.press(letter, modifiers);
        h.settle(0.05);
        return held;
    };

    ASSERT_TRUE(press('O', kCtrlAlt));
    EXPECT_TRUE(KVJsonBool(KVConfig::load()["click_through"], false));
    ASSERT_TRUE(press('O', kCtrlAlt));
    EXPECT_FALSE(KVJsonBool(KVConfig::load()["click_through"], true));

    ASSERT_TRUE(press('H', kCtrlAlt));
    EXPECT_FALSE(h.app->panel->isVisible());
    ASSERT_TRUE(press('H', kCtrlAlt));
    EXPECT_TRUE(h.app->panel->isVisible());

    showArena(h);
    h.app->tickArena();
    ASSERT_TRUE(press('S', kKVHotKeyOption));
    EXPECT_TRUE(h.app->settingsOpen);
    h.app->settings->scrim()->setGeometry(0, 0, 10, 10); // as if Arena had moved
    h.app->tickArena();
    EXPECT_EQ(KVWindowScreenFrame(*h.app->settings->scrim()),
              KVCapture::cocoaRectFromQuartz(kArenaBounds));
    EXPECT_TRUE(press('D', kKVHotKeyOption));

    // Arena leaves: its keys go, the Ctrl+Alt ones stay (H below).
    h.platform.windows->next = KVWindowSnapshot{}; // Arena is gone
    h.app->tickArena();
    EXPECT_FALSE(press('D', kKVHotKeyOption));

    // Signed out, Ctrl+Alt+H raises the sign-in window rather than an empty panel.
    ASSERT_TRUE(h.platform.shell->choose("Sign out"));
    ASSERT_NE(h.app->login, nullptr);
    h.app->login->window()->hide();
    ASSERT_TRUE(press('H', kCtrlAlt));
    EXPECT_TRUE(h.app->login->window()->isVisible());
    EXPECT_FALSE(h.app->panel->isVisible());
}

TEST(AppTracking, VisionMovesTheStampsOnlyForAWholeWindowFrame) {
    struct Case {
        std::string name;
        KVRect frame;
        bool regionOnly;
        bool moves;
    };
    const std::vector<Case> cases = {
        {"window frame", {100, 50, 1600, 900}, false, true},
        {"small frame", {100, 50, 63, 900}, false, false},
        {"empty frame", {}, false, false},
        {"screen region", {100, 50, 1600, 900}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppHarness h;
        signIn(h);
        const KVRect before = h.app->stamps->frame();
        const KVSlotMatch match{0, nullptr, 0, "none", {0.1, 0.2, 0.1, 0.2}};
        h.app->onVision({{match}, c.frame, c.regionOnly});
        EXPECT_TRUE(h.app->packOnScreen);
        EXPECT_EQ(h.app->stamps->frame(),
                  c.moves ? KVCapture::cocoaRectFromQuartz(c.frame) : before);
        EXPECT_EQ(h.app->screenSlots.size(), c.regionOnly ? 0u : 1u);
        h.app->visionLost();
        EXPECT_FALSE(h.app->packOnScreen);
        EXPECT_TRUE(h.app->screenSlots.empty());
    }
}

TEST(AppTracking, LaunchingArenaStartsItOrSaysWhereToPointUs) {
    AppHarness h;
    signIn(h);
    const std::string status = h.app->session->status;
    h.app->launchArena(); // nothing installed in the test's home
    ASSERT_EQ(h.platform.shell->alerts.size(), 1u);
    EXPECT_EQ(h.platform.shell->alerts[0].title, "MTG Arena not found");
    EXPECT_NE(h.platform.shell->alerts[0].text.find("KORVANE_ARENA_EXE to its MTGA.exe"),
              std::string::npos);
    EXPECT_EQ(h.app->session->status, status);

    const std::string exe = h.dir.file("Games/MTGA.exe");
    KVWriteTestFile(exe, "MZ");
    KVScopedEnvironment installed([&](KVEnvironment& e) { e.arenaExe = exe; });
    h.app->launchArena();
    EXPECT_EQ(h.platform.shell->alerts.size(), 1u);
    EXPECT_EQ(h.app->session->status, "Starting MTG Arena\u2026");
}

TEST(AppTracking, TheScreenshotKeyShowsTheOverlayForAWhileNotExtended) {
    AppHarness h;
    signIn(h, [](KVAppServices& s) { s.screenshotHold = 1.0; });
    showArena(h);
    h.app->tickArena();
    ASSERT_TRUE(h.platform.hotKeys->press('P', kKVHotKeyOption));
    h.settle(0.6);
    EXPECT_TRUE(KVScreenshotMode());
    ASSERT_TRUE(h.platform.hotKeys->press('P', kKVHotKeyOption));
    // Off 1 s after the first press; a second press extending it would end it at 1.6 s.
    EXPECT_TRUE(h.runUntil([] { return !KVScreenshotMode(); }, 0.8));
    // A fresh press gets its whole while: no timer of the ignored press is left to end it.
    ASSERT_TRUE(h.platform.hotKeys->press('P', kKVHotKeyOption));
    h.settle(0.75);
    EXPECT_TRUE(KVScreenshotMode());
    EXPECT_TRUE(h.runUntil([] { return !KVScreenshotMode(); }, 2));
}

// Past the ceiling the note is written before the quit; memory is sampled with no ceiling too.
TEST(AppTracking, TheWatchdogQuitsInOrderPastTheCeiling) {
    struct Case {
        std::string name;
        double limit; // GB
        uint64_t resident;
        bool quits;
    };
    constexpr uint64_t kGB = 1ull << 30;
    const std::vector<Case> cases = {
        {"over", 2, 3 * kGB + kGB / 2, true},
        {"no ceiling", 0, 64 * kGB, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppHarness h;
        h.config["memory_limit_gb"] = c.limit;
        const std::string note = KVJoinPath(KVConfig::dataDir(), "memory-crash.txt");
        bool noteBeforeQuit = false;
        h.launch([&](KVAppServices& s) {
            s.residentBytes = [&] { return c.resident; };
            s.quit = [&] {
                ++h.quits;
                noteBeforeQuit = KVFileExists(note);
            };
        });
        h.settle(0.2);
        EXPECT_EQ(h.quits, c.quits ? 1 : 0);
        EXPECT_EQ(noteBeforeQuit, c.quits);
        EXPECT_TRUE(KVFileExists(KVJoinPath(KVConfig::dataDir(), "memory.log")));
        EXPECT_EQ(KVReadFile(note).value_or(""),
                  c.quits ? "Korvane quit itself at 3.5 GB resident, over the 2 GB ceiling "
                            "(memory_limit_gb in config.json). See memory.log for the climb.\n"
                          : "");
    }
}

TEST(AppTracking, TheDraftDebugLineListsEachSlotOnlyWhenAskedFor) {
    AppHarness h;
    signIn(h);
    const std::vector<KVSlotMatch> slots = {
        {0, std::make_shared<KVCard>("Card 1"), 0, "phash", {0.1, 0.25, 0.1, 0.2}},
        {1, nullptr, 0, "", {0.5, 0.25, 0.1, 0.2}}};
    const std::string line = "[draft] vision 2 slots in frame (100,50,1600x900): "
                             "0:Card 1(phash,x=0.100,y=0.250) 1:?(-,x=0.500,y=0.250)";
    for (const bool debug : {false, true}) {
        SCOPED_TRACE(debug ? "KORVANE_DRAFT_DEBUG set" : "KORVANE_DRAFT_DEBUG unset");
        if (debug) {
            ::setenv("KORVANE_DRAFT_DEBUG", "1", 1);
        }
        h.app->onVision({slots, {100, 50, 1600, 900}, false});
        ::unsetenv("KORVANE_DRAFT_DEBUG");
        KVLogFlush();
        EXPECT_EQ(KVReadFile(KVLogPath()).value_or("").find(line) != std::string::npos, debug);
    }
}

} // namespace
