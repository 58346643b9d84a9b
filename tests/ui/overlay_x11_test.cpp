// The live overlay windows on a private X server with openbox, beside fake-arena: focus, clicks
// and stacking. (What shows through them, without and with a compositor, is the gallery's check;
// raising the overlay over a game that covers it is the controller's X11 test.)
#include "base/json.hpp"
#include "support/fake_http_server.hpp"
#include "support/x11_fixture.hpp"
#include "x11_harness/fake_input.hpp"

#include <QRect>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <iterator>
#include <sstream>

namespace {

// Our own connection: pointer, focus and window frames as any client sees them.
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

    QRect frame(xcb_window_t window) {
        auto* geometry = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr);
        auto* origin = xcb_translate_coordinates_reply(
            c_, xcb_translate_coordinates(c_, window, root_, 0, 0), nullptr);
        QRect f;
        if (geometry != nullptr && origin != nullptr) {
            f = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
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

// Whether `upper`'s top-level window lies above `lower`'s among the root's children.
bool above(uint32_t upper, uint32_t lower) {
    KVWindowStacking& stacking = *KVPlatform::current()->stacking;
    const auto order = stacking.order().value_or(std::vector<uint32_t>{});
    const auto u = std::find(order.begin(), order.end(), stacking.topLevelOf(upper));
    const auto l = std::find(order.begin(), order.end(), stacking.topLevelOf(lower));
    return u != order.end() && l != order.end() && u > l;
}

// Sends `request` and gives the window ids on the "ok" line that answers it (none if none came).
std::vector<unsigned> askIds(KVChildProcess& process, const std::string& request) {
    process.write(request + "\n");
    for (int i = 0; i < 10; ++i) {
        std::istringstream line(process.readLine());
        std::string ok;
        if (line >> ok && ok == "ok") {
            return {std::istream_iterator<unsigned>(line), std::istream_iterator<unsigned>()};
        }
    }
    return {};
}

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
        const QRect a = x->frame(fake->window);
        std::ostringstream stamps;
        stamps << "stamps " << a.x() << " " << a.y() << " " << a.width() << " " << a.height()
               << " graded";
        ASSERT_EQ(demo->command(stamps.str()), "ok");
        const std::vector<unsigned> ids = askIds(*demo, "ids");
        ASSERT_EQ(ids.size(), 2u);
        panel = ids[0];
        stampsWindow = ids[1];
        ASSERT_TRUE(KVEventually([&] { return x->frame(panel).width() == 320; }));
    }

    // What the demo printed about taps within `seconds`, "" when nothing.
    std::string tap(double seconds) { return demo->readLine(seconds); }

    std::unique_ptr<KVFakeArena> fake;
    std::unique_ptr<Display> x;
    std::unique_ptr<KVChildProcess> demo;
    unsigned panel = 0;
    unsigned stampsWindow = 0;
};

// The panel's clicks act there and leave the focus with Arena; the others reach Arena: through
// the stamps, through a click-through panel, and while Arena holds a pointer grab.
TEST_F(OverlayX11Integration, ClicksReachThePanelOrArenaAndArenaKeepsTheFocus) {
    const QRect p = x->frame(panel);
    x->input.click(p.x() + 320 - 40 + 12, p.y() + 24); // the close button
    EXPECT_EQ(tap(5), "tap close");
    x->input.click(p.x() + 100, p.y() + 30); // the header: no button, still the panel's click
    EXPECT_EQ(tap(1), "");
    EXPECT_EQ(x->focus(), fake->window);
    EXPECT_EQ(fake->process.readLine(0.5), "") << "Arena never saw the panel's clicks";

    const QRect a = x->frame(fake->window);
    const QRect s = x->frame(stampsWindow);
    EXPECT_EQ(s.topLeft(), a.topLeft());
    // The first card's badge, well inside the stamps' painted shape.
    x->input.click(a.x() + int(0.04 * a.width()) + 30, a.y() + int(0.14 * a.height()) + 30);
    EXPECT_EQ(fake->process.readLine(5).rfind("click ", 0), 0u) << "the stamps took the click";

    ASSERT_EQ(demo->command("clickthrough 1"), "ok");
    x->input.click(p.x() + 320 - 40 + 12, p.y() + 24);
    EXPECT_EQ(fake->process.readLine(5).rfind("click ", 0), 0u);
    EXPECT_EQ(tap(0.5), "");
    ASSERT_EQ(demo->command("clickthrough 0"), "ok");
    x->input.click(p.x() + 320 - 40 + 12, p.y() + 24);
    EXPECT_EQ(tap(5), "tap close");

    ASSERT_EQ(fake->process.command("grab-pointer"), "ok");
    x->input.click(p.x() + 320 - 40 + 12, p.y() + 24);
    const std::string line = fake->process.readLine(5);
    EXPECT_EQ(line.rfind("click ", 0), 0u) << "the grab takes the click: " << line;
    EXPECT_EQ(tap(1), "") << "the panel hears nothing while Arena holds the pointer";
}

TEST_F(OverlayX11Integration, TheSettingsCardTakesTheKeyboardAndEscGivesItBackToArena) {
    ASSERT_EQ(x->focus(), fake->window);
    const QRect a = x->frame(fake->window);
    std::ostringstream show;
    show << "settings " << a.x() << " " << a.y() << " " << a.width() << " " << a.height();
    ASSERT_EQ(demo->command(show.str()), "ok");
    const std::vector<unsigned> ids = askIds(*demo, "settings-ids");
    ASSERT_EQ(ids.size(), 2u);
    const unsigned card = ids[0];
    const unsigned scrim = ids[1];
    EXPECT_TRUE(KVEventually([&] { return above(card, scrim); })) << "the card lies over its scrim";
    EXPECT_TRUE(above(scrim, fake->window)) << "the scrim covers Arena";

    x->input.tap(x->input.keyOf(XK_Escape));
    EXPECT_EQ(tap(5), "settings closed");
    EXPECT_TRUE(KVEventually([&] { return x->focus() == fake->window; }))
        << "Arena has the keyboard again";
    EXPECT_EQ(tap(0.5), "") << "closed once";
}

// A new user's way through the sign-in window with the keyboard alone: it opens with the
// keyboard, Tab goes from the e-mail to the password, Return sends both. (Google through a
// browser is the login tests'.)
TEST_F(OverlayX11Integration, ANewUserSignsInWithTheKeyboard) {
    KVFakeHTTPServer service([](KVFakeHTTPServer::Routes& routes) {
        routes.Post("/api/auth/login", [](const httplib::Request&, httplib::Response& res) {
            res.status = 401;
            res.set_content(R"({"error": "invalid_credentials"})", "application/json");
        });
    });
    const std::vector<unsigned> ids = askIds(*demo, "signin " + service.base());
    ASSERT_EQ(ids.size(), 1u);
    const unsigned window = ids[0];
    ASSERT_TRUE(KVEventually([&] { return x->focus() == window; }))
        << "the window has the keyboard";
    x->input.type("ana@example.com");
    x->input.tap(x->input.keyOf(XK_Tab));
    x->input.type("wrongpass1");
    x->input.tap(x->input.keyOf(XK_Return));
    ASSERT_TRUE(KVEventually([&] { return !service.requests().empty(); }));
    const KVJson body = KVJson::parse(service.lastRequest().body);
    EXPECT_EQ(body["email"], "ana@example.com");
    EXPECT_EQ(body["password"], "wrongpass1") << "Tab took the cursor to the password";
}

} // namespace
