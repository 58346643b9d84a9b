#pragma once

#include "draft/card.hpp"
#include "platform/geometry.hpp"
#include "ui/stamps_view.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QRegion>

class KVOverlayShape;
class KVQueue;
class KVStampsWidget;
class KVTimer;
class QWidget;

// Where the stamps paint, in window coordinates: the badges, and unless `badgesOnly` the ring
// outlines and tags. The window's shape without a compositor, and what a pulse step repaints.
QRegion KVStampsRegion(const KVStampsView& view, bool badgesOnly);

// The grade stamps' window: laid exactly over Arena's captured frame, transparent to every
// click, never focused. While grades are pending a pulse on the main queue moves the dots every
// 0.4 s, repainting only the badges. Main thread only.
class KVStamps {
public:
    // `mainQueue` runs the pulse; the main thread's queue unless a test gives its own.
    KVStamps();
    explicit KVStamps(KVQueue& mainQueue);
    ~KVStamps();
    KVStamps(const KVStamps&) = delete;
    KVStamps& operator=(const KVStamps&) = delete;

    KVStampsView view;

    // Places the window over `frame` (screen coordinates); nothing when it is there already.
    void setFrame(const KVRect& frame);
    void setPack(std::vector<KVAdvice> advice, std::vector<KVNormRect> slots, bool pending,
                 int64_t take, std::optional<std::string> nextName);
    void clearPack();
    void show();
    void hide();

    QWidget* window() const;
    const KVRect& frame() const { return frame_; }
    bool pulsing() const { return pulse_ != nullptr; }
    // Repaints asked for so far, whole and badges only.
    int redraws() const { return redraws_; }
    int badgeRedraws() const { return badgeRedraws_; }

    // One pulse step: the dots move on and the badges are repainted.
    void step();

private:
    void stopPulse();
    QRegion paintedRegion();
    void redraw();

    KVQueue& queue_;
    QRegion badges_; // where the badges are: what a pulse step repaints
    std::unique_ptr<KVStampsWidget> window_;
    std::unique_ptr<KVOverlayShape> shape_;
    std::shared_ptr<KVTimer> pulse_;
    KVRect frame_{0, 0, 400, 300};
    int redraws_ = 0;
    int badgeRedraws_ = 0;
};
