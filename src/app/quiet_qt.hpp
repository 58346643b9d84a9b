#pragma once

#include <memory>

class QApplication;

// The Qt application of a run mode that makes windows without showing them (the smoke test, a
// replay). On Qt's offscreen platform when `offscreen` is set or no X display is named, else on
// the X server, as the GUI runs. One per process: a second call while the first is alive
// returns nothing.
std::unique_ptr<QApplication> KVStartQuietQt(bool offscreen);
