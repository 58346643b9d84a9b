#include "platform/linux/x11_connection.hpp"
#include "platform/linux/x11_platform.hpp"

#include <cstdio>
#include <cstring>
#include <map>
#include <xcb/res.h>

namespace {

// The process name behind a pid, as the kernel keeps it; a trailing ".exe" is Wine's and dropped.
std::string processName(int32_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/comm", pid);
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) {
        return "";
    }
    char name[64] = {};
    const bool read = std::fgets(name, sizeof name, file) != nullptr;
    std::fclose(file);
    if (!read) {
        return "";
    }
    std::string owner = name;
    while (!owner.empty() && owner.back() == '\n') {
        owner.pop_back();
    }
    if (owner.size() > 4 && owner.compare(owner.size() - 4, 4, ".exe") == 0) {
        owner.resize(owner.size() - 4);
    }
    return owner;
}

// The requests of one window, sent together before any reply is awaited.
struct WindowRequests {
    xcb_window_t window = 0;
    xcb_get_window_attributes_cookie_t attributes{};
    xcb_get_geometry_cookie_t geometry{};
    xcb_translate_coordinates_cookie_t origin{};
    xcb_get_property_cookie_t pid{};
    xcb_get_property_cookie_t type{};
    xcb_get_property_cookie_t state{};
    xcb_res_query_client_ids_cookie_t client{};
    bool askedClient = false;
};

using Clock = KVX11Connection::Clock;

class X11WindowList : public KVWindowList {
public:
    std::optional<KVWindowSnapshot> snapshot(KVError* error) override;

private:
    bool prepare(xcb_connection_t* connection);
    std::optional<KVWindowSnapshot> scan(xcb_connection_t* connection, KVError* error);

    KVX11Connection x_;
    xcb_connection_t* prepared_ = nullptr;
    bool resources_ = false; // the X-Resource extension answers client pids
    xcb_atom_t stacking_ = 0, active_ = 0, wmPid_ = 0, type_ = 0, normal_ = 0, state_ = 0,
               hidden_ = 0;
    std::map<int32_t, std::string> names_; // owner names of the pids seen in the last scan
};

bool X11WindowList::prepare(xcb_connection_t* connection) {
    if (prepared_ == connection) {
        return true;
    }
    const char* const names[] = {
        "_NET_CLIENT_LIST_STACKING", "_NET_ACTIVE_WINDOW",         "_NET_WM_PID",
        "_NET_WM_WINDOW_TYPE",       "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_STATE",
        "_NET_WM_STATE_HIDDEN"};
    xcb_intern_atom_cookie_t cookies[7];
    for (size_t i = 0; i < 7; ++i) {
        cookies[i] =
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
    }
    xcb_atom_t* atoms[] = {&stacking_, &active_, &wmPid_, &type_, &normal_, &state_, &hidden_};
    const auto deadline = Clock::now() + KVX11Connection::kReplyBound;
    for (size_t i = 0; i < 7; ++i) {
        auto reply = KVXReplyOf<xcb_intern_atom_reply_t>(connection, cookies[i], deadline);
        if (!reply) {
            return false;
        }
        *atoms[i] = reply->atom;
    }
    resources_ = false;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_res_id);
    if (extension != nullptr && extension->present != 0) {
        auto version = KVXReplyOf<xcb_res_query_version_reply_t>(
            connection, xcb_res_query_version(connection, 1, 2), deadline);
        resources_ = version && (version->server_major > 1 ||
                                 (version->server_major == 1 && version->server_minor >= 2));
    }
    prepared_ = connection;
    return true;
}

std::optional<KVWindowSnapshot> X11WindowList::snapshot(KVError* error) {
    xcb_connection_t* connection = x_.get(error);
    if (connection == nullptr) {
        return std::nullopt;
    }
    if (!prepare(connection)) {
        x_.drop();
        KVSetError(error, "KVX11", 3, "the X server did not answer");
        return std::nullopt;
    }
    auto result = scan(connection, error);
    if (!result) {
        x_.drop();
    }
    return result;
}

std::vector<xcb_window_t> windowsOf(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr || reply->format != 32 || reply->type != XCB_ATOM_WINDOW) {
        return {};
    }
    const auto* data = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    const int count = xcb_get_property_value_length(reply) / 4;
    return {data, data + count};
}

uint32_t firstCardinal(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr || reply->format != 32 || xcb_get_property_value_length(reply) < 4) {
        return 0;
    }
    return *static_cast<const uint32_t*>(xcb_get_property_value(reply));
}

int32_t clientPid(xcb_res_query_client_ids_reply_t* reply) {
    if (reply == nullptr) {
        return 0;
    }
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply); it.rem > 0;
         xcb_res_client_id_value_next(&it)) {
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(it.data) >= 1) {
            return static_cast<int32_t>(*xcb_res_client_id_value_value(it.data));
        }
    }
    return 0;
}

