// The live overlay windows on a private X server with openbox, beside fake-arena: focus, clicks,
// stacking and what shows without and with a compositing manager.
#include "base/json.hpp"
#include "support/fake_http_server.hpp"
#include "support/x11_fixture.hpp"
#include "x11_harness/fake_input.hpp"

#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

// Our own connection: pointer, focus, stacking and pixels as any client sees them.
class Display {
public:
    explicit Display(const std::string& name)
        : c_(xcb_connect(name.c_str(), nullptr)),
          root_(xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root), input(c_, root_) {}
    ~Display() { xcb_disconnect(c_); }

    xcb_window_t focus() {
        auto* reply = xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr);
        const xcb_window_t window = reply != nullptr ? reply->focus : 0;
        std::free(reply);
        return window;
    }

    // The root's child that holds `window` (its frame under a window manager).
    xcb_window_t topLevel(xcb_window_t window) {
        for (;;) {
            auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr);
            if (tree == nullptr) {
                return 0;
            }
            const xcb_window_t parent = tree->parent;
            std::free(tree);
            if (parent == root_ || parent == 0) {
                return window;
            }
            window = parent;
        }
    }

    // A window that bypasses the window manager, mapped on top of everything: how Wine shows a
    // full-screen game (openbox keeps managed frames below such windows whatever they ask).
    xcb_window_t fullScreenGame() {
        const xcb_window_t window = xcb_generate_id(c_);
        const uint32_t values[] = {0x336699, 1};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 1280, 720, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c_, window);
        raise(window);
        return window;
    }

    void raise(xcb_window_t window) {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }

    // Whether `upper` lies above `lower` in the root's stacking order.
    bool above(xcb_window_t upper, xcb_window_t lower) {
        auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
        if (tree == nullptr) {
            return false;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree);
        const xcb_window_t* end = children + xcb_query_tree_children_length(tree);
        const auto u = std::find(children, end, upper);
        const auto l = std::find(children, end, lower);
        const bool result = u != end && l != end && u > l;
        std::free(tree);
        return result;
    }

    uint32_t pixel(int x, int y) {
        auto* image = xcb_get_image_reply(
            c_,
            xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, int16_t(x), int16_t(y), 1, 1, ~0u),
            nullptr);
        uint32_t value = 0;
        if (image != nullptr && xcb_get_image_data_length(image) >= 4) {
            std::memcpy(&value, xcb_get_image_data(image), 4);
        }
        std::free(image);
        return value & 0xFFFFFF;
    }

    struct Frame {
        int x = 0, y = 0, width = 0, height = 0;
    };
    Frame frame(xcb_window_t window) {
        auto* geometry = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr);
        auto* origin = xcb_translate_coordinates_reply(
            c_, xcb_translate_coordinates(c_, window, root_, 0, 0), nullptr);
        Frame f;
        if (geometry != nullptr && origin != nullptr) {
            f = {origin->dst_x, origin->dst_y, geometry->width, geometry->height};
        }
        std::free(geometry);
        std::free(origin);
        return f;
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_ = 0;

public:
    KVFakeInput input; // after the connection it sends on
};

// Sends `request` and gives the window ids on the "ok" line that answers it (none if none came).
std::vector<unsigned> askIds(KVChildProcess& process, const std::string& request) {
    process.write(request + "\n");
    for (int i = 0; i < 10; ++i) {
        std::istringstream line(process.readLine());
        std::string ok;
        line >> ok;
        if (ok == "ok") {
            std::vector<unsigned> ids;
            for (unsigned id = 0; line >> id;) {
                ids.push_back(id);
            }
            return ids;
        }
    }
    return {};
}

constexpr uint32_t kArenaColor = 0x336699;

