#pragma once

#include "platform/geometry.hpp"

#include <cstdint>
#include <string>

// One Arena window as the window list showed it at one moment.
struct KVArenaWindow {
    uint32_t windowId = 0;
    int32_t pid = 0;
    std::string owner;
    KVRect bounds; // desktop coordinates
    bool onScreen = false;
    bool focused = false; // on screen and owned by the frontmost process

    // "ArenaWindow(id=… pid=… owner=… bounds={{x, y}, {w, h}} on_screen=0|1 focused=0|1)", the
    // record's form in the log and the reports.
    std::string description() const;
};

// "{{x, y}, {w, h}}", each number in its shortest exact form.
std::string KVRectDescription(const KVRect& rect);
