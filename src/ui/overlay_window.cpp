#include "ui/overlay_window.hpp"

#include "platform/platform.hpp"
#include "platform/screens.hpp"
#include "ui/drawing.hpp"

#include <QBitmap>
#include <QGuiApplication>
#include <QPainterPath>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <cmath>

namespace {

constexpr int kCompositorPollMs = 2000;

// Qt's placement of the primary monitor, whose height turns screen into desktop coordinates.
struct QtPlacement {
    double primaryHeight = 0;
    KVQtScreen screen;
};

QtPlacement placementOf(const QScreen* screen) {
    const QScreen* primary = QGuiApplication::primaryScreen();
    QtPlacement placement;
    if (primary == nullptr) {
        return placement;
    }
    if (screen == nullptr) {
        screen = primary;
    }
    placement.primaryHeight = primary->geometry().height() * primary->devicePixelRatio();
    placement.screen = {double(screen->geometry().x()), double(screen->geometry().y()),
                        screen->devicePixelRatio()};
    return placement;
}

} // namespace

void KVMakeOverlayWindow(QWidget& window, bool transparentForInput) {
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint;
    if (transparentForInput) {
        flags |= Qt::WindowTransparentForInput;
    }
    window.setWindowFlags(flags);
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.setAttribute(Qt::WA_TranslucentBackground);
    window.setFocusPolicy(Qt::NoFocus);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        app->setQuitOnLastWindowClosed(false);
    }
}

void KVSetClickThrough(QWidget& window, bool through) {
    window.setAttribute(Qt::WA_TransparentForMouseEvents, through);
    // The flag on the live QWindow sets the X input shape: the window stays mapped and keeps its
    // place in the stacking order.
    if (QWindow* handle = window.windowHandle()) {
        handle->setFlag(Qt::WindowTransparentForInput, through);
    } else {
        window.setWindowFlag(Qt::WindowTransparentForInput, through);
    }
}

void KVFloatOverEverything(QWidget& window) {
    if (window.isVisible()) {
        window.raise();
    }
}

void KVHideFromCapture(QWidget& window) {
    if (!KVScreenshotMode()) {
        KVFloatOverEverything(window);
    }
}

void KVShowInCapture(QWidget& /*window*/) {}

KVRect KVWindowScreenFrame(const QWidget& window) {
    const QtPlacement placement = placementOf(window.screen());
    const QRect geometry = window.geometry();
    return KVQtRectToScreen({double(geometry.x()), double(geometry.y()), double(geometry.width()),
                             double(geometry.height())},
                            placement.primaryHeight, placement.screen);
}

void KVSetWindowScreenFrame(QWidget& window, const KVRect& frame) {
    const QtPlacement placement = placementOf(window.screen());
    const KVRect qt = KVScreenRectToQt(frame, placement.primaryHeight, placement.screen);
    window.setGeometry(QRect(int(std::lround(qt.x)), int(std::lround(qt.y)),
                             std::max(1, int(std::lround(qt.width))),
                             std::max(1, int(std::lround(qt.height)))));
}

KVPoint KVScreenPointOf(double globalX, double globalY) {
    const QtPlacement placement = placementOf(nullptr);
    const KVRect point =
        KVQtRectToScreen({globalX, globalY, 0, 0}, placement.primaryHeight, placement.screen);
    return {point.x, point.y};
}

KVCompositorWatch& KVCompositorWatch::instance() {
    static KVCompositorWatch watch;
    return watch;
}

int KVCompositorWatch::subscribe(std::function<void()> changed) {
    if (!timer_) {
        timer_ = std::make_unique<QTimer>();
        QObject::connect(timer_.get(), &QTimer::timeout, [this] { check(); });
        timer_->start(kCompositorPollMs);
        const auto platform = KVPlatform::current();
        compositing_ = platform && platform->screens && platform->screens->compositing();
    }
    subscribers_.emplace(++nextToken_, std::move(changed));
    return nextToken_;
}

void KVCompositorWatch::unsubscribe(int token) {
    subscribers_.erase(token);
}

void KVCompositorWatch::check() {
    const auto platform = KVPlatform::current();
    const bool now = platform && platform->screens && platform->screens->compositing();
    if (now == compositing_) {
        return;
    }
    compositing_ = now;
    // A subscriber may unsubscribe while it hears of the change.
    const auto subscribers = subscribers_;
    for (const auto& [token, changed] : subscribers) {
        changed();
    }
}

KVOverlayShape::KVOverlayShape(QWidget& window, std::function<QRegion()> shape)
    : window_(window), shape_(std::move(shape)),
      token_(KVCompositorWatch::instance().subscribe([this] { update(); })) {}

KVOverlayShape::~KVOverlayShape() {
    KVCompositorWatch::instance().unsubscribe(token_);
}

void KVOverlayShape::update() {
    if (KVCompositorWatch::instance().compositing()) {
        window_.clearMask();
        return;
    }
    QRegion region = shape_();
    // An empty mask would show the whole window: one with nothing to show is shaped to a pixel
    // outside itself.
    window_.setMask(region.isEmpty() ? QRegion(-8, -8, 1, 1) : region);
}

QRegion KVPaintedRegion(const QImage& image) {
    return QRegion(QBitmap::fromImage(image.createAlphaMask(Qt::ThresholdAlphaDither)));
}

QRegion KVRoundedRegion(const KVRect& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(QRectF(rect.x, rect.y, rect.width, rect.height), radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}
