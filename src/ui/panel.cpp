#include "ui/panel.hpp"

#include "ui/overlay_window.hpp"
#include "ui/qt_canvas.hpp"
#include "ui/view_widget.hpp"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinimumHeight = 60;
constexpr double kResizeTolerance = 0.5;
constexpr double kMinimumOpacity = 0.3;

} // namespace

// The panel's window.
class KVPanelWidget : public KVViewWidget<KVPanelView> {
public:
    using KVViewWidget::KVViewWidget;
};

QRegion KVPanelShape(double height) {
    return KVRoundedRegion({0, 0, KVPanelView::kWidth, height}, 14);
}

std::shared_ptr<KVPanel> KVPanel::create(std::shared_ptr<KVCanvas> metrics) {
    std::shared_ptr<KVPanel> panel(new KVPanel());
    panel->metrics_ = metrics ? std::move(metrics) : std::make_shared<KVQtCanvas>();
    panel->window_ = std::make_unique<KVPanelWidget>(panel->view);
    KVMakeOverlayWindow(*panel->window_, false);
    panel->view.owner = panel;
    panel->shape_ = std::make_unique<KVOverlayShape>(*panel->window_,
                                                     [raw = panel.get()] { return raw->shape(); });
    const double scale = panel->scale();
    panel->setFrame({100, 100, KVPanelView::kWidth * scale, 200 * scale});
    panel->onTop = true;
    KVHideFromCapture(*panel->window_);
    return panel;
}

KVPanel::~KVPanel() {
    shape_.reset();
    window_.reset();
}

QRegion KVPanel::shape() const {
    // The background is painted at the content's height, which a minimised panel's window (at
    // least 60 high) exceeds. Everything else is painted inside it, so its outline is the shape.
    const double window = frame_.height / scale();
    const double content = view.contentHeight;
    return KVPanelShape(content > 0 ? std::min(content, window) : window);
}

double KVPanel::scale() const {
    const double ratio = window_->devicePixelRatioF();
    return ratio > 0 ? ratio : 1;
}

QWidget* KVPanel::window() const {
    return window_.get();
}

void KVPanel::setFrame(const KVRect& frame) {
    const bool resized = frame.width != frame_.width || frame.height != frame_.height;
    frame_ = frame;
    KVSetWindowScreenFrame(*window_, frame);
    if (resized) {
        shape_->update();
    }
}

void KVPanel::contentChanged() {
    shape_->update();
    window_->update();
}

void KVPanel::renderSession(std::shared_ptr<const KVDraftSession> session) {
    view.session = std::move(session);
    fitToContent();
    contentChanged();
}

void KVPanel::fitToContent() {
    view.measure(*metrics_);
    fitToHeight(view.contentHeight);
}

void KVPanel::fitToHeight(double contentHeight) {
    const double height = std::max(contentHeight, kMinimumHeight);
    // The view measures in Qt's logical pixels; the frame is in screen pixels.
    const double scale = this->scale();
    if (std::abs(height * scale - frame_.height) <= kResizeTolerance * scale) {
        return;
    }
    // Screen coordinates grow upward: keeping the top edge moves the origin by the change.
    const double top = frame_.y + frame_.height;
    setFrame({frame_.x, top - height * scale, KVPanelView::kWidth * scale, height * scale});
}

void KVPanel::setArenaRunning(bool running, bool installed) {
    if (running == view.arenaRunning && installed == view.arenaInstalled) {
        return;
    }
    view.arenaRunning = running;
    view.arenaInstalled = installed;
    // The notice and its button change the height: fit as a render does, so nothing is cut off.
    fitToContent();
    contentChanged();
}

void KVPanel::setInDraft(bool flag) {
    view.inDraft = flag;
}

void KVPanel::cycleView() {
    static const char* const order[] = {"pack", "table", "deck"};
    size_t at = 0;
    while (at < 3 && view.view != order[at]) {
        ++at;
    }
    view.view = order[(at + 1) % 3];
    rerender();
}

void KVPanel::rerender() {
    if (view.session) {
        renderSession(view.session);
    }
}

void KVPanel::setAlwaysOnTop(bool flag) {
    if (flag == onTop) {
        return;
    }
    onTop = flag;
    if (onTop) {
        KVFloatOverEverything(*window_);
    }
}

void KVPanel::floatOver() {
    if (onTop) {
        KVFloatOverEverything(*window_);
    }
}

void KVPanel::setClickThrough(bool flag) {
    KVSetClickThrough(*window_, flag);
}

void KVPanel::setOpacity(double value) {
    window_->setWindowOpacity(std::clamp(value, kMinimumOpacity, 1.0));
}

double KVPanel::opacity() const {
    return window_->windowOpacity();
}

void KVPanel::setArenaRect(const KVRect& rect) {
    arenaBounds = rect;
    haveArenaRect = true;
}

void KVPanel::show() {
    if (!window_->isVisible()) {
        window_->show();
        KVHideFromCapture(*window_);
    }
}

void KVPanel::hide() {
    window_->hide();
}

bool KVPanel::isVisible() const {
    return window_->isVisible();
}

KVPoint KVPanel::size() const {
    return {frame_.width, frame_.height};
}

KVPoint KVPanel::topLeft() const {
    return {frame_.x, frame_.y + frame_.height};
}

void KVPanel::moveTo(const KVPoint& point) {
    setFrame({point.x, point.y - frame_.height, frame_.width, frame_.height});
}

void KVPanel::dragBy(const KVPoint& delta) {
    dragging = true;
    double x = frame_.x + delta.x;
    double y = frame_.y + delta.y;
    if (haveArenaRect) {
        const auto clamp = [](double value, double origin, double far) {
            return std::max(origin, std::min(value, std::max(origin, far)));
        };
        x = clamp(x, arenaBounds.x, arenaBounds.x + arenaBounds.width - frame_.width);
        y = clamp(y, arenaBounds.y, arenaBounds.y + arenaBounds.height - frame_.height);
    }
    setFrame({x, y, frame_.width, frame_.height});
}

void KVPanel::dragEnded() {
    dragging = false;
    if (onMoved) {
        onMoved();
    }
}

void KVPanel::tapped(const std::string& action) {
    if (action == "close") {
        if (onHide) {
            onHide();
        }
    } else if (action == "min") {
        view.minimized = !view.minimized;
        rerender();
    } else if (action == "build") {
        if (onBuild) {
            onBuild();
        }
    } else if (action == "launch") {
        if (onLaunchArena) {
            onLaunchArena();
        }
    } else if (action.rfind("tab:", 0) == 0) {
        view.view = action.substr(4);
        rerender();
    }
}
