#pragma once

#include "platform/geometry.hpp"

#include <vector>

// One monitor of the desktop.
struct KVMonitor {
    KVRect frame; // desktop coordinates, pixels
    bool primary = false;
};

// The monitors and what the desktop can draw.
class KVScreens {
public:
    virtual ~KVScreens() = default;

    // Every monitor, the primary first; empty without a display.
    virtual std::vector<KVMonitor> monitors() = 0;

    // Whether a compositing manager runs, so that translucent windows blend with what is below.
    virtual bool compositing() = 0;

    // The primary monitor's height, which turns desktop into screen coordinates; 0 without one.
    double primaryHeight();
};

// How Qt places windows on one monitor: its top-left corner (in desktop pixels, which Qt keeps)
// and its device-pixel ratio (by which Qt divides every size and offset on it).
struct KVQtScreen {
    double x = 0;
    double y = 0;
    double devicePixelRatio = 1;
};

// The one conversion between screen coordinates (pixels, bottom-left origin, y up, `H` the
// primary monitor's height) and Qt's logical geometry on `screen` (top-left origin, y down).
KVRect KVScreenRectToQt(const KVRect& screenRect, double primaryHeight, const KVQtScreen& screen);
KVRect KVQtRectToScreen(const KVRect& qtRect, double primaryHeight, const KVQtScreen& screen);
