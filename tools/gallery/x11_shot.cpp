#include "x11_shot.hpp"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

struct X11Shot::Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    int width = 0;
    int height = 0;
};

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* value) {
    return Reply<T>(value, &std::free);
}

} // namespace

X11Shot::X11Shot(const std::string& display) : c_(new Connection) {
    int screenNumber = 0;
    c_->c = xcb_connect(display.c_str(), &screenNumber);
    if (xcb_connection_has_error(c_->c) != 0) {
        return;
    }
    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(c_->c));
    for (int i = 0; i < screenNumber; ++i) {
        xcb_screen_next(&screen);
    }
    c_->root = screen.data->root;
    c_->width = screen.data->width_in_pixels;
    c_->height = screen.data->height_in_pixels;
}

X11Shot::~X11Shot() {
    xcb_disconnect(c_->c);
    delete c_;
}

bool X11Shot::connected() const {
    return xcb_connection_has_error(c_->c) == 0 && c_->root != 0;
}

QImage X11Shot::root() {
    auto image =
        reply(xcb_get_image_reply(c_->c,
                                  xcb_get_image(c_->c, XCB_IMAGE_FORMAT_Z_PIXMAP, c_->root, 0, 0,
                                                uint16_t(c_->width), uint16_t(c_->height), ~0u),
                                  nullptr));
    if (!image || xcb_get_image_data_length(image.get()) < c_->width * c_->height * 4) {
        return {};
    }
    // A 24-bit root in 32-bit pixels, blue first: Qt's RGB32 on a little-endian machine.
    QImage picture(c_->width, c_->height, QImage::Format_RGB32);
    std::memcpy(picture.bits(), xcb_get_image_data(image.get()),
                size_t(c_->width) * c_->height * 4);
    return picture;
}

QRect X11Shot::frame(unsigned window) {
    auto geometry = reply(xcb_get_geometry_reply(c_->c, xcb_get_geometry(c_->c, window), nullptr));
    auto origin = reply(xcb_translate_coordinates_reply(
        c_->c, xcb_translate_coordinates(c_->c, window, c_->root, 0, 0), nullptr));
    if (!geometry || !origin) {
        return {};
    }
    return {origin->dst_x, origin->dst_y, geometry->width, geometry->height};
}

bool X11Shot::compositing() {
    const char name[] = "_NET_WM_CM_S0";
    auto atom = reply(xcb_intern_atom_reply(
        c_->c, xcb_intern_atom(c_->c, 0, uint16_t(std::strlen(name)), name), nullptr));
    if (!atom) {
        return false;
    }
    auto owner = reply(
        xcb_get_selection_owner_reply(c_->c, xcb_get_selection_owner(c_->c, atom->atom), nullptr));
    return owner && owner->owner != XCB_NONE;
}

QImage X11Shot::settled(const QImage& before, double seconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(long(seconds * 1000));
    QImage last = root();
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        QImage next = root();
        if (next == last && (before.isNull() || next != before)) {
            return next;
        }
        last = std::move(next);
    }
    return last;
}
