// The controller's two periodic costs: the Arena tracker's tick on a real window list (Xvfb with
// openbox, fake-arena in front among 40 windows), and the vision tick on a frame that has not
// changed since the pack was reported (fake capture serving a rendered draft screen).
#include "app/app.hpp"
#include "app/app_views.hpp"
#include "app/vision_loop.hpp"
#include "base/config.hpp"
#include "base/environment.hpp"
#include "draft/catalog.hpp"
#include "draft_screen/arena_screen.hpp"
#include "platform/fake/fake_platform.hpp"
#include "vision/art_hashes.hpp"
#include "vision/capture.hpp"
#include "vision/phash.hpp"
#include "x11_harness/xvfb.hpp"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <xcb/xcb.h>

namespace {

constexpr int kWindows = 40; // the game and 39 others

QApplication& offscreenQt() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "tracking_bench";
    static char* argv[] = {name, nullptr};
    static auto* const qt = new QApplication(argc, argv);
    return *qt;
}

// Polls `done` for up to 20 s: set-up only, never inside the measured loop.
bool waitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void BM_TickArenaAmongFortyWindows(benchmark::State& state) {
    char scratch[] = "/tmp/kv-tracking-bench-XXXXXX";
    setenv("XDG_DATA_HOME", mkdtemp(scratch), 1);
    offscreenQt();
    KVXvfb server(KVXvfb::Options{.windowManager = true});
    if (server.display().empty()) {
        state.SkipWithError(server.failure().c_str());
        return;
    }
    KVEnvironment environment = KVEnvironment::fromProcess();
    environment.display = server.display();
    const auto previousEnvironment = KVEnvironment::replace(environment);
    const auto previousPlatform = KVPlatform::replace(KVPlatform::x11());

    // Other programs' windows first, so that the game, mapped last, has the focus.
    xcb_connection_t* others = xcb_connect(server.display().c_str(), nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(others)).data;
    for (int i = 0; i < kWindows - 1; ++i) {
        const xcb_window_t window = xcb_generate_id(others);
        xcb_create_window(others, XCB_COPY_FROM_PARENT, window, screen->root,
                          static_cast<int16_t>(20 * i), static_cast<int16_t>(10 * i), 400, 300, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(others, window);
    }
    xcb_flush(others);
    {
        KVFakeArena game(server.display(), {"--width", "1600", "--height", "900"});
        const bool ready = game.window != 0 && waitFor([] {
                               const auto snapshot = KVPlatform::current()->windows->snapshot();
                               const auto arena = KVCapture::findArena();
                               return snapshot && snapshot->windows.size() >= size_t(kWindows) &&
                                      arena && arena->focused;
                           });
        if (!ready) {
            state.SkipWithError("the game never came to the front among the other windows");
        } else {
            KVConfig::ensureDirs();
            KVConfig::save(KVJson{{"telemetry_enabled", false}});
            auto app =
                KVApp::create(KVAppServices::standard(), std::make_shared<KVHeadlessViews>());
            app->buildWindows();
            app->active = true; // as after sign-in: the tracker works only then
            app->tickArena();   // the first tick in front floats the overlay; later ones check
            for (auto _ : state) {
                app->tickArena();
            }
            state.counters["in_front"] = app->arenaInFront ? 1 : 0;
            app->applicationWillTerminate();
        }
    }
    xcb_disconnect(others);
    KVPlatform::restore(previousPlatform);
    KVEnvironment::restore(previousEnvironment);
}
BENCHMARK(BM_TickArenaAmongFortyWindows)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_UnchangedVisionTick(benchmark::State& state) {
    KVScopedFakePlatform fake;
    constexpr uint32_t kArenaId = 7;
    const KVRect bounds{0, 0, 1920, 1080};
    std::vector<KVCardRef> cards;
    KVArenaScreenSpec spec;
    spec.width = 1920;
    spec.height = 1080;
    spec.cards = 14;
    kKVArenaLayouts[0].applyTo(spec);
    for (uint32_t i = 0; i < 14; ++i) {
        spec.cardImages.push_back(KVRenderCardFace(488, 680, 700 + i));
        auto card = std::make_shared<KVCard>("Card " + std::to_string(i));
        card->artHashes.push_back(KVPHashOfArt(spec.cardImages.back()).value());
        cards.push_back(card);
    }
    fake.capture->content = KVShareableContent{{{kArenaId, bounds}}, {{0, 0, 1920, 1080}}};
    fake.capture->windowFrames[kArenaId] = {KVRenderArenaScreen(spec).image, bounds};

    auto artHashes =
        std::make_shared<KVArtHashes>(std::make_shared<KVCatalog>("http://127.0.0.1:1"));
    KVVisionLoop loop(std::make_shared<KVCapture>(), artHashes);
    KVVisionInputs inputs;
    inputs.inDraft = true;
    inputs.arena = KVArenaWindow{kArenaId, 42, "MTGA.exe", bounds, true, true};
    inputs.packSize = 14;
    inputs.candidates = std::make_shared<const std::vector<KVCardRef>>(cards);
    inputs.catalogCards = 250;
    // Reported three times, the pack is steady: from here a tick only captures and compares.
    for (int i = 0; i < 3; ++i) {
        if (!loop.tick(inputs).report) {
            state.SkipWithError("the pack was not seen");
            return;
        }
    }
    for (auto _ : state) {
        const KVVisionStep step = loop.tick(inputs);
        if (step.report) {
            state.SkipWithError("an unchanged frame was read again");
            return;
        }
    }
}
BENCHMARK(BM_UnchangedVisionTick)->Unit(benchmark::kMillisecond);

} // namespace
