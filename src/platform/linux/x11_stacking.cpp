#include "platform/window_stacking.hpp"

#include "platform/linux/x11_connection.hpp"
#include "platform/linux/x11_platform.hpp"

#include <QGuiApplication>
#include <QWindow>

#include <mutex>

namespace {

// The root's child that holds `window` (its frame under a window manager, else itself), on
// Qt's own connection; 0 when the window is gone.
xcb_window_t topLevelOnQt(xcb_connection_t* c, xcb_window_t window) {
    for (;;) {
        const KVXReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree) {
            return 0;
        }
        if (tree->parent == tree->root || tree->parent == XCB_NONE) {
            return window;
        }
        window = tree->parent;
    }
}

// The stacking order read on a connection of our own, so a stuck server costs only it.
class KVX11WindowStacking : public KVWindowStacking {
public:
    std::optional<std::vector<uint32_t>> order(KVError* error) override {
        std::lock_guard lock(mutex_);
        xcb_connection_t* c = connection_.get(error);
        if (c == nullptr) {
            return std::nullopt;
        }
        const auto deadline = KVX11Connection::Clock::now() + KVX11Connection::kReplyBound;
        KVXWait outcome = KVXWait::broken;
        const auto tree = KVXReplyOf<xcb_query_tree_reply_t>(
            c, xcb_query_tree(c, connection_.root()), deadline, &outcome);
        if (!tree) {
            return failed(outcome, error);
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        // One round trip for every child's map state, not one each.
        std::vector<xcb_get_window_attributes_cookie_t> cookies;
        cookies.reserve(size_t(count));
        for (int i = 0; i < count; ++i) {
            cookies.push_back(xcb_get_window_attributes(c, children[i]));
        }
        std::vector<uint32_t> mapped;
        mapped.reserve(size_t(count));
        for (int i = 0; i < count; ++i) {
            const auto attributes = KVXReplyOf<xcb_get_window_attributes_reply_t>(
                c, cookies[size_t(i)], deadline, &outcome);
            if (outcome == KVXWait::timedOut || outcome == KVXWait::broken) {
                return failed(outcome, error);
            }
            // A window destroyed since the tree was read answers with an error: it is gone.
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
                mapped.push_back(children[i]);
            }
        }
        return mapped;
    }

    uint32_t topLevelOf(uint32_t window) override {
        std::lock_guard lock(mutex_);
        xcb_connection_t* c = connection_.get(nullptr);
        if (c == nullptr) {
            return 0;
        }
        const auto deadline = KVX11Connection::Clock::now() + KVX11Connection::kReplyBound;
        for (;;) {
            KVXWait outcome = KVXWait::broken;
            const auto tree = KVXReplyOf<xcb_query_tree_reply_t>(c, xcb_query_tree(c, window),
                                                                 deadline, &outcome);
            if (!tree) {
                if (outcome == KVXWait::timedOut || outcome == KVXWait::broken) {
                    connection_.drop();
                }
                return 0;
            }
            if (tree->parent == tree->root || tree->parent == XCB_NONE) {
                return window;
            }
            window = tree->parent;
        }
    }

    void raise(uint32_t window) override {
        std::lock_guard lock(mutex_);
        xcb_connection_t* c = connection_.get(nullptr);
        if (c == nullptr) {
            return;
        }
        const uint32_t mode = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &mode);
        xcb_flush(c);
    }

private:
    std::optional<std::vector<uint32_t>> failed(KVXWait outcome, KVError* error) {
        if (outcome == KVXWait::timedOut || outcome == KVXWait::broken) {
            connection_.drop();
        }
        KVSetError(error, "KVX11", 3,
                   outcome == KVXWait::timedOut ? "the X server did not answer in time"
                                                : "the X server would not list its windows");
        return std::nullopt;
    }

    std::mutex mutex_;
    KVX11Connection connection_;
};

} // namespace

std::shared_ptr<KVWindowStacking> KVMakeX11WindowStacking() {
    return std::make_shared<KVX11WindowStacking>();
}

bool KVStackBelow(QWindow& lower, QWindow& upper) {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr || !upper.isVisible() ||
        !lower.isVisible()) {
        return false;
    }
    xcb_connection_t* c = x11->connection();
    const xcb_window_t sibling = topLevelOnQt(c, xcb_window_t(upper.winId()));
    if (sibling == 0 || sibling == xcb_window_t(lower.winId())) {
        return false;
    }
    const uint32_t values[] = {sibling, XCB_STACK_MODE_BELOW};
    xcb_configure_window(c, xcb_window_t(lower.winId()),
                         XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
    xcb_flush(c);
    return true;
}
