// The perceptual hash as vision uses it: a card crop from the screen, a card image from the
// image host, and the gray thumbnails under them.
#include "vision/gray_pixels.hpp"
#include "vision/image_codec.hpp"
#include "vision/image_crop.hpp"
#include "vision/phash.hpp"
#include "vision/vision.hpp"

#include "draft_screen/pictures.hpp"

#include <benchmark/benchmark.h>

namespace {

// A card as it sits in a pack slot on a 1080p screen.
const KVImage& screenSlot() {
    static const KVImage image = KVTexturedImage(250, 350, 11);
    return image;
}

// Its art box, what KVPHash sees.
const KVImage& artBox() {
    static const KVImage image = KVCropImage(screenSlot(), 20, 35, 210, 182);
    return image;
}

void BM_PHashOfArt_ScreenSlot(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVPHashOfArt(screenSlot()));
    }
}
BENCHMARK(BM_PHashOfArt_ScreenSlot)->Unit(benchmark::kMicrosecond);

void BM_PHashOfArt_CardImage(benchmark::State& state) {
    const KVImage card = KVTexturedImage(488, 680, 12);
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVPHashOfArt(card));
    }
}
BENCHMARK(BM_PHashOfArt_CardImage)->Unit(benchmark::kMicrosecond);

void BM_PHash_ArtBox(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVPHash(artBox()));
    }
}
BENCHMARK(BM_PHash_ArtBox)->Unit(benchmark::kMicrosecond);

void BM_GrayPixels_ArtBox(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVGrayPixels(artBox(), side, side));
    }
}
BENCHMARK(BM_GrayPixels_ArtBox)->Arg(160)->Arg(64)->Unit(benchmark::kMicrosecond);

// The thumbnail that tells whether a 1080p frame changed, once per vision tick.
void BM_Thumbnail_1080p(benchmark::State& state) {
    const KVImage frame = KVTexturedImage(1920, 1080, 14);
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::thumbnail(frame));
    }
}
BENCHMARK(BM_Thumbnail_1080p)->Unit(benchmark::kMicrosecond);

// Decoding a downloaded card image, the other half of building the art-hash cache.
void BM_DecodeCardJPEG(benchmark::State& state) {
    const std::string bytes = KVEncodeJPEG(KVTexturedImage(488, 680, 13), 90).value_or("");
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVImageFromData(bytes));
    }
}
BENCHMARK(BM_DecodeCardJPEG)->Unit(benchmark::kMicrosecond);

} // namespace
