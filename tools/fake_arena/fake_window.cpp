#include "fake_window.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

template <typename T> struct Freed {
    T* p;
    ~Freed() { std::free(p); }
};

} // namespace

FakeWindow::~FakeWindow() {
    close();
}

xcb_atom_t FakeWindow::atom(const char* name) {
    Freed<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr)};
    return reply.p != nullptr ? reply.p->atom : xcb_atom_t{XCB_ATOM_NONE};
}

void FakeWindow::sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

bool FakeWindow::open(const Options& options, const KVImage& picture, std::string& error) {
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection_) != 0) {
        error = "cannot connect to the X display";
        return false;
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber; ++i) {
        xcb_screen_next(&it);
    }
    screen_ = it.data;

    xcb_visualid_t visual = screen_->root_visual;
    xcb_colormap_t colormap = screen_->default_colormap;
    depth_ = screen_->root_depth;
    if (options.argb) {
        for (auto d = xcb_screen_allowed_depths_iterator(screen_); d.rem > 0; xcb_depth_next(&d)) {
            if (d.data->depth == 32 && xcb_depth_visuals_length(d.data) > 0) {
                visual = xcb_depth_visuals(d.data)[0].visual_id;
                depth_ = 32;
            }
        }
        if (depth_ != 32) {
            error = "the X server has no 32-bit visual";
            return false;
        }
        colormap = xcb_generate_id(connection_);
        xcb_create_colormap(connection_, XCB_COLORMAP_ALLOC_NONE, colormap, screen_->root, visual);
    }
    width_ = options.width;
    height_ = options.height;
    window_ = xcb_generate_id(connection_);
    const uint32_t mask =
        XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP;
    const uint32_t values[] = {0, 0,
                               XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                   XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_KEY_PRESS |
                                   XCB_EVENT_MASK_FOCUS_CHANGE,
                               colormap};
    xcb_create_window(connection_, depth_, window_, screen_->root, static_cast<int16_t>(options.x),
                      static_cast<int16_t>(options.y), static_cast<uint16_t>(width_),
                      static_cast<uint16_t>(height_), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
                      mask, values);

    const auto text = [this](xcb_atom_t property, xcb_atom_t type, const std::string& value) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, property, type, 8,
                            static_cast<uint32_t>(value.size()), value.data());
    };
    text(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, options.title);
    text(atom("_NET_WM_NAME"), atom("UTF8_STRING"), options.title);
    const std::string wmClass = std::string("mtga.exe") + '\0' + "mtga.exe" + '\0';
    text(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
    // Where the window manager should put it: where we asked.
    const uint32_t hints[18] = {1u | 4u | 8u, 0, 0, 0, 0};
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
    if (options.pid) {
        const uint32_t pid = static_cast<uint32_t>(::getpid());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &pid);
    }
    const xcb_atom_t type =
        atom(options.dialog ? "_NET_WM_WINDOW_TYPE_DIALOG" : "_NET_WM_WINDOW_TYPE_NORMAL");
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 1, &type);

    gc_ = xcb_generate_id(connection_);
    xcb_create_gc(connection_, gc_, window_, 0, nullptr);
    show(picture);
    std::string failure = map();
    if (!failure.empty()) {
        error = failure;
        return false;
    }
    return true;
}

std::string FakeWindow::show(const KVImage& picture) {
    if (picture_ != 0) {
        xcb_free_pixmap(connection_, picture_);
    }
    pictureWidth_ = picture.width;
    pictureHeight_ = picture.height;
    picture_ = xcb_generate_id(connection_);
    xcb_create_pixmap(connection_, depth_, picture_, window_, static_cast<uint16_t>(picture.width),
                      static_cast<uint16_t>(picture.height));
    // Server pixels: B, G, R, A in memory, alpha opaque; sent in strips well under the request
    // size limit.
    const int rows = std::max(1, 65536 / std::max(1, picture.width));
    std::vector<uint8_t> strip;
    for (int y = 0; y < picture.height; y += rows) {
        const int count = std::min(rows, picture.height - y);
        strip.resize(static_cast<size_t>(count) * picture.stride());
        for (int row = 0; row < count; ++row) {
            const uint8_t* in = picture.pixel(0, y + row);
            uint8_t* out = strip.data() + static_cast<size_t>(row) * picture.stride();
            for (int x = 0; x < picture.width; ++x, in += 4, out += 4) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = 255;
            }
        }
        xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, picture_, gc_,
                      static_cast<uint16_t>(picture.width), static_cast<uint16_t>(count), 0,
                      static_cast<int16_t>(y), 0, depth_, static_cast<uint32_t>(strip.size()),
                      strip.data());
    }
    paint();
    sync();
    return "";
}

