#pragma once

#include "base/error.hpp"

#include <cstdint>
#include <optional>
#include <vector>

class QWindow;

// Puts the window `lower`, which bypasses the window manager, directly under the top-level
// window `upper` (under its window-manager frame when it has one). A window manager keeps the
// windows it manages below such windows, so a managed card would otherwise sit under its own
// dimming layer. False when the windows are not on X11 or `upper` is not mapped yet.
bool KVStackBelow(QWindow& lower, QWindow& upper);

// The desktop's stacking order, which tells whether something covers the overlay. Windows that
// bypass the window manager are missing from its own list, so this is the server's order.
class KVWindowStacking {
public:
    virtual ~KVWindowStacking() = default;

    // The root's mapped children, bottom first; nothing (with the reason) when the server
    // cannot be asked.
    virtual std::optional<std::vector<uint32_t>> order(KVError* error = nullptr) = 0;
    // The root's child that holds `window`: its window-manager frame, else the window itself;
    // 0 when the window is gone.
    virtual uint32_t topLevelOf(uint32_t window) = 0;
    // Puts the top-level `window` above every other.
    virtual void raise(uint32_t window) = 0;
};
