#include "vision/capture.hpp"

#include "platform/platform.hpp"

#include <array>
#include <chrono>
#include <string_view>
#include <unistd.h>

namespace {

bool isArenaOwner(const std::string& owner) {
    static constexpr std::array<std::string_view, 3> kArenaOwners = {"MTGA", "MTG Arena",
                                                                     "Magic: The Gathering Arena"};
    for (const std::string_view name : kArenaOwners) {
        if (owner == name) {
            return true;
        }
    }
    return false;
}

} // namespace

KVCapture::KVCapture(Clock clock) : clock_(std::move(clock)) {}

double KVCapture::steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::optional<KVArenaWindow> KVCapture::findArena() {
    const auto snapshot = KVPlatform::current()->windows->snapshot();
    if (!snapshot) {
        return std::nullopt;
    }
    std::optional<KVArenaWindow> best;
    double bestArea = 0;
    for (const KVWindowInfo& window : snapshot->windows) {
        if (!isArenaOwner(window.owner) || window.layer != 0) {
            continue;
        }
        if (window.bounds.width < 200 || window.bounds.height < 200) {
            continue;
        }
        const double area = window.bounds.width * window.bounds.height;
        if (area <= bestArea) {
            continue;
        }
        bestArea = area;
        // An unknown frontmost process (0) is nobody's, not that of a window of unknown owner.
        const bool front = snapshot->frontmostPid != 0 && window.pid == snapshot->frontmostPid;
        best = KVArenaWindow{window.id,     window.pid,      window.owner,
                             window.bounds, window.onScreen, window.onScreen && front};
    }
    return best;
}

bool KVCapture::frontmostIsUs() {
    const auto snapshot = KVPlatform::current()->windows->snapshot();
    return snapshot && snapshot->frontmostPid == static_cast<int32_t>(::getpid());
}

bool KVCapture::hasCapturePermission() {
    return KVPlatform::current()->capture->available();
}

KVRect KVCapture::cocoaRectFromQuartz(const KVRect& rect) {
    const double primaryHeight = KVPlatform::current()->screens->primaryHeight();
    return {rect.x, primaryHeight - (rect.y + rect.height), rect.width, rect.height};
}

std::optional<KVShareableContent> KVCapture::shareableContent() {
    const double now = clock_();
    if (content_ && now - contentAt_ < kContentLifetime) {
        return content_;
    }
    KVError error;
    auto content = KVPlatform::current()->capture->shareableContent(&error);
    if (!content) {
        lastError_ = error.message.empty() ? "no shareable content (permission?)" : error.message;
        return std::nullopt;
    }
    content_ = std::move(content);
    contentAt_ = now; // the time of asking, not of the answer
    return content_;
}

std::optional<KVImage> KVCapture::captureWindow(const std::optional<KVArenaWindow>& window) {
    if (!window) {
        return std::nullopt;
    }
    const auto content = shareableContent();
    if (!content) {
        return std::nullopt;
    }
    bool listed = false;
    for (const KVShareableContent::Window& shareable : content->windows) {
        listed = listed || shareable.id == window->windowId;
    }
    if (!listed) {
        lastError_ = "Arena's window is not in the shareable content";
        return std::nullopt;
    }
    // The frame comes with the pixels, not from the cached list: a window moved or resized since
    // is read where and as it is now.
    KVError error;
    auto frame = KVPlatform::current()->capture->captureWindow(window->windowId, &error);
    if (!frame) {
        lastError_ = error.message.empty() ? "screenshot timed out" : error.message;
        return std::nullopt;
    }
    // One pixel per desktop unit: X reports sizes in pixels.
    if (static_cast<unsigned>(frame->frame.width) == 0 ||
        static_cast<unsigned>(frame->frame.height) == 0 || frame->image.empty()) {
        lastError_ = "Arena's window has no size";
        return std::nullopt;
    }
    lastPath_ = "window";
    lastFrameRect_ = frame->frame;
    return std::move(frame->image);
}

std::optional<KVImage> KVCapture::captureRegion(const KVRect& rect) {
    const auto content = shareableContent();
    if (!content) {
        return std::nullopt;
    }
    if (content->displays.empty()) {
        lastError_ = "no display";
        return std::nullopt;
    }
    // The root window spans every display, so the region is read from it as it lies; what falls
    // outside the displays comes back black.
    KVError error;
    auto image = KVPlatform::current()->capture->captureRegion(rect, &error);
    if (!image) {
        lastError_ = error.message.empty() ? "screenshot timed out" : error.message;
        return std::nullopt;
    }
    lastPath_ = "region";
    lastFrameRect_ = rect;
    return image;
}

void KVCapture::endWindowCapture() {
    KVPlatform::current()->capture->endWindowCapture();
}
