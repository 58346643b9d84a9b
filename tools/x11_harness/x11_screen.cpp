#include "x11_harness/x11_screen.hpp"
#include "x11_harness/fake_input.hpp"

#include <xcb/xcb.h>

#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> owned(T* reply) {
    return Reply<T>(reply, &std::free);
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto reply = owned(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::string textProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    auto reply = owned(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr));
    if (!reply) {
        return {};
    }
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<size_t>(xcb_get_property_value_length(reply.get())));
}

struct KeyName {
    const char* name;
    uint32_t keysym;
};
constexpr KeyName kKeys[] = {
    {"return", XK_Return},  {"tab", XK_Tab},   {"escape", XK_Escape}, {"backspace", XK_BackSpace},
    {"ctrl", XK_Control_L}, {"alt", XK_Alt_L}, {"shift", XK_Shift_L}, {"space", XK_space}};

uint32_t keysymNamed(std::string name) {
    for (char& c : name) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const KeyName& key : kKeys) {
        if (name == key.name) {
            return key.keysym;
        }
    }
    return name.size() == 1 ? static_cast<uint32_t>(name[0]) : 0;
}

bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace

KVX11Screen::KVX11Screen(const std::string& display) {
    int screenNumber = 0;
    connection_ = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection_) != 0) {
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber; ++i) {
        xcb_screen_next(&it);
    }
    root_ = it.data->root;
    width_ = it.data->width_in_pixels;
    height_ = it.data->height_in_pixels;
    // Toolkits read press and release apart; a real hand is never faster than this.
    input_ = std::make_unique<KVFakeInput>(connection_, root_, 15);
}

KVX11Screen::~KVX11Screen() {
    input_.reset();
    xcb_disconnect(connection_);
}

bool KVX11Screen::connected() const {
    return xcb_connection_has_error(connection_) == 0 && root_ != 0;
}

QImage KVX11Screen::shot() {
    auto reply = owned(xcb_get_image_reply(connection_,
                                           xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                                         root_, 0, 0, static_cast<uint16_t>(width_),
                                                         static_cast<uint16_t>(height_), ~0u),
                                           nullptr));
    if (!reply || xcb_get_image_data_length(reply.get()) < width_ * height_ * 4) {
        return {};
    }
    return QImage(xcb_get_image_data(reply.get()), width_, height_, qsizetype(width_) * 4,
                  QImage::Format_RGB32)
        .copy();
}

QRect KVX11Screen::frameOf(uint32_t window) {
    auto geometry =
        owned(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
    auto origin = owned(xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), nullptr));
    if (!geometry || !origin) {
        return {};
    }
    return {origin->dst_x, origin->dst_y, geometry->width, geometry->height};
}

bool KVX11Screen::compositing() {
    const xcb_atom_t selection = atom(connection_, "_NET_WM_CM_S0");
    if (selection == XCB_ATOM_NONE) {
        return false;
    }
    auto owner = owned(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, selection), nullptr));
    return owner && owner->owner != XCB_NONE;
}

QImage KVX11Screen::settled(const QImage& before, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    QImage last = shot();
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        QImage next = shot();
        if (next == last && (before.isNull() || next != before)) {
            return next;
        }
        last = std::move(next);
    }
    return last;
}

std::optional<KVX11Screen::Window>
KVX11Screen::windowWhere(const std::function<bool(const std::string&, const QRect&)>& wanted) {
    const xcb_atom_t netName = atom(connection_, "_NET_WM_NAME");
    std::optional<Window> found;
    std::vector<xcb_window_t> pending{root_};
    while (!pending.empty()) {
        const xcb_window_t window = pending.back();
        pending.pop_back();
        auto tree =
            owned(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
        if (!tree) {
            continue;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const xcb_window_t child = children[i];
            pending.push_back(child);
            auto attributes = owned(xcb_get_window_attributes_reply(
                connection_, xcb_get_window_attributes(connection_, child), nullptr));
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
                continue;
            }
            const QRect frame = frameOf(child);
            if (frame.isEmpty()) {
                continue;
            }
            std::string title = textProperty(connection_, child, netName);
            if (title.empty()) {
                title = textProperty(connection_, child, XCB_ATOM_WM_NAME);
            }
            if (wanted(title, frame)) {
                found = Window{child, frame};
            }
        }
    }
    return found;
}

bool KVX11Screen::key(const std::string& combo) {
    std::vector<xcb_keycode_t> codes;
    for (size_t start = 0; start <= combo.size();) {
        const size_t end = std::min(combo.find('+', start), combo.size());
        const xcb_keycode_t code = input_->keyOf(keysymNamed(combo.substr(start, end - start)));
        if (code == 0) {
            return false;
        }
        codes.push_back(code);
        start = end + 1;
    }
    return input_->tap(codes.back(), {codes.begin(), codes.end() - 1});
}

int KVCountColour(const QImage& image, const QRect& area, QRgb rgb, int tolerance) {
    const QRect inside = area.intersected(image.rect());
    int count = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            count += near(image.pixel(x, y), rgb, tolerance) ? 1 : 0;
        }
    }
    return count;
}

QRect KVColourBounds(const QImage& image, QRgb rgb, int tolerance) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (near(line[x], rgb, tolerance)) {
                bounds = bounds.united(QRect(x, y, 1, 1));
            }
        }
    }
    return bounds;
}
