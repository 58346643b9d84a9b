#include "vision/arena_window.hpp"

#include <charconv>
#include <cstdio>

namespace {

std::string number(double value) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return {buffer, end};
}

} // namespace

std::string KVRectDescription(const KVRect& rect) {
    return "{{" + number(rect.x) + ", " + number(rect.y) + "}, {" + number(rect.width) + ", " +
           number(rect.height) + "}}";
}

std::string KVArenaWindow::description() const {
    char head[64];
    std::snprintf(head, sizeof head, "ArenaWindow(id=%u pid=%d owner=", windowId, pid);
    return head + owner + " bounds=" + KVRectDescription(bounds) +
           " on_screen=" + (onScreen ? "1" : "0") + " focused=" + (focused ? "1" : "0") + ")";
}
