// Naming the cards of a pack: the one-to-one assignment of 15 slot hashes to a set's cards, the
// whole identification of a 1080p screenshot, and the thumbnail that tells whether a frame has
// changed at all.
#include "vision/phash.hpp"
#include "vision/vision.hpp"

#include "draft_screen/pictures.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace {

constexpr int kSlots = 15;
constexpr int kSetSize = 300;

KVArtHash randomHash(std::mt19937& rng) {
    KVArtHash hash{};
    for (uint8_t& byte : hash) {
        byte = static_cast<uint8_t>(rng() & 0xff);
    }
    return hash;
}

// A set of 300 cards, every third with a second printing.
std::vector<KVCandidate> setCandidates(std::mt19937& rng) {
    std::vector<KVCandidate> candidates;
    for (int i = 0; i < kSetSize; ++i) {
        KVCandidate candidate{std::make_shared<KVCard>("card " + std::to_string(i)), {}};
        candidate.artHashes.push_back(randomHash(rng));
        if (i % 3 == 0) {
            candidate.artHashes.push_back(randomHash(rng));
        }
        candidates.push_back(std::move(candidate));
    }
    return candidates;
}

std::vector<KVNormRect> packLayout() {
    std::vector<KVNormRect> slots;
    slots.reserve(kSlots);
    for (int i = 0; i < kSlots; ++i) {
        const int row = i / 5;
        const int column = i % 5;
        slots.push_back({(160.0 + 330.0 * column) / 1920.0, (60.0 + 330.0 * row) / 1080.0,
                         220.0 / 1920.0, 308.0 / 1080.0});
    }
    return slots;
}

// Whether every slot was named by its art: otherwise the figures measure some other path.
bool allNamed(const std::vector<KVSlotMatch>& matches) {
    return std::all_of(matches.begin(), matches.end(),
                       [](const KVSlotMatch& m) { return m.method == "phash"; });
}

// 15 slots showing cards of the set as the screen distorts them: a few bits off.
void BM_AssignCards_15Of300(benchmark::State& state) {
    std::mt19937 rng(1);
    const std::vector<KVCandidate> candidates = setCandidates(rng);
    std::vector<std::optional<KVArtHash>> slotHashes;
    for (int i = 0; i < kSlots; ++i) {
        KVArtHash hash = candidates.at(19 * static_cast<size_t>(i) + 7).artHashes.back();
        for (int flip = 0; flip < 6; ++flip) {
            const uint32_t bit = rng() % 256;
            hash[bit / 8] ^= static_cast<uint8_t>(0x80u >> (bit % 8));
        }
        slotHashes.emplace_back(hash);
    }
    const std::vector<KVNormRect> slots = packLayout();
    if (!allNamed(KVVision::assignCards(slotHashes, slots, candidates))) {
        state.SkipWithError("a slot was not named");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::assignCards(slotHashes, slots, candidates));
    }
}
BENCHMARK(BM_AssignCards_15Of300)->Unit(benchmark::kMicrosecond);

// A pack of 15 cards on a dark 1920 × 1080 screen at packLayout(), and the 300 cards of its set
// with the shown cards' art hashes.
struct PackScreen {
    KVImage image;
    std::vector<KVCandidate> candidates;
};
PackScreen packScreen() {
    const std::vector<KVNormRect> slots = packLayout();
    PackScreen pack{KVGrayImage(1920, 1080, std::vector<uint8_t>(size_t{1920} * 1080, 24)), {}};
    std::mt19937 rng(2);
    pack.candidates = setCandidates(rng);
    for (int i = 0; i < kSlots; ++i) {
        const uint32_t seed = 500 + static_cast<uint32_t>(i);
        const KVImage card = KVTexturedImage(220, 308, seed);
        const int left = static_cast<int>(std::lround(slots[i].x * 1920.0));
        const int top = static_cast<int>(std::lround(slots[i].y * 1080.0));
        for (int y = 0; y < card.height; ++y) {
            std::copy_n(card.pixel(0, y), card.stride(), pack.image.pixel(left, top + y));
        }
        pack.candidates.at(19 * static_cast<size_t>(i) + 7).artHashes = {
            KVPHashOfArt(KVTexturedImage(488, 680, seed)).value()};
    }
    return pack;
}

// The pack identified against the 300 cards of its set.
void BM_IdentifyPack_1080p(benchmark::State& state) {
    const std::vector<KVNormRect> slots = packLayout();
    const auto [screen, candidates] = packScreen();
    if (!allNamed(KVVision::identifyPack(screen, slots, candidates))) {
        state.SkipWithError("a slot was not named");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::identifyPack(screen, slots, candidates));
    }
}
BENCHMARK(BM_IdentifyPack_1080p)->Unit(benchmark::kMillisecond);

// The same screen as the vision loop reads a new layout: the slots 1 % off the cards, so the
// search for a common move runs (arg 0); and a steady pack, with the transform handed back as the
// hint (arg 1), which pays no search.
void BM_IdentifyPack_Registered_1080p(benchmark::State& state) {
    std::vector<KVNormRect> slots = packLayout();
    const auto [screen, candidates] = packScreen();
    for (KVNormRect& slot : slots) {
        slot.x += 0.01 * slot.width;
    }
    const KVPackIdentification first =
        KVVision::identifyPack(screen, slots, candidates, std::nullopt);
    if (!allNamed(first.matches)) {
        state.SkipWithError("a slot was not named");
    }
    const std::optional<KVSlotTransform> hint =
        state.range(0) == 1 ? std::optional(first.transform) : std::nullopt;
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::identifyPack(screen, slots, candidates, hint));
    }
}
BENCHMARK(BM_IdentifyPack_Registered_1080p)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Thumbnail_1080p(benchmark::State& state) {
    const KVImage frame = KVTexturedImage(1920, 1080, 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(KVVision::thumbnail(frame));
    }
}
BENCHMARK(BM_Thumbnail_1080p)->Unit(benchmark::kMillisecond);

} // namespace
