#pragma once

#include "base/error.hpp"
#include "base/image.hpp"
#include "platform/geometry.hpp"

#include <cstdint>
#include <optional>
#include <vector>

// What can be captured: top-level windows and displays, frames in desktop coordinates.
struct KVShareableContent {
    struct Window {
        uint32_t id = 0;
        KVRect frame;
    };
    std::vector<Window> windows;
    std::vector<KVRect> displays;
};

// A still frame of one window, with the frame it had when it was read.
struct KVWindowFrame {
    KVImage image;
    KVRect frame;
};

// Still frames of windows and of the desktop, one pixel per desktop unit.
class KVScreenCapture {
public:
    virtual ~KVScreenCapture() = default;

    virtual std::optional<KVShareableContent> shareableContent(KVError* error = nullptr) = 0;

    // The window's own pixels, whatever covers it. Its frame is read now, not taken from an older
    // list, so a moved or resized window is read where and as it is.
    virtual std::optional<KVWindowFrame> captureWindow(uint32_t windowId,
                                                       KVError* error = nullptr) = 0;

    // The desktop's pixels in `region` (desktop coordinates), our own windows included; what lies
    // outside every display is black.
    virtual std::optional<KVImage> captureRegion(const KVRect& region,
                                                 KVError* error = nullptr) = 0;

    // Lets go of what window capture holds on to (the redirected window), when vision idles.
    virtual void endWindowCapture() = 0;

    // Whether window capture can work at all here.
    virtual bool available() = 0;
};
