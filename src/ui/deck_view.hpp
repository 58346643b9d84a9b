#pragma once

#include "platform/geometry.hpp"
#include "ui/canvas.hpp"
#include "ui/deck_rows.hpp"
#include "ui/drag_gesture.hpp"

#include <memory>
#include <string>
#include <vector>

class KVDeckWindow;

// The deck window's content: the header, the build's title and counts, the service's two
// explanations, the DECKLIST and SIDEBOARD tabs with their rows and mana pips, and the "Copy
// for Arena" footer under the decklist. Plain C++ over a canvas, laid out twice (measuring,
// then painting with the measured height); the window paints it and hands it the pointer.
// Coordinates: top-left origin, y down.
class KVDeckView {
public:
    static constexpr double kWidth = 360;

    // The texts and rows shown, and the build in Arena's import format (the footer is offered
    // only when there is one).
    KVDeckContent content;
    bool copied = false; // the footer says so until the next build
    std::string tab = "deck";
    double contentHeight = 0;
    std::weak_ptr<KVDeckWindow> owner;
    KVDragGesture drag;
    KVRect closeRect;
    KVRect deckTab;
    KVRect sideTab;
    KVRect copyRect; // empty when the footer is not shown

    // Both passes: measuring, then painting with the measured height.
    void drawRect(KVCanvas& canvas);
    // One pass; paints only when `draw`. Sets contentHeight and the tappable rectangles.
    void layout(KVCanvas& canvas, bool draw);

    // Pointer handling; points in screen coordinates (y up), the release in the view's.
    void mouseDown(const KVPoint& screenPoint) { drag.press(screenPoint); }
    void mouseDragged(const KVPoint& screenPoint);
    void mouseUp(const KVPoint& viewPoint);

    static constexpr const char* kCopyTitle = "Copy for Arena";
    static constexpr const char* kCopiedTitle = "Copied \u2014 use Import in Arena's Decks";

private:
    double drawRows(KVCanvas& canvas, double y, bool draw);
    void drawPips(KVCanvas& canvas, const std::string& cost, double y);
};
