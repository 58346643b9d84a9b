// Drives an X server the way a user would, for live runs of the program on Xvfb:
//   x11-drive shot FILE.png      the root window's pixels as a PNG
//   x11-drive click X Y [N]      moves the pointer and clicks button N (1 unless given)
//   x11-drive type TEXT          types printable ASCII text
//   x11-drive key NAME           presses one key: Return, Tab, Escape, BackSpace
//   x11-drive window TITLE [S]   waits up to S seconds (none by default) for a shown window
//                                titled TITLE; status 1 when none shows
// $DISPLAY names the server. Exit status 1 when the server or the request fails.
#include <QImage>

#include "x11_harness/fake_input.hpp"

#include <xcb/xcb.h>

#include <X11/keysym.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

xcb_connection_t* gConnection = nullptr;
xcb_screen_t* gScreen = nullptr;

bool shot(const char* path) {
    const uint16_t width = gScreen->width_in_pixels;
    const uint16_t height = gScreen->height_in_pixels;
    auto* reply = xcb_get_image_reply(gConnection,
                                      xcb_get_image(gConnection, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                                    gScreen->root, 0, 0, width, height, ~0u),
                                      nullptr);
    if (reply == nullptr || gScreen->root_depth < 24) {
        std::free(reply);
        return false;
    }
    const QImage image(xcb_get_image_data(reply), width, height, width * 4, QImage::Format_RGB32);
    const bool saved = image.copy().save(path, "PNG");
    std::free(reply);
    return saved;
}

xcb_atom_t atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        gConnection, xcb_intern_atom(gConnection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

std::string textProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    auto* reply = xcb_get_property_reply(
        gConnection, xcb_get_property(gConnection, 0, window, property, type, 0, 1024), nullptr);
    std::string text;
    if (reply != nullptr) {
        text.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                    size_t(xcb_get_property_value_length(reply)));
    }
    std::free(reply);
    return text;
}

// Whether `window` or one below it is viewable and titled `title`. A window manager puts the
// program's windows inside frames of its own, so the whole tree is searched.
bool showsTitled(xcb_window_t window, const std::string& title) {
    static const xcb_atom_t netName = atom("_NET_WM_NAME");
    static const xcb_atom_t utf8 = atom("UTF8_STRING");
    auto* attributes = xcb_get_window_attributes_reply(
        gConnection, xcb_get_window_attributes(gConnection, window), nullptr);
    const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    if (window != gScreen->root && !viewable) {
        return false;
    }
    if (window != gScreen->root &&
        (textProperty(window, netName, utf8) == title ||
         textProperty(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING) == title)) {
        return true;
    }
    auto* tree = xcb_query_tree_reply(gConnection, xcb_query_tree(gConnection, window), nullptr);
    bool found = false;
    if (tree != nullptr) {
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
            found = showsTitled(children[i], title);
        }
    }
    std::free(tree);
    return found;
}

bool waitForWindow(const std::string& title, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (showsTitled(gScreen->root, title)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: x11-drive shot FILE | click X Y [N] | type TEXT | key NAME | "
                             "window TITLE [S]\n");
        return 2;
    }
    int screenNumber = 0;
    gConnection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(gConnection)) {
        std::fprintf(stderr, "x11-drive: no X server\n");
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(gConnection));
    for (int i = 0; i < screenNumber; ++i) {
        xcb_screen_next(&it);
    }
    gScreen = it.data;
    // Paced, so the program on the other end reads each event in turn.
    KVFakeInput input(gConnection, gScreen->root, 20);
    const std::string command = argv[1];
    int status = 0;
    if (command == "shot" && argc == 3) {
        status = shot(argv[2]) ? 0 : 1;
    } else if (command == "click" && argc >= 4) {
        const auto button = uint8_t(argc > 4 ? std::atoi(argv[4]) : 1);
        input.click(std::atoi(argv[2]), std::atoi(argv[3]), button);
    } else if (command == "type" && argc == 3) {
        status = input.type(argv[2]) ? 0 : 1;
    } else if (command == "key" && argc == 3) {
        const std::string name = argv[2];
        const xcb_keysym_t keysym = name == "Return"   ? XK_Return
                                    : name == "Tab"    ? XK_Tab
                                    : name == "Escape" ? XK_Escape
                                                       : XK_BackSpace;
        status = input.tap(input.keyOf(keysym)) ? 0 : 1;
    } else if (command == "window" && argc >= 3) {
        status = waitForWindow(argv[2], argc > 3 ? std::atof(argv[3]) : 0) ? 0 : 1;
    } else {
        std::fprintf(stderr, "x11-drive: unknown command %s\n", argv[1]);
        status = 2;
    }
    xcb_disconnect(gConnection);
    return status;
}
