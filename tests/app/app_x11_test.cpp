// The controller on a real X server: Xvfb with openbox, fake-arena as the game, Qt on xcb. The
// overlay's stacking and the stamps over a captured window are only real there. (Its hot keys
// on a real keyboard are the end-to-end scenario's and the X11 hot keys' tests'.)
#include "app_harness.hpp"

#include "base/dispatch/run_loop.hpp"
#include "base/environment.hpp"
#include "base/files.hpp"
#include "draft/catalog.hpp"
#include "draft/draft_session.hpp"
#include "draft_screen/arena_screen.hpp"
#include "platform/linux/x11_hot_keys.hpp"
#include "ui/panel.hpp"
#include "ui/stamps.hpp"
#include "vision/capture.hpp"
#include "vision/image_codec.hpp"
#include "vision/phash.hpp"
#include "x11_harness/xvfb.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <xcb/xcb.h>

namespace {

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

    static bool until(const std::function<bool()>& done, double seconds = 10) {
        return KVEventually(
            [&] {
                QCoreApplication::processEvents();
                return KVMain().runUntil(done, 0.005);
            },
            seconds, 0);
    }

    // The game in front and the controller signed in over it, its panel on screen.
    void startOverlay() {
        game = std::make_unique<KVFakeArena>(
            server->display(), std::vector<std::string>{"--width", "1280", "--height", "720"});
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
        h->storeSignIn();
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

    bool above(uint32_t upper, uint32_t lower) {
        auto* tree = xcb_query_tree_reply(x, xcb_query_tree(x, root), nullptr);
        if (tree == nullptr) {
            return false;
        }
        const xcb_window_t* bottom = xcb_query_tree_children(tree); // bottom first
        const xcb_window_t* end = bottom + xcb_query_tree_children_length(tree);
        const xcb_window_t* u = std::find(bottom, end, upper);
        const bool found = u != end && std::find(bottom, u, lower) != u;
        std::free(tree);
        return found;
    }

    static inline KVXvfb* server = nullptr;
    xcb_connection_t* x = nullptr;
    xcb_window_t root = 0;
    std::unique_ptr<KVFakeArena> game;
    std::unique_ptr<AppHarness> h;
    uint32_t panel = 0;
};

TEST_F(AppX11Integration, AWindowMappedOverThePanelIsRaisedOver) {
    ASSERT_NO_FATAL_FAILURE(startOverlay());
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
}

// That the stamps land on the cards is the end-to-end scenario's check. With KORVANE_RECORD_DIR
// set, the screen after each pick is kept there as pick-N.png (scripts/record-draft).
TEST_F(AppX11Integration, StampsFollowTheDraftPickByPick) {
    // Static: the fake service may still answer between the test's end and its tear-down.
    static constexpr const char* grades[] = {"A", "B+", "B", "C+", "C", "C-", "D", "F"};
    ASSERT_NO_FATAL_FAILURE(startOverlay());
    h->service.on("/api/draft/analyze", [](const KVJson& body) {
        KVJson picks = KVJson::array();
        for (size_t i = 0; i < body["pack"].size(); ++i) {
            picks.push_back({{"name", body["pack"][i]}, {"grade", grades[i % 8]}});
        }
        return FakeService::Reply{200, {{"best", body["pack"][0]}, {"picks", picks}}};
    });
    const char* recordDir = std::getenv("KORVANE_RECORD_DIR");
    for (int pick = 1; pick <= 3; ++pick) {
        SCOPED_TRACE(pick);
        const int count = 9 - pick; // one row of Arena's draft screen
        std::vector<int> ids(count);
        std::iota(ids.begin(), ids.end(), 993 + 8 * pick); // new cards at each pick
        h->appendLog(ArenaLog::botPack(pick, ids, {}));
        ASSERT_TRUE(until([&] {
            const auto& pack = h->app->session->pack;
            // Until the set arrives, the cards are placeholders named by their ids.
            return pack.size() == size_t(count) &&
                   std::all_of(pack.begin(), pack.end(), [](const KVCardRef& c) {
                       return c && c->name.rfind("Unknown", 0) != 0;
                   });
        })) << "the pack never reached the session with its set";

        // The cards' art, drawn on the draft screen and known to the catalog by its hash.
        KVArenaScreenSpec spec{.width = 1280, .height = 720, .cards = count, .cardImages = {}};
        kKVArenaLayouts[0].applyTo(spec);
        for (const KVCardRef& card : h->app->session->pack) {
            spec.cardImages.push_back(KVRenderCardFace(488, 680, uint32_t(card->arenaId)));
            const auto hash = KVPHashOfArt(spec.cardImages.back()).value();
            h->app->catalog->withLock([&] { card->artHashes = {hash}; });
        }
        const KVArenaScreen screen = KVRenderArenaScreen(spec);
        const std::string picture = h->dir.file("screen.png");
        ASSERT_TRUE(KVWriteFileAtomically(picture, KVEncodePNG(screen.image).value()));
        ASSERT_EQ(game->process.command("image " + picture), "ok");

        ASSERT_TRUE(until(
            [&] {
                // The grades are cleared when a pack goes out: these are this pack's.
                return h->app->packOnScreen && h->app->screenSlots.size() == size_t(count) &&
                       h->app->session->grades.size() == size_t(count);
            },
            30))
            << "the pack was not stamped: on screen " << h->app->packOnScreen << ", "
            << h->app->screenSlots.size() << " slots, " << h->app->session->grades.size()
            << " grades, vision " << (h->app->vision != nullptr);
        const auto stamps = uint32_t(h->app->stamps->window()->winId());
        EXPECT_TRUE(until([&] { return mapped(stamps); }));
        flushQt();
        if (recordDir != nullptr) {
            // The root window: the whole screen as the X server shows it.
            const QString path = QString::fromStdString(
                KVJoinPath(recordDir, "pick-" + std::to_string(pick) + ".png"));
            EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(path, "PNG"));
        }
    }
}

} // namespace
