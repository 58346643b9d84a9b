#pragma once

#include "platform/geometry.hpp"
#include "ui/canvas.hpp"
#include "ui/drag_gesture.hpp"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class KVDraftSession;
class KVPanel;

// One tappable region of the panel, in view coordinates.
struct KVHit {
    KVRect rect;
    std::string action;
};

// The panel's content: it lays out and paints the header, the Arena-not-running notice, the
// draft body and the footer from the session and three flags, registers the tappable regions,
// and turns presses into drags and taps for its owner. Plain C++ over a canvas; the panel's
// window paints it. Coordinates: top-left origin, y down.
class KVPanelView {
public:
    static constexpr double kWidth = 320;

    bool arenaRunning = true;
    bool arenaInstalled = false;
    bool inDraft = false;
    bool minimized = false;
    std::weak_ptr<KVPanel> owner;
    std::vector<KVHit> hits;
    double contentHeight = 0;
    std::shared_ptr<const KVDraftSession> session;
    std::string view = "pack";
    KVDragGesture drag;

    void hit(const KVRect& rect, std::string_view action);

    // Both passes: measuring (heights and hits), then painting with the measured height.
    void drawRect(KVCanvas& canvas);
    // The measuring pass alone: contentHeight and hits.
    void measure(KVCanvas& canvas);
    // One pass; paints only when `draw`.
    void layout(KVCanvas& canvas, bool draw);

    // Pointer handling; points in screen coordinates (y up), the release also in the view's.
    void mouseDown(const KVPoint& screenPoint) { drag.press(screenPoint); }
    void mouseDragged(const KVPoint& screenPoint);
    void mouseUp(const KVPoint& viewPoint);

    // The draft body and its blocks. Each takes a top edge, a left edge and a width, registers
    // its hits, paints only when `draw` and returns the y below what it laid out.
    double drawBodyAt(double top, double left, double width, bool draw);
    double drawCallLabel(std::string_view label, std::string_view text, double top, double left,
                         double width, bool draw, std::string_view tone);
    double drawCall(std::string_view label, std::string_view name, std::string_view grade,
                    std::string_view explain, std::string_view next, double top, double left,
                    double width, bool draw);
    // One pill, at most `maxWidth` wide (its text cut with an ellipsis past that); its width.
    double chip(std::string_view text, const KVColor& color, const KVPoint& at, bool draw,
                double maxWidth);
    double drawTableAt(double top, double left, double width, bool draw);
    double drawDeckAt(double top, double left, double width, bool draw);

private:
    double drawPackAt(double top, double left, double width, bool draw, bool graded);
    const KVDraftSession& shown() const;
    double drawStatus(std::string_view text, double top, double left, double width, bool draw);

    KVCanvas* canvas_ = nullptr; // the canvas of the pass under way
};
