#include "platform/linux/x11_connection.hpp"
#include "platform/linux/x11_platform.hpp"

#include <string>
#include <xcb/randr.h>

namespace {

using Clock = KVX11Connection::Clock;

class X11Screens : public KVScreens {
public:
    std::vector<KVMonitor> monitors() override;
    bool compositing() override;

private:
    KVX11Connection x_;
};

std::vector<KVMonitor> X11Screens::monitors() {
    xcb_connection_t* connection = x_.get(nullptr);
    if (connection == nullptr) {
        return {};
    }
    const auto deadline = Clock::now() + KVX11Connection::kReplyBound;
    std::vector<KVMonitor> result;
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (randr != nullptr && randr->present != 0) {
        auto version = KVXReplyOf<xcb_randr_query_version_reply_t>(
            connection, xcb_randr_query_version(connection, 1, 5), deadline);
        if (version && (version->major_version > 1 || version->minor_version >= 5)) {
            auto reply = KVXReplyOf<xcb_randr_get_monitors_reply_t>(
                connection, xcb_randr_get_monitors(connection, x_.root(), 1), deadline);
            for (auto it = reply ? xcb_randr_get_monitors_monitors_iterator(reply.get())
                                 : xcb_randr_monitor_info_iterator_t{};
                 it.rem > 0; xcb_randr_monitor_info_next(&it)) {
                KVMonitor monitor{{double(it.data->x), double(it.data->y), double(it.data->width),
                                   double(it.data->height)},
                                  it.data->primary != 0};
                if (monitor.primary) {
                    result.insert(result.begin(), monitor);
                } else {
                    result.push_back(monitor);
                }
            }
        }
    }
    if (result.empty()) {
        // No monitor list: the root window is the one display.
        const xcb_screen_t* screen = x_.screen();
        result.push_back(
            {{0, 0, double(screen->width_in_pixels), double(screen->height_in_pixels)}, true});
    }
    if (!result.front().primary) {
        result.front().primary = true; // the first one is primary when none is marked
    }
    return result;
}

bool X11Screens::compositing() {
    xcb_connection_t* connection = x_.get(nullptr);
    if (connection == nullptr) {
        return false;
    }
    const std::string name = "_NET_WM_CM_S" + std::to_string(x_.screenNumber());
    const xcb_atom_t selection = x_.atom(name.c_str());
    if (selection == XCB_ATOM_NONE) {
        return false;
    }
    auto owner = KVXReplyOf<xcb_get_selection_owner_reply_t>(
        connection, xcb_get_selection_owner(connection, selection),
        Clock::now() + KVX11Connection::kReplyBound);
    return owner && owner->owner != XCB_NONE;
}

} // namespace

std::shared_ptr<KVScreens> KVMakeX11Screens() {
    return std::make_shared<X11Screens>();
}