class OverlayX11Integration : public X11Fixture {
protected:
    void SetUp() override {
        KVXvfb::Options options;
        options.width = 1600;
        options.height = 900;
        options.windowManager = true;
        start(options);
        fake = arena(
            {"--x", "0", "--y", "0", "--width", "1280", "--height", "720", "--color", "336699"});
        x = std::make_unique<Display>(display());
        // openbox focuses the new window itself.
        ASSERT_TRUE(KVEventually([&] { return x->focus() == fake->window; }));
        demo = std::make_unique<KVChildProcess>(
            std::vector<std::string>{KV_OVERLAY_DEMO},
            std::vector<std::string>{"DISPLAY=" + display(), "QT_QPA_PLATFORM=xcb"});
        ASSERT_EQ(demo->readLine(30), "ready");
        ASSERT_EQ(demo->command("panel waiting 900 100"), "ok");
        const Display::Frame a = x->frame(fake->window);
        std::ostringstream stamps;
        stamps << "stamps " << a.x << " " << a.y << " " << a.width << " " << a.height << " graded";
        ASSERT_EQ(demo->command(stamps.str()), "ok");
        const std::vector<unsigned> ids = askIds(*demo, "ids");
        ASSERT_EQ(ids.size(), 2u);
        panel = ids[0];
        stampsWindow = ids[1];
        ASSERT_TRUE(KVEventually([&] { return x->frame(panel).width == 320; }));
    }

    // What the demo printed about taps within `seconds`, "" when nothing.
    std::string tap(double seconds) { return demo->readLine(seconds); }

    std::unique_ptr<KVFakeArena> fake;
    std::unique_ptr<Display> x;
    std::unique_ptr<KVChildProcess> demo;
    unsigned panel = 0;
    unsigned stampsWindow = 0;
};

TEST_F(OverlayX11Integration, AClickOnThePanelActsButLeavesTheFocusOnArena) {
    const xcb_window_t focused = x->focus();
    ASSERT_EQ(focused, fake->window);
    const Display::Frame p = x->frame(panel);
    x->input.click(p.x + 320 - 40 + 12, p.y + 12 + 12); // the close button
    EXPECT_EQ(tap(5), "tap close");
    EXPECT_EQ(x->focus(), focused);
    x->input.click(p.x + 100, p.y + 30); // the header: no button, still the panel's click
    EXPECT_EQ(tap(1), "");
    EXPECT_EQ(x->focus(), focused);
    EXPECT_EQ(fake->process.readLine(0.5), "") << "Arena never saw the panel's clicks";
}

TEST_F(OverlayX11Integration, ClicksOnTheStampsReachArena) {
    const Display::Frame a = x->frame(fake->window);
    const Display::Frame s = x->frame(stampsWindow);
    EXPECT_EQ(s.x, a.x);
    EXPECT_EQ(s.y, a.y);
    // The first card's badge, well inside the stamps' painted shape.
    x->input.click(a.x + int(0.04 * a.width) + 30, a.y + int(0.14 * a.height) + 30);
    const std::string line = fake->process.readLine(5);
    EXPECT_EQ(line.rfind("click ", 0), 0u) << line;
}

TEST_F(OverlayX11Integration, TheClickThroughPanelPassesClicksToArena) {
    ASSERT_EQ(demo->command("clickthrough 1"), "ok");
    const Display::Frame p = x->frame(panel);
    x->input.click(p.x + 320 - 40 + 12, p.y + 24);
    EXPECT_EQ(fake->process.readLine(5).rfind("click ", 0), 0u);
    EXPECT_EQ(tap(0.5), "");
    ASSERT_EQ(demo->command("clickthrough 0"), "ok");
    x->input.click(p.x + 320 - 40 + 12, p.y + 24);
    EXPECT_EQ(tap(5), "tap close");
}

