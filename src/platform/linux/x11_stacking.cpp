#include "platform/window_stacking.hpp"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// The root's child that holds `window`: its frame under a window manager, else itself; 0 when
// the window is gone.
xcb_window_t topLevelOf(xcb_connection_t* c, xcb_window_t window) {
    for (;;) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        if (tree == nullptr) {
            return 0;
        }
        const xcb_window_t parent = tree->parent;
        const xcb_window_t root = tree->root;
        std::free(tree);
        if (parent == root || parent == XCB_NONE) {
            return window;
        }
        window = parent;
    }
}

} // namespace

bool KVStackBelow(QWindow& lower, QWindow& upper) {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr || !upper.isVisible() ||
        !lower.isVisible()) {
        return false;
    }
    xcb_connection_t* c = x11->connection();
    const xcb_window_t sibling = topLevelOf(c, xcb_window_t(upper.winId()));
    if (sibling == 0 || sibling == xcb_window_t(lower.winId())) {
        return false;
    }
    const uint32_t values[] = {sibling, XCB_STACK_MODE_BELOW};
    xcb_configure_window(c, xcb_window_t(lower.winId()),
                         XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
    xcb_flush(c);
    return true;
}
