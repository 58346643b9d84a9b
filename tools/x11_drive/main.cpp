// Drives an X server the way a user would, for live runs of the program on Xvfb:
//   x11-drive shot FILE.png      the root window's pixels as a PNG
//   x11-drive click X Y [N]      moves the pointer and clicks button N (1 unless given)
//   x11-drive type TEXT          types printable ASCII text
//   x11-drive key NAME           presses one key: Return, Tab, Escape, BackSpace
//   x11-drive window TITLE [S]   waits up to S seconds (none by default) for a shown window
//                                titled TITLE; status 1 when none shows
// $DISPLAY names the server. Exit status 1 when the server or the request fails.
#include "x11_harness/us_keys.hpp"

#include <QImage>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

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

void pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void fake(uint8_t type, uint8_t detail, int16_t x = 0, int16_t y = 0) {
    xcb_test_fake_input(gConnection, type, detail, XCB_CURRENT_TIME, gScreen->root, x, y, 0);
    xcb_flush(gConnection);
    pause();
}

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
    const QImage image(xcb_get_image_data(reply), width, height, qsizetype(width) * 4,
                       QImage::Format_RGB32);
    const bool saved = image.copy().save(path, "PNG");
    std::free(reply);
    return saved;
}

bool press(xcb_key_symbols_t* symbols, xcb_keysym_t keysym, bool shift) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
    if (codes == nullptr || codes[0] == XCB_NO_SYMBOL) {
        std::free(codes);
        return false;
    }
    const xcb_keycode_t code = codes[0];
    std::free(codes);
    xcb_keycode_t* shiftCodes = xcb_key_symbols_get_keycode(symbols, XK_Shift_L);
    const xcb_keycode_t shiftCode = shiftCodes ? shiftCodes[0] : 0;
    std::free(shiftCodes);
    if (shift) {
        fake(XCB_KEY_PRESS, shiftCode);
    }
    fake(XCB_KEY_PRESS, code);
    fake(XCB_KEY_RELEASE, code);
    if (shift) {
        fake(XCB_KEY_RELEASE, shiftCode);
    }
    return true;
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
                             "window TITLE [SECONDS]\n");
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
    const std::string command = argv[1];
    int status = 0;
    if (command == "shot" && argc == 3) {
        status = shot(argv[2]) ? 0 : 1;
    } else if (command == "click" && argc >= 4) {
        const auto button = uint8_t(argc > 4 ? std::atoi(argv[4]) : 1);
        fake(XCB_MOTION_NOTIFY, 0, int16_t(std::atoi(argv[2])), int16_t(std::atoi(argv[3])));
        fake(XCB_BUTTON_PRESS, button);
        fake(XCB_BUTTON_RELEASE, button);
    } else if ((command == "type" || command == "key") && argc == 3) {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(gConnection);
        if (command == "type") {
            for (const char* c = argv[2]; *c != 0 && status == 0; ++c) {
                status = press(symbols, KVKeysymOf(*c), KVNeedsShift(*c)) ? 0 : 1;
            }
        } else {
            const std::string name = argv[2];
            const xcb_keysym_t keysym = name == "Return"   ? XK_Return
                                        : name == "Tab"    ? XK_Tab
                                        : name == "Escape" ? XK_Escape
                                                           : XK_BackSpace;
            status = press(symbols, keysym, false) ? 0 : 1;
        }
        xcb_key_symbols_free(symbols);
    } else if (command == "window" && argc >= 3) {
        status = waitForWindow(argv[2], argc > 3 ? std::atof(argv[3]) : 0) ? 0 : 1;
    } else {
        std::fprintf(stderr, "x11-drive: unknown command %s\n", argv[1]);
        status = 2;
    }
    xcb_disconnect(gConnection);
    return status;
}
