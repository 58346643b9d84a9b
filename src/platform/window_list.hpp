#pragma once

#include "base/error.hpp"
#include "platform/geometry.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One top-level window as the window list sees it.
struct KVWindowInfo {
    uint32_t id = 0;
    int32_t pid = 0;   // owning process; 0 when unknown
    std::string owner; // the owning process's name, a trailing ".exe" dropped
    int layer = 0;     // 0 for an ordinary application window, anything else otherwise
    KVRect bounds;     // the client area in desktop coordinates
    bool onScreen = false;
};

// Every top-level window, frontmost first, and who has the keyboard.
struct KVWindowSnapshot {
    std::vector<KVWindowInfo> windows;
    int32_t frontmostPid = 0; // 0 when no window of a known process is in front
};

// The desktop's window list.
class KVWindowList {
public:
    virtual ~KVWindowList() = default;

    // The windows now; nothing (with the reason) when the list cannot be had.
    virtual std::optional<KVWindowSnapshot> snapshot(KVError* error = nullptr) = 0;
};
