#pragma once

#include "platform/geometry.hpp"
#include "ui/canvas.hpp"
#include "ui/panel_view.hpp"

#include <functional>
#include <memory>
#include <string>

#include <QRegion>

class KVDraftSession;
class KVOverlayShape;
class KVPanelWidget;
class QWidget;

// The panel's outline at a height, in window coordinates: its shape without a compositor.
QRegion KVPanelShape(double height);

// The overlay panel: a floating window over Arena that never takes focus, showing the draft.
// The controller drives it (show, hide, move, re-render, click-through, opacity) and hears of
// its buttons through the callbacks. Positions are screen coordinates (bottom-left origin, y
// up). Main thread only.
class KVPanel : public std::enable_shared_from_this<KVPanel> {
public:
    // `metrics` measures the layout (a canvas that only measures); by default the Qt one.
    static std::shared_ptr<KVPanel> create(std::shared_ptr<KVCanvas> metrics = nullptr);
    ~KVPanel();
    KVPanel(const KVPanel&) = delete;
    KVPanel& operator=(const KVPanel&) = delete;

    bool dragging = false;
    bool haveArenaRect = false;
    bool onTop = true;
    std::function<void()> onHide;
    std::function<void()> onBuild;
    std::function<void()> onLaunchArena;
    std::function<void()> onMoved;
    KVPanelView view;
    KVRect arenaBounds;

    QWidget* window() const;

    void renderSession(std::shared_ptr<const KVDraftSession> session);
    // Sizes the window to the content (at least 60 high), keeping its top edge.
    void fitToContent();
    // The resize rule alone: a change of half a point or less leaves the window as it is.
    void fitToHeight(double contentHeight);
    void setArenaRunning(bool running, bool installed);
    void setInDraft(bool flag);
    void cycleView();
    // Off: the panel is no longer raised over the game.
    void setAlwaysOnTop(bool flag);
    // Raises the panel over the game while always-on-top is on: the tracker calls this while
    // Arena is in front.
    void floatOver();
    void setClickThrough(bool flag);
    void setOpacity(double value);
    void setArenaRect(const KVRect& rect);
    void show();
    void hide();
    bool isVisible() const;
    KVPoint size() const; // width, height
    KVPoint topLeft() const;
    void moveTo(const KVPoint& point);
    void dragBy(const KVPoint& delta);
    void dragEnded();
    void tapped(const std::string& action);

    // The window's frame in screen coordinates (pixels), as last set.
    const KVRect& frame() const { return frame_; }
    double opacity() const;

private:
    KVPanel() = default;
    void rerender();
    void setFrame(const KVRect& frame);
    void contentChanged();
    // Screen pixels per logical pixel on the panel's screen.
    double scale() const;
    // The window's shape without a compositor.
    QRegion shape() const;

    std::shared_ptr<KVCanvas> metrics_;
    std::unique_ptr<KVPanelWidget> window_;
    std::unique_ptr<KVOverlayShape> shape_;
    KVRect frame_;
};
