// Capturing Arena's window as the vision loop does, on a private 1920 × 1080 Xvfb with
// fake-arena filling it: read and conversion alone, with the thumbnail that decides whether
// anything changed, through MIT-SHM and through plain GetImage; and the window search among 50
// windows.
#include "base/environment.hpp"
#include "platform/platform.hpp"
#include "vision/capture.hpp"
#include "vision/vision.hpp"
#include "x11_harness/xvfb.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <utility>
#include <xcb/xcb.h>

namespace {

// One server with the game on it, and the real X11 services pointed at it.
struct Desktop {
    std::unique_ptr<KVXvfb> server;
    std::unique_ptr<KVFakeArena> game;
    xcb_connection_t* others = nullptr; // holds the extra windows

    Desktop(bool shm, int extraWindows) {
        server = std::make_unique<KVXvfb>(KVXvfb::Options{.shm = shm});
        KVEnvironment environment = *KVEnvironment::current();
        environment.display = server->display();
        KVEnvironment::replace(environment);
        KVPlatform::replace(KVPlatform::x11());
        game = std::make_unique<KVFakeArena>(
            server->display(), std::vector<std::string>{"--width", "1920", "--height", "1080"});
        others = xcb_connect(server->display().c_str(), nullptr);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(others)).data;
        for (int i = 0; i < extraWindows; ++i) {
            const xcb_window_t window = xcb_generate_id(others);
            xcb_create_window(others, XCB_COPY_FROM_PARENT, window, screen->root,
                              static_cast<int16_t>(20 * i), static_cast<int16_t>(10 * i), 400, 300,
                              0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
            xcb_map_window(others, window);
        }
        std::free(xcb_get_input_focus_reply(others, xcb_get_input_focus(others), nullptr));
    }
    ~Desktop() {
        xcb_disconnect(others);
        game.reset();
        KVPlatform::replace(KVPlatform::x11());
    }
};

std::unique_ptr<Desktop> desktop;
std::pair<bool, int> desktopKind;

// Starts a desktop of the kind asked for, unless the last one was of that kind.
bool useDesktop(benchmark::State& state, bool shm, int extraWindows) {
    if (!desktop || desktopKind != std::pair{shm, extraWindows}) {
        desktop.reset();
        desktop = std::make_unique<Desktop>(shm, extraWindows);
        desktopKind = {shm, extraWindows};
    }
    if (desktop->game->window == 0) {
        state.SkipWithError("fake-arena did not come up");
        return false;
    }
    return true;
}

void captureLoop(benchmark::State& state, bool shm, bool thumbnail) {
    if (!useDesktop(state, shm, 0)) {
        return;
    }
    KVCapture capture;
    const auto arena = KVCapture::findArena();
    if (!arena || !capture.captureWindow(arena)) {
        state.SkipWithError(("no capture: " + capture.lastError()).c_str());
        return;
    }
    for (auto _ : state) {
        auto image = capture.captureWindow(arena);
        if (thumbnail && image) {
            benchmark::DoNotOptimize(KVVision::thumbnail(*image));
        }
        benchmark::DoNotOptimize(image);
    }
    capture.endWindowCapture();
}

void BM_CaptureAndThumbnail_Shm(benchmark::State& state) {
    captureLoop(state, true, true);
}
void BM_Capture_Shm(benchmark::State& state) {
    captureLoop(state, true, false);
}
void BM_Capture_GetImage(benchmark::State& state) {
    captureLoop(state, false, false);
}

void BM_FindArena_50Windows(benchmark::State& state) {
    if (!useDesktop(state, true, 49)) {
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVCapture::findArena());
    }
}

BENCHMARK(BM_CaptureAndThumbnail_Shm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Capture_Shm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Capture_GetImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindArena_50Windows)->Unit(benchmark::kMicrosecond);

} // namespace