void FakeWindow::paint() {
    if (picture_ == 0) {
        return;
    }
    xcb_copy_area(connection_, picture_, window_, gc_, 0, 0, 0, 0,
                  static_cast<uint16_t>(std::min(pictureWidth_, width_)),
                  static_cast<uint16_t>(std::min(pictureHeight_, height_)));
    xcb_flush(connection_);
}

std::string FakeWindow::handle(const xcb_generic_event_t* event) {
    char line[96] = {};
    switch (event->response_type & 0x7f) {
    case XCB_EXPOSE:
        paint();
        break;
    case XCB_CONFIGURE_NOTIFY: {
        const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        width_ = configure->width;
        height_ = configure->height;
        break;
    }
    case XCB_BUTTON_PRESS: {
        const auto* press = reinterpret_cast<const xcb_button_press_event_t*>(event);
        std::snprintf(line, sizeof line, "click %d %d %d", press->event_x, press->event_y,
                      press->detail);
        break;
    }
    case XCB_KEY_PRESS: {
        const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
        std::snprintf(line, sizeof line, "key %d %d", press->detail, press->state);
        break;
    }
    default:
        break;
    }
    return line;
}

bool FakeWindow::waitFor(uint8_t type) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    xcb_flush(connection_);
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            const bool match = (event->response_type & 0x7f) == type;
            const std::string line = handle(event);
            std::free(event);
            if (!line.empty()) {
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
            }
            if (match) {
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || xcb_connection_has_error(connection_) != 0) {
            return false;
        }
        pollfd socket{xcb_get_file_descriptor(connection_), POLLIN, 0};
        ::poll(&socket, 1, static_cast<int>(left.count()));
    }
}

bool FakeWindow::hasWindowManager() {
    Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 0, screen_->root, atom("_NET_SUPPORTING_WM_CHECK"),
                         XCB_ATOM_WINDOW, 0, 1),
        nullptr)};
    return reply.p != nullptr && xcb_get_property_value_length(reply.p) == 4;
}

void FakeWindow::sendToRoot(xcb_atom_t type, uint32_t d0, uint32_t d1, uint32_t d2) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window_;
    message.type = type;
    message.data.data32[0] = d0;
    message.data.data32[1] = d1;
    message.data.data32[2] = d2;
    xcb_send_event(connection_, 0, screen_->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
}

std::string FakeWindow::move(int x, int y) {
    const uint32_t values[] = {static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    return waitFor(XCB_CONFIGURE_NOTIFY) ? "" : "the window did not move";
}

std::string FakeWindow::resize(int width, int height) {
    const uint32_t values[] = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    while (width_ != width || height_ != height) {
        if (!waitFor(XCB_CONFIGURE_NOTIFY)) {
            return "the window was not resized";
        }
    }
    paint();
    sync();
    return "";
}

std::string FakeWindow::raise() {
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    sync();
    return "";
}

std::string FakeWindow::activate() {
    if (hasWindowManager()) {
        sendToRoot(atom("_NET_ACTIVE_WINDOW"), 2, XCB_CURRENT_TIME, 0);
    } else {
        xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
    }
    return waitFor(XCB_FOCUS_IN) ? "" : "the window did not get the focus";
}

std::string FakeWindow::fullscreen() {
    if (hasWindowManager()) {
        sendToRoot(atom("_NET_WM_STATE"), 1, atom("_NET_WM_STATE_FULLSCREEN"), 0);
    } else {
        const uint32_t values[] = {0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
        xcb_configure_window(connection_, window_,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             values);
    }
    while (width_ != screen_->width_in_pixels || height_ != screen_->height_in_pixels) {
        if (!waitFor(XCB_CONFIGURE_NOTIFY)) {
            return "the window did not fill the screen";
        }
    }
    paint();
    sync();
    return "";
}

std::string FakeWindow::unmap() {
    xcb_unmap_window(connection_, window_);
    return waitFor(XCB_UNMAP_NOTIFY) ? (sync(), "") : "the window was not unmapped";
}

std::string FakeWindow::map() {
    xcb_map_window(connection_, window_);
    if (!waitFor(XCB_MAP_NOTIFY)) {
        return "the window was not mapped";
    }
    paint();
    sync();
    return "";
}

std::string FakeWindow::grabPointer() {
    Freed<xcb_grab_pointer_reply_t> reply{xcb_grab_pointer_reply(
        connection_,
        xcb_grab_pointer(connection_, 1, window_, XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_ASYNC,
                         XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
        nullptr)};
    return reply.p != nullptr && reply.p->status == XCB_GRAB_STATUS_SUCCESS
               ? ""
               : "the pointer could not be grabbed";
}

std::string FakeWindow::destroy() {
    xcb_destroy_window(connection_, window_);
    sync(); // gone for every client once we answer
    return "";
}

void FakeWindow::close() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_); // the server destroys what we made
        connection_ = nullptr;
    }
}
