#pragma once

#include "platform/geometry.hpp"
#include "ui/canvas.hpp"

#include <QImage>
#include <QRegion>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class QWidget;

// The overlay windows on X11: never focused, above the game, optionally transparent to input,
// placed in screen coordinates (bottom-left origin, y up) through the platform's one
// conversion, and shaped to what they draw when no compositing manager blends translucency.

// Makes `window` an overlay window: a tool window that bypasses the window manager, stays on
// top, is never activated and has a translucent background. Input-transparent ones (the stamps)
// let every click through to the game.
void KVMakeOverlayWindow(QWidget& window, bool transparentForInput);

// Lets clicks through (true) or takes them again, on the live window: never hidden or
// re-created.
void KVSetClickThrough(QWidget& window, bool through);

// Raises the window over everything. Windows that bypass the window manager ignore stacking
// hints, so whoever keeps the overlay over the game calls this again while the game is in front.
void KVFloatOverEverything(QWidget& window);
// X11 has no capture exclusion (and Korvane's own window capture never sees other windows), so
// hiding from capture only floats the window, and not even that in screenshot mode.
void KVHideFromCapture(QWidget& window);
void KVShowInCapture(QWidget& window);

// The window's frame in screen coordinates, and placing it there.
KVRect KVWindowScreenFrame(const QWidget& window);
void KVSetWindowScreenFrame(QWidget& window, const KVRect& frame);
// A point of Qt's global (logical, top-left origin) space in screen coordinates.
KVPoint KVScreenPointOf(double globalX, double globalY);

// Whether a compositing manager runs, as the platform says, asked again every two seconds; the
// windows that shape themselves hear of a change.
class KVCompositorWatch {
public:
    static KVCompositorWatch& instance();
    bool compositing() const { return compositing_; }
    int subscribe(std::function<void()> changed);
    void unsubscribe(int token);
    // Asks the platform now (tests, and the first subscriber).
    void check();

private:
    KVCompositorWatch() = default;
    std::unique_ptr<QTimer> timer_;
    std::map<int, std::function<void()>> subscribers_;
    int nextToken_ = 0;
    bool compositing_ = false;
};

// Keeps `window` shaped to `shape()` (window coordinates) while no compositor runs, and
// unshaped while one does; call update() whenever what the window draws changes.
class KVOverlayShape {
public:
    KVOverlayShape(QWidget& window, std::function<QRegion()> shape);
    ~KVOverlayShape();
    KVOverlayShape(const KVOverlayShape&) = delete;
    KVOverlayShape& operator=(const KVOverlayShape&) = delete;
    void update();

private:
    QWidget& window_;
    std::function<QRegion()> shape_;
    int token_;
};

// The pixels of `image` painted at least half opaque: the shape of a window that draws it, so
// that without a compositor no faint edge pixel shows as black over the game.
QRegion KVPaintedRegion(const QImage& image);

// The region of a rounded rectangle, for shaping.
QRegion KVRoundedRegion(const KVRect& rect, double radius);
