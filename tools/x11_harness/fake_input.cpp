#include "x11_harness/fake_input.hpp"

#include <xcb/xtest.h>

#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr const char* kShifted = "~!@#$%^&*()_+{}|:\"<>?";
constexpr const char* kUnshifted = "`1234567890-=[]\\;',./";

} // namespace

KVFakeInput::KVFakeInput(xcb_connection_t* connection, xcb_window_t root, int pauseMs)
    : connection_(connection), root_(root), pauseMs_(pauseMs),
      symbols_(xcb_key_symbols_alloc(connection)) {}

KVFakeInput::~KVFakeInput() {
    xcb_key_symbols_free(symbols_);
}

void KVFakeInput::send(uint8_t type, uint8_t detail, int x, int y) {
    xcb_test_fake_input(connection_, type, detail, XCB_CURRENT_TIME, root_, int16_t(x), int16_t(y),
                        0);
    if (pauseMs_ > 0) {
        xcb_flush(connection_);
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs_));
    }
}

void KVFakeInput::click(int x, int y, uint8_t button) {
    send(XCB_MOTION_NOTIFY, 0, x, y);
    send(XCB_BUTTON_PRESS, button);
    send(XCB_BUTTON_RELEASE, button);
    sync();
}

xcb_keycode_t KVFakeInput::keyOf(xcb_keysym_t keysym) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
    const xcb_keycode_t code = codes != nullptr ? codes[0] : 0;
    std::free(codes);
    return code == XCB_NO_SYMBOL ? 0 : code;
}

bool KVFakeInput::tap(xcb_keycode_t key, const std::vector<xcb_keycode_t>& held) {
    if (key == 0) {
        return false;
    }
    for (const xcb_keycode_t modifier : held) {
        send(XCB_KEY_PRESS, modifier);
    }
    send(XCB_KEY_PRESS, key);
    send(XCB_KEY_RELEASE, key);
    for (auto modifier = held.rbegin(); modifier != held.rend(); ++modifier) {
        send(XCB_KEY_RELEASE, *modifier);
    }
    sync();
    return true;
}

bool KVFakeInput::type(const std::string& text) {
    const xcb_keycode_t shift = keyOf(XK_Shift_L);
    for (const char c : text) {
        // The US map puts upper case and these symbols on the shifted plain keys.
        const char* shifted = c != 0 ? std::strchr(kShifted, c) : nullptr;
        const bool upper = c >= 'A' && c <= 'Z';
        const auto keysym = xcb_keysym_t(shifted != nullptr ? kUnshifted[shifted - kShifted]
                                         : upper            ? c - 'A' + 'a'
                                                            : c);
        const bool needsShift = upper || shifted != nullptr;
        if (!tap(keyOf(keysym),
                 needsShift ? std::vector<xcb_keycode_t>{shift} : std::vector<xcb_keycode_t>{})) {
            return false;
        }
    }
    return true;
}

void KVFakeInput::sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}
