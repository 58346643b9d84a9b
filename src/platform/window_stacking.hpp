#pragma once

class QWindow;

// Puts the window `lower`, which bypasses the window manager, directly under the top-level
// window `upper` (under its window-manager frame when it has one). A window manager keeps the
// windows it manages below such windows, so a managed card would otherwise sit under its own
// dimming layer. False when the windows are not on X11 or `upper` is not mapped yet.
bool KVStackBelow(QWindow& lower, QWindow& upper);
