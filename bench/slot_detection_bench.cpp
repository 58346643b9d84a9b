// Slot detection on whole frames, as the vision loop runs it on each changed frame.
#include "vision/vision.hpp"

#include "draft_screen/arena_screen.hpp"

#include <benchmark/benchmark.h>

namespace {

KVArenaScreenSpec draftSpec(int width, int height, size_t layout = 0) {
    KVArenaScreenSpec spec;
    spec.width = width;
    spec.height = height;
    kKVArenaLayouts[layout].applyTo(spec);
    spec.seed = 21;
    spec.jpegQuality = 85;
    return spec;
}

// A draft screen with a 15-card pack: the frame the detector exists for.
void BM_DetectSlots_DraftScreen(benchmark::State& state) {
    const KVArenaScreen screen = KVRenderArenaScreen(
        draftSpec(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    if (!KVVision::detectSlots(screen.image, 15)) {
        state.SkipWithError("the benchmark screen was not read");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::detectSlots(screen.image, 15));
    }
}
BENCHMARK(BM_DetectSlots_DraftScreen)
    ->Args({1920, 1080})
    ->Args({1280, 720})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

// Small cards with wide gaps: the listed widths read nothing, and the widths the chains show
// are read as well.
void BM_DetectSlots_WideGaps(benchmark::State& state) {
    const KVArenaScreen screen = KVRenderArenaScreen(draftSpec(1920, 1080, 4));
    if (!KVVision::detectSlots(screen.image, 15)) {
        state.SkipWithError("the benchmark screen was not read");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::detectSlots(screen.image, 15));
    }
}
BENCHMARK(BM_DetectSlots_WideGaps)->Unit(benchmark::kMillisecond);

// Screens without a pack: every width and chain is tried before the answer is none.
void BM_DetectSlots_MenuScreen(benchmark::State& state) {
    const KVImage menu = KVRenderMenuScreen(1920, 1080, 5);
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::detectSlots(menu, 15));
    }
}
BENCHMARK(BM_DetectSlots_MenuScreen)->Unit(benchmark::kMillisecond);

void BM_DetectSlots_CollectionScreen(benchmark::State& state) {
    const KVImage collection = KVRenderCollectionScreen(1920, 1080, 6);
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::detectSlots(collection, 15));
    }
}
BENCHMARK(BM_DetectSlots_CollectionScreen)->Unit(benchmark::kMillisecond);

// A frame without a single edge stops after the gradients.
void BM_DetectSlots_UniformFrame(benchmark::State& state) {
    KVImage frame = KVImage::blank(1920, 1080);
    std::fill(frame.rgba.begin(), frame.rgba.end(), uint8_t{40});
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::detectSlots(frame, 15));
    }
}
BENCHMARK(BM_DetectSlots_UniformFrame)->Unit(benchmark::kMillisecond);

} // namespace
