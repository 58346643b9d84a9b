#pragma once

#include "base/image.hpp"

#include <string>
#include <xcb/xcb.h>

// Arena's stand-in on the X server: one top-level window showing a picture, with the properties
// a Wine game sets. Plain xcb, so that nothing of the program under test is in it.
class FakeWindow {
public:
    struct Options {
        int x = 0, y = 0, width = 1280, height = 720;
        std::string title = "MTGA";
        bool argb = false;   // a 32-bit window with an alpha channel
        bool dialog = false; // typed as a dialog, not a normal window
        bool pid = true;     // sets _NET_WM_PID
    };

    // Connects to $DISPLAY and maps the window; false with the reason in `error`.
    bool open(const Options& options, const KVImage& picture, std::string& error);
    ~FakeWindow();

    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t id() const { return window_; }

    // Handles one event; returns a line to print ("click …", "key …") or "".
    std::string handle(const xcb_generic_event_t* event);

    // The stdin commands; each returns "" when done, else what went wrong.
    std::string move(int x, int y);
    std::string resize(int width, int height);
    std::string raise();
    std::string activate();
    std::string fullscreen();
    std::string unmap();
    std::string map();
    std::string show(const KVImage& picture);
    std::string grabPointer();
    std::string destroy();
    void close();

    // Waits for the server to handle every request sent so far.
    void sync();

private:
    xcb_atom_t atom(const char* name);
    bool hasWindowManager();
    void sendToRoot(xcb_atom_t type, uint32_t d0, uint32_t d1, uint32_t d2);
    // Waits up to 20 s for an event of `type` on our window, handling the others meanwhile.
    bool waitFor(uint8_t type);
    void paint();

    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_pixmap_t picture_ = 0;
    xcb_gcontext_t gc_ = 0;
    uint8_t depth_ = 24;
    int width_ = 0, height_ = 0;
    int pictureWidth_ = 0, pictureHeight_ = 0;
};