TEST_F(OverlayX11Integration, FloatingOverEverythingPutsThePanelBackAboveArena) {
    ASSERT_TRUE(KVEventually([&] { return x->above(panel, x->topLevel(fake->window)); }));
    const xcb_window_t arenaFrame = x->fullScreenGame();
    ASSERT_TRUE(KVEventually([&] { return x->above(arenaFrame, panel); }));
    ASSERT_EQ(demo->command("raise"), "ok");
    EXPECT_TRUE(KVEventually([&] { return x->above(panel, arenaFrame); }));
    EXPECT_TRUE(x->above(panel, stampsWindow)) << "the panel stays over the stamps";

    // Always-on-top off: raising no longer lifts the panel.
    ASSERT_EQ(demo->command("ontop 0"), "ok");
    x->raise(arenaFrame);
    ASSERT_TRUE(KVEventually([&] { return x->above(arenaFrame, panel); }));
    ASSERT_EQ(demo->command("raise"), "ok");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(x->above(arenaFrame, panel));
}

TEST_F(OverlayX11Integration, WithoutACompositorTheCornersShowArenaNotBlack) {
    const Display::Frame p = x->frame(panel);
    const Display::Frame a = x->frame(fake->window);
    ASSERT_TRUE(KVEventually([&] { return x->pixel(p.x + 100, p.y + 30) != kArenaColor; }));
    for (const auto& [dx, dy] : {std::pair{0, 0}, {1, 1}, {319, 0}, {0, p.height - 1}}) {
        EXPECT_EQ(x->pixel(p.x + dx, p.y + dy), kArenaColor) << "panel corner " << dx << "," << dy;
    }
    // Between the stamps the game shows through; a badge is painted.
    EXPECT_EQ(x->pixel(a.x + a.width / 2, a.y + a.height - 10), kArenaColor);
    EXPECT_EQ(x->pixel(a.x + 2, a.y + 2), kArenaColor);

    // A compositor blends the translucent window instead: the corners stay the game's and a
    // half-opaque panel mixes with it.
    KVChildProcess compositor({"xcompmgr"}, {"DISPLAY=" + display()});
    ASSERT_TRUE(KVEventually([&] { return KVPlatform::current()->screens->compositing(); }));
    ASSERT_EQ(demo->command("opacity 0.5"), "ok");
    const uint32_t body = 0x0b0f16;
    EXPECT_TRUE(KVEventually([&] {
        const uint32_t mixed = x->pixel(p.x + 100, p.y + 30);
        return mixed != body && mixed != kArenaColor && (mixed & 0xFF) > 0x40;
    })) << "the panel's body blends with the game";
    EXPECT_TRUE(KVEventually([&] { return x->pixel(p.x, p.y) == kArenaColor; }));
    compositor.kill();
}

TEST_F(OverlayX11Integration, WhileArenaHoldsAPointerGrabClicksGoToArena) {
    ASSERT_EQ(fake->process.command("grab-pointer"), "ok");
    const Display::Frame p = x->frame(panel);
    x->input.click(p.x + 320 - 40 + 12, p.y + 24);
    const std::string line = fake->process.readLine(5);
    EXPECT_EQ(line.rfind("click ", 0), 0u) << "the grab takes the click: " << line;
    EXPECT_EQ(tap(1), "") << "the panel hears nothing while Arena holds the pointer";
}

TEST_F(OverlayX11Integration, TheSettingsCardTakesTheKeyboardAndEscGivesItBackToArena) {
    ASSERT_EQ(x->focus(), fake->window);
    const Display::Frame a = x->frame(fake->window);
    std::ostringstream show;
    show << "settings " << a.x << " " << a.y << " " << a.width << " " << a.height;
    ASSERT_EQ(demo->command(show.str()), "ok");
    const std::vector<unsigned> ids = askIds(*demo, "settings-ids");
    ASSERT_EQ(ids.size(), 2u);
    const unsigned card = ids[0];
    const unsigned scrim = ids[1];
    EXPECT_TRUE(KVEventually([&] { return x->focus() == card; })) << "the card has the keyboard";
    EXPECT_TRUE(KVEventually([&] { return x->above(x->topLevel(card), scrim); }))
        << "the card lies over its scrim";
    EXPECT_TRUE(x->above(scrim, x->topLevel(fake->window))) << "the scrim covers Arena";
    const Display::Frame c = x->frame(card);
    EXPECT_EQ(c.x, a.x + (a.width - 420) / 2);
    EXPECT_EQ(c.y, a.y + a.height / 3);

    x->input.tap(x->input.keyOf(XK_Escape));
    EXPECT_EQ(tap(5), "settings closed");
    EXPECT_TRUE(KVEventually([&] { return x->focus() == fake->window; }))
        << "Arena has the keyboard again";
    EXPECT_EQ(tap(0.5), "") << "closed once";
}

