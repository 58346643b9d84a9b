#include "vision/capture.hpp"

#include "support/x11_fixture.hpp"

#include <cstdlib>
#include <xcb/xcb.h>

namespace {

struct WindowListIntegrationTest : X11Fixture, ::testing::WithParamInterface<bool> {};

TEST_P(WindowListIntegrationTest, FindsTheGameAmongLookAlikesAndFollowsTheFocus) {
    const bool managed = GetParam();
    start({.windowManager = managed});
    // Without _NET_WM_PID, as a sandboxed game's is missing or from another pid namespace: the
    // server's own record of the client names the owner.
    auto game =
        arena({"--no-pid", "--x", "100", "--y", "120", "--width", "1280", "--height", "720"});
    // Larger, but a file manager's window titled like the game; and the game's own dialog.
    auto lookAlike =
        arena({"--process", "nautilus", "--width", "1600", "--height", "900", "--color", "00ff00"});
    auto dialog = arena({"--dialog", "--width", "1500", "--height", "900"});

    // A window manager lists a new window when it gets to it; only the game can be found.
    std::optional<KVArenaWindow> found;
    ASSERT_TRUE(untilRootSays([&] { return (found = KVCapture::findArena()).has_value(); }));
    EXPECT_EQ(found->windowId, game->window);
    EXPECT_EQ(found->pid, game->process.pid());
    EXPECT_EQ(found->owner, "MTGA");
    EXPECT_TRUE(found->onScreen);
    EXPECT_EQ(found->bounds.width, 1280);
    EXPECT_EQ(found->bounds.height, 720);
    if (!managed) {
        EXPECT_EQ(found->bounds, (KVRect{100, 120, 1280, 720}));
    } else {
        // Inside openbox's frame: below its title bar, within its borders.
        xcb_connection_t* c = xcb_connect(display().c_str(), nullptr);
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, game->window), nullptr);
        ASSERT_NE(tree, nullptr);
        auto* frame = xcb_get_geometry_reply(c, xcb_get_geometry(c, tree->parent), nullptr);
        ASSERT_NE(frame, nullptr);
        EXPECT_NE(tree->parent, tree->root);
        EXPECT_GT(found->bounds.y, frame->y);
        EXPECT_GE(found->bounds.x, frame->x);
        EXPECT_LE(found->bounds.y + found->bounds.height, frame->y + frame->height);
        std::free(frame);
        std::free(tree);
        xcb_disconnect(c);
    }

    auto focused = [] {
        const auto arena = KVCapture::findArena();
        return arena && arena->focused;
    };
    ASSERT_EQ(lookAlike->process.command("activate"), "ok");
    EXPECT_TRUE(untilRootSays([&] { return !focused(); }));
    ASSERT_EQ(game->process.command("activate"), "ok");
    EXPECT_TRUE(untilRootSays(focused));
    EXPECT_FALSE(KVCapture::frontmostIsUs());

    // Unmapped, the window manager forgets it; without one it stays, off screen, unfocused.
    ASSERT_EQ(game->process.command("unmap"), "ok");
    EXPECT_TRUE(untilRootSays([&] { return KVCapture::findArena().has_value() == !managed; }));
    found = KVCapture::findArena();
    if (found) {
        EXPECT_FALSE(found->onScreen);
        EXPECT_FALSE(found->focused);
    }

    ASSERT_EQ(game->process.command("close"), "ok");
    // The dialog and the look-alike are not the game.
    EXPECT_TRUE(untilRootSays([] { return !KVCapture::findArena(); }));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutWindowManager, WindowListIntegrationTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "openbox" : "bare"; });

TEST(WindowListNoDisplayTest, SaysThatNoDisplayIsSet) {
    KVScopedEnvironment environment; // no DISPLAY
    auto previous = KVPlatform::replace(KVPlatform::x11());
    KVError error;
    EXPECT_FALSE(KVPlatform::current()->windows->snapshot(&error));
    EXPECT_EQ(error.message, "no X display (DISPLAY is not set)");
    EXPECT_FALSE(KVCapture::findArena());
    KVCapture capture;
    EXPECT_FALSE(capture.captureWindow(KVArenaWindow{1, 1, "MTGA", {0, 0, 500, 500}}));
    EXPECT_EQ(capture.lastError(), "no X display (DISPLAY is not set)");
    EXPECT_TRUE(KVPlatform::current()->screens->monitors().empty());
    KVPlatform::restore(previous);
}

} // namespace
