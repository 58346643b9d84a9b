#include "ui/stamps.hpp"

#include "base/dispatch/run_loop.hpp"
#include "base/dispatch/timer.hpp"
#include "ui/overlay_window.hpp"
#include "ui/qt_canvas.hpp"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPulseSeconds = 0.4;
constexpr double kPulseLeeway = 0.05;

KVRect grown(const KVRect& rect, double by) {
    return {rect.x - by, rect.y - by, rect.width + 2 * by, rect.height + 2 * by};
}

// The antialiased fringe a shape paints beyond its geometry.
constexpr double kFringe = 1.5;

} // namespace

QRegion KVStampsRegion(const KVStampsView& view, bool badgesOnly) {
    QRegion region;
    for (const KVStampsView::Stamp& stamp : view.stamps()) {
        // The badge's outline is 2 wide, half of it outside the badge.
        region += KVRoundedRegion(grown(stamp.badge, 1 + kFringe), 4 + 1 + kFringe);
        if (badgesOnly || stamp.ring == KVStampsView::Stamp::none) {
            continue;
        }
        const KVRect card = grown(stamp.card, -2);
        const double half = (stamp.ring == KVStampsView::Stamp::take ? 1.5 : 1) + kFringe;
        QRegion outline = KVRoundedRegion(grown(card, half), 6 + half);
        outline -= KVRoundedRegion(grown(card, -half), std::max(0.0, 6 - half));
        region += outline;
        const KVRect tag = KVStampsView::tagRect(stamp.card);
        region += KVRoundedRegion(grown(tag, kFringe), tag.height * 0.5 + kFringe);
    }
    return region;
}

// The stamps' window: paints the view, only its badges when that is all a pulse changed.
class KVStampsWidget : public QWidget {
public:
    KVStampsWidget(KVStampsView& view, const QRegion& badges) : view_(view), badges_(badges) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& rect : event->region()) {
            painter.fillRect(rect, Qt::transparent);
        }
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        canvas_.setPainter(&painter);
        if (event->region().subtracted(badges_).isEmpty()) {
            view_.drawBadges(canvas_);
        } else {
            view_.drawRect(canvas_);
        }
        canvas_.setPainter(nullptr);
    }

private:
    KVStampsView& view_;
    const QRegion& badges_;
    KVQtCanvas canvas_;
};

KVStamps::KVStamps() : KVStamps(KVMain()) {}

KVStamps::KVStamps(KVQueue& mainQueue)
    : queue_(mainQueue), window_(std::make_unique<KVStampsWidget>(view, badges_)) {
    KVMakeOverlayWindow(*window_, true);
    window_->setAttribute(Qt::WA_TransparentForMouseEvents);
    shape_ = std::make_unique<KVOverlayShape>(*window_, [this] { return paintedRegion(); });
    KVSetWindowScreenFrame(*window_, frame_);
    view.width = window_->width();
    view.height = window_->height();
    KVHideFromCapture(*window_);
}

KVStamps::~KVStamps() {
    stopPulse();
    shape_.reset();
    window_.reset();
}

QWidget* KVStamps::window() const {
    return window_.get();
}

QRegion KVStamps::paintedRegion() {
    // Painted once more, off screen, only when what the stamps show changes.
    const QRect bounds = KVStampsRegion(view, false).boundingRect();
    if (bounds.isEmpty()) {
        return {};
    }
    QImage image(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(-bounds.topLeft());
    KVQtCanvas canvas(&painter);
    view.drawRect(canvas);
    painter.end();
    return KVPaintedRegion(image).translated(bounds.topLeft());
}

void KVStamps::redraw() {
    ++redraws_;
    badges_ = KVStampsRegion(view, true);
    shape_->update();
    window_->update();
}

void KVStamps::setFrame(const KVRect& frame) {
    if (frame == frame_) {
        return;
    }
    frame_ = frame;
    KVSetWindowScreenFrame(*window_, frame);
    view.width = window_->width();
    view.height = window_->height();
    redraw();
}

void KVStamps::setPack(std::vector<KVAdvice> advice, std::vector<KVNormRect> slots, bool pending,
                       int64_t take, std::optional<std::string> nextName) {
    view.advice = std::move(advice);
    view.slots = std::move(slots);
    if (pending) {
        view.bestNames.clear();
        view.nextName.reset();
        view.pending = true;
        if (!view.advice.empty()) {
            // A pending pack shown again keeps the pulse going: the dots do not restart.
            if (!pulse_) {
                pulse_ = KVTimer::start(queue_, kPulseSeconds, kPulseSeconds, kPulseLeeway,
                                        [this] { step(); });
            }
            redraw();
            return;
        }
    } else {
        const size_t k = size_t(take >= 2 ? take : 1);
        view.bestNames.clear();
        for (size_t i = 0; i < std::min(k, view.advice.size()); ++i) {
            const KVAdvice& row = view.advice[i];
            view.bestNames.insert(row.card ? row.card->name : std::string());
        }
        const std::string next = nextName.value_or("");
        view.nextName = view.bestNames.count(next) > 0 ? std::nullopt : std::move(nextName);
        view.pending = false;
    }
    stopPulse();
    view.tick = 0;
    redraw();
}

void KVStamps::clearPack() {
    view.advice.clear();
    view.pending = false;
    stopPulse();
    redraw();
}

void KVStamps::stopPulse() {
    if (pulse_) {
        pulse_->cancel();
        pulse_.reset();
    }
}

void KVStamps::step() {
    ++view.tick;
    ++badgeRedraws_;
    window_->update(badges_);
}

void KVStamps::show() {
    if (!window_->isVisible()) {
        window_->show();
        shape_->update();
        KVHideFromCapture(*window_);
    }
}

void KVStamps::hide() {
    window_->hide();
}
