// The controller on a real X server: Xvfb with openbox, fake-arena as the game, Qt on xcb. The
// overlay's stacking and the system-wide keys are only real there.
#include "app_harness.hpp"

#include "base/dispatch/run_loop.hpp"
#include "base/environment.hpp"
#include "platform/linux/x11_hot_keys.hpp"
#include "ui/panel.hpp"
#include "ui/stamps.hpp"
#include "vision/capture.hpp"
#include "x11_harness/xvfb.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

namespace {

constexpr xcb_keysym_t kControlL = 0xffe3;
constexpr xcb_keysym_t kAltL = 0xffe9;
constexpr xcb_keysym_t kLetterH = 'h';

// One X server with a window manager for the suite: Qt binds to its display for life.
class AppX11Integration : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new KVXvfb(KVXvfb::Options{.windowManager = true});
        ::setenv("DISPLAY", server->display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    // The server stays up to the end: Qt's application is never torn down.

    void SetUp() override {
        ASSERT_FALSE(server->display().empty()) << server->failure();
        x = xcb_connect(server->display().c_str(), nullptr);
        ASSERT_EQ(xcb_connection_has_error(x), 0);
        root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    }

    void TearDown() override {
        h.reset();
        game.reset();
        if (x != nullptr) {
            xcb_disconnect(x);
        }
    }

    // Runs the controller's queue and Qt's events until `done`, for at most `seconds`.
    static bool until(const std::function<bool()>& done, double seconds = 10) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            QCoreApplication::processEvents();
            KVMain().runUntil(done, 0.005);
        }
        return true;
    }

    // The game in front and the controller signed in over it, its panel on screen.
    void startOverlay() {
        game = std::make_unique<KVFakeArena>(
            server->display(), std::vector<std::string>{"--width", "1280", "--height", "800"});
        ASSERT_NE(game->window, 0u) << "fake-arena did not come up";
        h = std::make_unique<AppHarness>();
        // The harness's environment names no display; its scope restores the one before.
        KVEnvironment environment = *KVEnvironment::current();
        environment.display = server->display();
        KVEnvironment::replace(std::move(environment));
        KVPlatform platform = KVPlatform::x11();
        platform.hotKeys = KVMakeX11HotKeys();
        ASSERT_NE(platform.hotKeys, nullptr);
        platform.shell = h->platform.shell;
        KVPlatform::replace(std::move(platform));
        ASSERT_TRUE(until([] {
            const auto arena = KVCapture::findArena();
            return arena && arena->focused;
        })) << "openbox never focused the game";
        h->storeSignIn("tok", "ann@example.com");
        h->launch();
        ASSERT_TRUE(until([&] { return h->app->active && h->app->arenaInFront; }));
        panel = uint32_t(h->app->panel->window()->winId());
        ASSERT_TRUE(until([&] { return mapped(panel); })) << "the panel never showed";
    }

    // Sends what Qt has queued for the server and waits until the server has handled it.
    static void flushQt() {
        QCoreApplication::processEvents();
        auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* qt = native->connection();
        std::free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
    }

    bool mapped(uint32_t window) {
        auto* reply =
            xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, window), nullptr);
        const bool viewable = reply != nullptr && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(reply);
        return viewable;
    }

    // The root's children, bottom first.
    std::vector<uint32_t> stackingOrder() {
        auto* tree = xcb_query_tree_reply(x, xcb_query_tree(x, root), nullptr);
        std::vector<uint32_t> order;
        if (tree != nullptr) {
            const xcb_window_t* children = xcb_query_tree_children(tree);
            order.assign(children, children + xcb_query_tree_children_length(tree));
        }
        std::free(tree);
        return order;
    }

    bool above(uint32_t upper, uint32_t lower) {
        const auto order = stackingOrder();
        const auto u = std::find(order.begin(), order.end(), upper);
        const auto l = std::find(order.begin(), order.end(), lower);
        return u != order.end() && l != order.end() && u > l;
    }

    // Presses and releases Control+Alt+`letter`, as a user would.
    void pressControlAlt(xcb_keysym_t letter) {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(x);
        const auto keyOf = [symbols](xcb_keysym_t symbol) {
            xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, symbol);
            const xcb_keycode_t code = codes != nullptr ? codes[0] : 0;
            std::free(codes);
            return code;
        };
        const xcb_keycode_t keys[] = {keyOf(kControlL), keyOf(kAltL), keyOf(letter)};
        xcb_key_symbols_free(symbols);
        for (const xcb_keycode_t key : keys) {
            xcb_test_fake_input(x, XCB_KEY_PRESS, key, XCB_CURRENT_TIME, root, 0, 0, 0);
        }
        for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
            xcb_test_fake_input(x, XCB_KEY_RELEASE, *key, XCB_CURRENT_TIME, root, 0, 0, 0);
        }
        xcb_flush(x);
    }

    static inline KVXvfb* server = nullptr;
    xcb_connection_t* x = nullptr;
    xcb_window_t root = 0;
    std::unique_ptr<KVFakeArena> game;
    std::unique_ptr<AppHarness> h;
    uint32_t panel = 0;
};

TEST_F(AppX11Integration, AWindowMappedOverThePanelIsRaisedOver) {
    startOverlay();
    if (HasFatalFailure()) {
        return;
    }
    const auto stamps = uint32_t(h->app->stamps->window()->winId());
    ASSERT_TRUE(until([&] { return mapped(stamps); }));
    // Qt sends its own raises when its loop next runs: let them land first, so that only the
    // tracker can lift the panel over the window below.
    flushQt();

    // Another program's window that bypasses the window manager, mapped on top of everything.
    const xcb_window_t cover = xcb_generate_id(x);
    const uint32_t overrideRedirect = 1;
    xcb_create_window(x, XCB_COPY_FROM_PARENT, cover, root, 0, 0, 1920, 1080, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      &overrideRedirect);
    xcb_map_window(x, cover);
    xcb_flush(x);
    ASSERT_TRUE(above(cover, panel));

    EXPECT_TRUE(until([&] { return above(panel, cover) && above(stamps, cover); }))
        << "the tracker left the overlay under another window";
    xcb_destroy_window(x, cover);
    xcb_flush(x);
}

TEST_F(AppX11Integration, ControlAltHHidesAndShowsTheRealPanel) {
    startOverlay();
    if (HasFatalFailure()) {
        return;
    }
    pressControlAlt(kLetterH);
    EXPECT_TRUE(until([&] { return !mapped(panel); })) << "the panel stayed on screen";
    EXPECT_FALSE(h->app->panelWanted);

    pressControlAlt(kLetterH);
    EXPECT_TRUE(until([&] { return mapped(panel); })) << "the panel did not come back";
}

} // namespace