// A new user's way through the sign-in window: typing, Tab, Return, a refused password, then
// Google in a stand-in browser (an xdg-open that hands the address to curl). With
// KV_SIGNIN_SHOTS set to a directory, the screen is saved there at each step.
TEST_F(OverlayX11Integration, ANewUserSignsInWithTheKeyboardThenWithGoogle) {
    KVFakeHTTPServer service([](KVFakeHTTPServer::Routes& routes) {
        routes.Post("/api/auth/login", [](const httplib::Request&, httplib::Response& res) {
            res.status = 401;
            res.set_content(R"({"error": "invalid_credentials"})", "application/json");
        });
        routes.Get("/auth/desktop", [](const httplib::Request& req, httplib::Response& res) {
            res.set_redirect(req.get_param_value("redirect_uri") +
                                 "?token=kor_new&state=" + req.get_param_value("state"),
                             302);
        });
        routes.Get("/api/me", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"email": "ana@example.com", "credits": 3})", "application/json");
        });
    });
    const std::filesystem::path bin =
        std::filesystem::temp_directory_path() / ("kv-browser-" + std::to_string(::getpid()));
    std::filesystem::create_directories(bin);
    {
        std::ofstream browser(bin / "xdg-open");
        browser << "#!/bin/sh\nsleep 1\nexec curl -s -L -o /dev/null --max-time 10 \"$1\"\n";
    }
    std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    KVChildProcess app({KV_OVERLAY_DEMO},
                       {"DISPLAY=" + display(), "QT_QPA_PLATFORM=xcb",
                        "PATH=" + bin.string() + ":" + (path != nullptr ? path : "/usr/bin")});
    ASSERT_EQ(app.readLine(30), "ready");
    const char* shots = std::getenv("KV_SIGNIN_SHOTS");
    const auto shot = [&](const char* name) {
        if (shots != nullptr) {
            std::this_thread::sleep_for(std::chrono::milliseconds(400)); // the keys drawn
            EXPECT_EQ(app.command("shot " + std::string(shots) + "/" + name + ".png"), "ok");
        }
    };
    const std::vector<unsigned> ids = askIds(app, "signin " + service.base());
    ASSERT_EQ(ids.size(), 1u);
    const unsigned window = ids[0];
    ASSERT_TRUE(KVEventually([&] { return x->focus() == window; }))
        << "the window has the keyboard";
    shot("signin-live-1-open");

    x->input.type("ana@example.com");
    x->input.tap(x->input.keyOf(XK_Tab));
    x->input.type("wrongpass1");
    shot("signin-live-2-typed");
    x->input.tap(x->input.keyOf(XK_Return));
    ASSERT_TRUE(KVEventually([&] { return !service.requests().empty(); }));
    const KVJson body = KVJson::parse(service.lastRequest().body);
    EXPECT_EQ(body["email"], "ana@example.com");
    EXPECT_EQ(body["password"], "wrongpass1") << "Tab took the cursor to the password";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    shot("signin-live-3-refused");

    // The Google button, in the middle of its frame in the window.
    const Display::Frame w = x->frame(window);
    x->input.click(w.x + 48 + 162, w.y + 420 + 18);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    shot("signin-live-4-google-waiting");
    EXPECT_EQ(app.readLine(20), "signed in ana@example.com");
    EXPECT_TRUE(KVEventually([&] { return x->frame(window).width == 0 || x->focus() != window; }))
        << "the window closed";
    shot("signin-live-5-done");
    app.command("quit");
    std::filesystem::remove_all(bin);
}

} // namespace
