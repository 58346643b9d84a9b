#pragma once

#include <QImage>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class KVFakeInput;
struct xcb_connection_t;

// A user's hands and eyes on an X server: the root window's pixels, top-level windows found by
// title, and pointer and keyboard input through XTEST. For the end-to-end tests, x11-drive and
// the gallery's live pictures.
class KVX11Screen {
public:
    // `display` as in $DISPLAY; empty for $DISPLAY itself.
    explicit KVX11Screen(const std::string& display);
    ~KVX11Screen();
    KVX11Screen(const KVX11Screen&) = delete;
    KVX11Screen& operator=(const KVX11Screen&) = delete;

    bool connected() const;

    // What the screen shows now: the root window's pixels, as the user sees them.
    QImage shot();

    struct Window {
        uint32_t id = 0;
        QRect frame; // on the root: the client area, not the window manager's frame
    };
    // The last mapped window, in stacking order, that `wanted` accepts by title and frame.
    std::optional<Window>
    windowWhere(const std::function<bool(const std::string&, const QRect&)>& wanted);
    // A window's client area on the root; empty when the window is gone.
    QRect frameOf(uint32_t window);
    // Whether a compositing manager holds its selection.
    bool compositing();
    // The root's pixels once they stop changing (two equal pictures 250 ms apart, for at most
    // `seconds`), after they first differ from `before` when that is given.
    QImage settled(const QImage& before, double seconds = 10);

    // The frame of the mapped window titled `title`, or nothing.
    std::optional<QRect> findWindow(const std::string& title) {
        const auto window =
            windowWhere([&title](const std::string& name, const QRect&) { return name == title; });
        return window ? std::optional<QRect>(window->frame) : std::nullopt;
    }

    // Clicks and printable ASCII text on a US layout.
    KVFakeInput& input() { return *input_; }
    // One key with modifiers held: "Return", "Tab", "alt+s", "ctrl+alt+h".
    bool key(const std::string& combo);

private:
    xcb_connection_t* connection_ = nullptr;
    std::unique_ptr<KVFakeInput> input_;
    uint32_t root_ = 0;
    int width_ = 0;
    int height_ = 0;
};

// Every point of `image` inside `area` whose colour is within `tolerance` of `rgb` on each
// channel.
int KVCountColour(const QImage& image, const QRect& area, QRgb rgb, int tolerance);

// The bounding box of the pixels of colour `rgb` (within `tolerance`), or an empty rectangle.
QRect KVColourBounds(const QImage& image, QRgb rgb, int tolerance);
