#pragma once

#include "base/image.hpp"
#include "platform/screen_capture.hpp"
#include "vision/arena_window.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Finds Arena's window, converts its rectangle between desktop and screen coordinates, takes
// still frames of it, and finds and starts the game on disk. One instance, owned by the
// controller, holds the content cache and the last result; calls on one instance never overlap.
class KVCapture {
public:
    // Seconds on a clock that only moves forward; the content cache is timed by it.
    using Clock = std::function<double()>;

    explicit KVCapture(Clock clock = steadySeconds);

    // The largest ordinary window of Arena at least 200 × 200, the first listed among equals.
    static std::optional<KVArenaWindow> findArena();
    static bool frontmostIsUs();
    // Window capture works here (the X server composites windows); never prompts.
    static bool hasCapturePermission();
    // Nothing to ask for on X11.
    static void requestCapturePermission() {}
    // Desktop (top-left origin, y down) to screen coordinates (bottom-left origin, y up).
    static KVRect cocoaRectFromQuartz(const KVRect& rect);

    // Where Arena may be installed, in search order: Steam's install in every Steam library, then
    // the game in every Wine prefix the log search knows, so that a found log means a found game.
    static std::vector<std::string> arenaAppCandidates();
    static std::optional<std::string> arenaPath();
    static bool arenaInstalled() { return arenaPath().has_value(); }
    // Starts Arena through Steam, Wine, or the file itself; false when nothing could be started.
    static bool launchArena();

    // The capturable windows and displays, queried at most once in 5 seconds.
    std::optional<KVShareableContent> shareableContent();

    // Arena's window alone, whatever covers it, read where and as large as it is now.
    std::optional<KVImage> captureWindow(const std::optional<KVArenaWindow>& window);

    // Whatever the desktop shows in `rect` (desktop coordinates), this program's own windows
    // included: X11 cannot leave a window out of a screen capture, so no caller uses this while
    // stamps are shown.
    std::optional<KVImage> captureRegion(const KVRect& rect);

    // Lets Arena's window go when vision idles; the next window capture takes it again.
    void endWindowCapture();

    const std::string& lastError() const { return lastError_; }
    const std::string& lastPath() const { return lastPath_; }
    const KVRect& lastFrameRect() const { return lastFrameRect_; }

    static double steadySeconds();

    static constexpr double kContentLifetime = 5.0;

private:
    Clock clock_;
    std::string lastError_;
    std::string lastPath_;
    KVRect lastFrameRect_;
    std::optional<KVShareableContent> content_;
    double contentAt_ = 0;
};