std::optional<KVWindowSnapshot> X11WindowList::scan(xcb_connection_t* connection, KVError* error) {
    const auto deadline = Clock::now() + KVX11Connection::kReplyBound;
    const xcb_window_t root = x_.root();
    auto stackingCookie =
        xcb_get_property(connection, 0, root, stacking_, XCB_ATOM_WINDOW, 0, 1 << 16);
    auto activeCookie = xcb_get_property(connection, 0, root, active_, XCB_ATOM_WINDOW, 0, 1);
    auto focusCookie = xcb_get_input_focus(connection);

    KVXWait outcome = KVXWait::reply;
    auto stackingReply =
        KVXReplyOf<xcb_get_property_reply_t>(connection, stackingCookie, deadline, &outcome);
    auto activeReply = KVXReplyOf<xcb_get_property_reply_t>(connection, activeCookie, deadline);
    auto focusReply = KVXReplyOf<xcb_get_input_focus_reply_t>(connection, focusCookie, deadline);
    if (outcome == KVXWait::timedOut || outcome == KVXWait::broken) {
        KVSetError(error, "KVX11", 3, "the X server did not answer");
        return std::nullopt;
    }
    std::vector<xcb_window_t> stack = windowsOf(stackingReply.get()); // bottom first
    if (stack.empty()) {
        // No window manager lists the clients: the root's children are the top-level windows.
        auto tree = KVXReplyOf<xcb_query_tree_reply_t>(connection, xcb_query_tree(connection, root),
                                                       deadline, &outcome);
        if (!tree) {
            KVSetError(error, "KVX11", 3, "the X server did not answer");
            return std::nullopt;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        stack.assign(children, children + xcb_query_tree_children_length(tree.get()));
    }

    std::vector<WindowRequests> requests(stack.size());
    for (size_t i = 0; i < stack.size(); ++i) {
        WindowRequests& r = requests[i];
        r.window = stack[stack.size() - 1 - i]; // frontmost first
        r.attributes = xcb_get_window_attributes(connection, r.window);
        r.geometry = xcb_get_geometry(connection, r.window);
        r.origin = xcb_translate_coordinates(connection, r.window, root, 0, 0);
        r.pid = xcb_get_property(connection, 0, r.window, wmPid_, XCB_ATOM_CARDINAL, 0, 1);
        r.type = xcb_get_property(connection, 0, r.window, type_, XCB_ATOM_ATOM, 0, 1);
        r.state = xcb_get_property(connection, 0, r.window, state_, XCB_ATOM_ATOM, 0, 32);
        if (resources_) {
            xcb_res_client_id_spec_t spec{r.window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            r.client = xcb_res_query_client_ids(connection, 1, &spec);
            r.askedClient = true;
        }
    }

    KVWindowSnapshot snapshot;
    std::map<int32_t, std::string> names;
    std::map<xcb_window_t, int32_t> pids;
    for (const WindowRequests& r : requests) {
        // Every reply is collected, so that a window gone mid-scan leaves nothing behind.
        auto attributes = KVXReplyOf<xcb_get_window_attributes_reply_t>(connection, r.attributes,
                                                                        deadline, &outcome);
        auto geometry = KVXReplyOf<xcb_get_geometry_reply_t>(connection, r.geometry, deadline);
        auto origin = KVXReplyOf<xcb_translate_coordinates_reply_t>(connection, r.origin, deadline);
        auto pid = KVXReplyOf<xcb_get_property_reply_t>(connection, r.pid, deadline);
        auto type = KVXReplyOf<xcb_get_property_reply_t>(connection, r.type, deadline);
        auto state = KVXReplyOf<xcb_get_property_reply_t>(connection, r.state, deadline);
        KVXReply<xcb_res_query_client_ids_reply_t> client;
        if (r.askedClient) {
            client = KVXReplyOf<xcb_res_query_client_ids_reply_t>(connection, r.client, deadline,
                                                                  &outcome);
        }
        if (outcome == KVXWait::timedOut || outcome == KVXWait::broken) {
            KVSetError(error, "KVX11", 3, "the X server did not answer");
            return std::nullopt;
        }
        if (!attributes || !geometry || !origin) {
            continue; // destroyed while we looked
        }
        KVWindowInfo info;
        info.id = r.window;
        info.pid = clientPid(client.get());
        if (info.pid == 0) {
            info.pid = static_cast<int32_t>(firstCardinal(pid.get()));
        }
        if (info.pid > 0) {
            auto known = names_.find(info.pid);
            auto& name = names[info.pid];
            name = known != names_.end() ? known->second : processName(info.pid);
            info.owner = name;
        }
        const uint32_t windowType = firstCardinal(type.get());
        info.layer =
            attributes->override_redirect != 0 || (windowType != 0 && windowType != normal_) ? 1
                                                                                             : 0;
        info.bounds = {static_cast<double>(origin->dst_x), static_cast<double>(origin->dst_y),
                       static_cast<double>(geometry->width), static_cast<double>(geometry->height)};
        bool hidden = false;
        if (state && state->format == 32) {
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(state.get()));
            for (int i = 0; i < xcb_get_property_value_length(state.get()) / 4; ++i) {
                hidden = hidden || atoms[i] == hidden_;
            }
        }
        info.onScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE && !hidden;
        pids[info.id] = info.pid;
        snapshot.windows.push_back(std::move(info));
    }
    names_ = std::move(names);

    xcb_window_t front = windowsOf(activeReply.get()).empty() ? 0 : windowsOf(activeReply.get())[0];
    if (front == 0 && focusReply && focusReply->focus > XCB_INPUT_FOCUS_POINTER_ROOT) {
        front = focusReply->focus;
    }
    // The focus may sit on a child of a top-level window: climb to the one in the list.
    for (int depth = 0; front != 0 && front != root && depth < 16; ++depth) {
        if (auto found = pids.find(front); found != pids.end()) {
            snapshot.frontmostPid = found->second;
            break;
        }
        auto tree = KVXReplyOf<xcb_query_tree_reply_t>(connection,
                                                       xcb_query_tree(connection, front), deadline);
        front = tree ? tree->parent : 0;
    }
    return snapshot;
}

} // namespace

std::shared_ptr<KVWindowList> KVMakeX11WindowList() {
    return std::make_shared<X11WindowList>();
}
