#include "app/app.hpp"

#include "base/config.hpp"
#include "base/environment.hpp"
#include "base/files.hpp"
#include "base/platform_texts.hpp"
#include "platform/platform.hpp"
#include "vision/capture.hpp"
#include "vision/image_codec.hpp"
#include "vision/vision.hpp"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

void printRect(const char* label, const KVRect& rect, std::string_view source) {
    std::printf("%s: x=%.1f y=%.1f w=%.1f h=%.1f   %.*s\n", label, rect.x, rect.y, rect.width,
                rect.height, static_cast<int>(source.size()), source.data());
}

// Arena's window, waiting for it to come to the front; an unfocused window found on the last
// look is taken as it is.
std::optional<KVArenaWindow> waitForArena(const KVCaptureWait& wait) {
    std::optional<KVArenaWindow> found;
    for (int attempt = 0; attempt < wait.tries; ++attempt) {
        if (auto window = KVCapture::findArena()) {
            found = std::move(window);
            if (found->focused) {
                break;
            }
        }
        if (attempt + 1 < wait.tries) {
            std::this_thread::sleep_for(std::chrono::duration<double>(wait.interval));
        }
    }
    return found;
}

} // namespace

int KVApp::captureTest(const KVCaptureWait& wait) {
    if (KVEnvironment::current()->display.empty()) {
        std::printf("%.*s\n", static_cast<int>(KVPlatformTexts::kNoDisplay.size()),
                    KVPlatformTexts::kNoDisplay.data());
        return 1;
    }
    std::printf("Switch to Arena now, with a pack on screen, and stay there. Waiting up to %.0f s "
                "for it to be in front...\n",
                wait.tries * wait.interval);
    std::fflush(stdout);
    const auto arena = waitForArena(wait);
    if (!arena) {
        std::printf("arena    : NOT FOUND\n");
        return 1;
    }
    std::printf("arena    : %s\n", arena->description().c_str());

    KVCapture capture;
    const auto started = std::chrono::steady_clock::now();
    auto frame = capture.captureWindow(arena);
    if (!frame) {
        std::printf("window   : NOT readable -- %s\n",
                    capture.lastError().empty() ? "no reason" : capture.lastError().c_str());
        frame = capture.captureRegion(arena->bounds);
        if (!frame) {
            std::printf("frame    : NONE -- %s\n", capture.lastError().c_str());
            return 1;
        }
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("frame    : %zux%zu px in %.2fs via %s\n", static_cast<size_t>(frame->width),
                static_cast<size_t>(frame->height), took, capture.lastPath().c_str());

    printRect("bounds   ", arena->bounds, KVPlatformTexts::kWindowListSource);
    printRect("shot rect", capture.lastFrameRect(), KVPlatformTexts::kCaptureSource);
    printRect("badge box", KVCapture::cocoaRectFromQuartz(capture.lastFrameRect()),
              KVPlatformTexts::kBadgeSource);
    // X reports monitors in device pixels: one pixel per unit on every screen.
    for (const KVMonitor& monitor : KVPlatform::current()->screens->monitors()) {
        const KVRect screen = KVCapture::cocoaRectFromQuartz(monitor.frame);
        std::printf("screen   : frame=(%.0f,%.0f,%.0fx%.0f) backing=%.1f\n", screen.x, screen.y,
                    screen.width, screen.height, 1.0);
    }

    const std::string saved = KVJoinPath(KVConfig::dataDir(), "diagnose-frame.png");
    KVConfig::ensureDirs();
    if (const auto png = KVEncodePNG(*frame); png && KVWriteFileAtomically(saved, *png)) {
        std::printf("saved    : %s\n", saved.c_str());
    }

    for (int64_t expected = 15; expected >= 2; --expected) {
        const auto slots = KVVision::detectSlots(*frame, expected);
        if (!slots) {
            continue;
        }
        std::printf("slots    : %lu card rectangles found (asked for %ld)\n",
                    static_cast<unsigned long>(slots->size()), static_cast<long>(expected));
        for (size_t i = 0; i < slots->size(); ++i) {
            const KVNormRect& slot = (*slots)[i];
            std::printf("  slot %2lu: x=%.3f y=%.3f w=%.3f h=%.3f\n", static_cast<unsigned long>(i),
                        slot.x, slot.y, slot.width, slot.height);
        }
        return 0;
    }
    std::printf("slots    : NONE -- the card finder rejected this frame at every pack size\n");
    return 0;
}
