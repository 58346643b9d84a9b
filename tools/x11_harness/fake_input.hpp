#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <string>
#include <vector>

// Pointer and keyboard input through XTEST on one connection, as a user's hands give it: for
// tests and for driving the program live on Xvfb.
class KVFakeInput {
public:
    // `pauseMs` is waited after every event, for programs that read their input late.
    KVFakeInput(xcb_connection_t* connection, xcb_window_t root, int pauseMs = 0);
    ~KVFakeInput();
    KVFakeInput(const KVFakeInput&) = delete;
    KVFakeInput& operator=(const KVFakeInput&) = delete;

    // One press, release or pointer motion.
    void send(uint8_t type, uint8_t detail, int x = 0, int y = 0);
    // Moves the pointer to (x, y) and clicks `button` there.
    void click(int x, int y, uint8_t button = 1);
    // The first key code the server's map gives `keysym`, or 0 when it has none.
    xcb_keycode_t keyOf(xcb_keysym_t keysym);
    // Presses and releases `key` with `held` down around it; false for key code 0.
    bool tap(xcb_keycode_t key, const std::vector<xcb_keycode_t>& held = {});
    // Types printable ASCII text on a US key map; false at a character it has no key for.
    bool type(const std::string& text);
    // Returns once the server has handled everything sent so far.
    void sync();

private:
    xcb_connection_t* connection_;
    xcb_window_t root_;
    int pauseMs_;
    xcb_key_symbols_t* symbols_;
};
