#include "vision/vision.hpp"

#include "vision/phash.hpp"

#include "draft_screen/pictures.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <tuple>

namespace {

KVArtHash randomHash(uint32_t seed) {
    std::mt19937 rng(seed);
    KVArtHash hash{};
    for (uint8_t& byte : hash) {
        byte = static_cast<uint8_t>(rng() & 0xff);
    }
    return hash;
}

// Bits from..from + count − 1 inverted, bit 0 being the top bit of byte 0.
KVArtHash flipped(KVArtHash hash, int from, int count) {
    for (int i = from; i < from + count; ++i) {
        hash[static_cast<size_t>(i / 8)] ^= static_cast<uint8_t>(0x80u >> (i % 8));
    }
    return hash;
}

KVCandidate candidate(const std::string& name, std::vector<KVArtHash> hashes) {
    return {std::make_shared<KVCard>(name), std::move(hashes)};
}

std::string nameOf(const KVSlotMatch& match) {
    return match.card ? match.card->name : "(none)";
}

// One row of card-shaped slots.
std::vector<KVNormRect> layout(size_t count) {
    std::vector<KVNormRect> rects;
    for (size_t i = 0; i < count; ++i) {
        rects.push_back({0.05 + 0.06 * static_cast<double>(i), 0.1, 0.05, 0.28});
    }
    return rects;
}

struct Pack {
    std::vector<std::optional<KVArtHash>> slotHashes;
    std::vector<KVCandidate> candidates; // "C0", "C1", …, one hash each
};

// Slot hashes and candidates at exactly the distances d[slot][candidate], for up to three
// slots. Slot t differs from a base hash in a block of a[t] bits of its own; candidate c, with
// `bits` bits flipped in all, flips the first k[t][c] bits of every slot's block and the rest past
// all blocks, which puts it at a[t] + bits − 2·k[t][c] from slot t. Up to three slots, every
// matrix that 256-bit hashes can show at all has such a form; the sizes are searched for.
Pack packAt(const std::vector<std::vector<int>>& d) {
    const int rows = static_cast<int>(d.size());
    const int cols = static_cast<int>(d.at(0).size());
    std::vector<int> a(static_cast<size_t>(rows));
    std::vector<std::vector<int>> k(static_cast<size_t>(rows), std::vector<int>(cols));
    std::vector<int> e(static_cast<size_t>(cols));

    const auto fits = [&] {
        int sumA = 0;
        for (int t = 0; t < rows; ++t) {
            sumA += a[t];
        }
        for (int c = 0; c < cols; ++c) {
            bool found = false;
            // Slot 0 alone bounds the bits: 0 ≤ k[0][c] ≤ a[0], a whole number.
            const int last = a[0] + d[0][c];
            for (int bits = std::max(d[0][c] - a[0], last % 2); bits <= last && !found; bits += 2) {
                found = true;
                e[c] = bits;
                for (int t = 0; t < rows && found; ++t) {
                    const int twice = a[t] + bits - d[t][c];
                    k[t][c] = twice / 2;
                    e[c] -= k[t][c];
                    found = twice >= 0 && twice % 2 == 0 && k[t][c] <= a[t];
                }
                found = found && e[c] >= 0 && sumA + e[c] <= 256;
            }
            if (!found) {
                return false;
            }
        }
        return true;
    };
    std::function<bool(int)> search = [&](int t) {
        if (t == rows) {
            return fits();
        }
        for (a[t] = 0; a[t] <= 128; ++a[t]) {
            if (search(t + 1)) {
                return true;
            }
        }
        return false;
    };
    Pack pack;
    if (rows > 3 || !search(0)) {
        ADD_FAILURE() << "no hashes at these distances";
        return pack;
    }

    const KVArtHash base = randomHash(7);
    std::vector<int> blockStart(static_cast<size_t>(rows) + 1, 0);
    for (int t = 0; t < rows; ++t) {
        blockStart[t + 1] = blockStart[t] + a[t];
        pack.slotHashes.emplace_back(flipped(base, blockStart[t], a[t]));
    }
    for (int c = 0; c < cols; ++c) {
        KVArtHash hash = flipped(base, blockStart[rows], e[c]);
        for (int t = 0; t < rows; ++t) {
            hash = flipped(hash, blockStart[t], k[t][c]);
        }
        pack.candidates.push_back(candidate("C" + std::to_string(c), {hash}));
    }
    for (int t = 0; t < rows; ++t) {
        for (int c = 0; c < cols; ++c) {
            EXPECT_EQ(KVPHashDistance(*pack.slotHashes[t], pack.candidates[c].artHashes[0]),
                      d[t][c])
                << "slot " << t << ", candidate " << c;
        }
    }
    return pack;
}

std::vector<KVSlotMatch> assign(const Pack& pack) {
    return KVVision::assignCards(pack.slotHashes, layout(pack.slotHashes.size()), pack.candidates);
}

// --- Matching on exact distances ---

TEST(CardIdentification, PairsSlotsWithCardsByDistance) {
    struct Slot {
        const char* name;
        const char* method;
        double confidence; // < 0: not checked
    };
    struct Case {
        const char* what;
        std::vector<std::vector<int>> distances; // [slot][candidate]
        std::vector<Slot> expected;
    };
    const std::vector<Case> cases = {
        {"the art alone names a card up to 118 bits", {{118, 150}}, {{"C0", "phash", 0.8}}},
        {"past 118 the closest card is only deduced", {{119, 150}}, {{"C0", "deduced", 0.3}}},
        {"confidence is the lead over the runner-up", {{20, 40}}, {{"C0", "phash", 0.5}}},
        {"a lead of 80 is full confidence", {{20, 100}}, {{"C0", "phash", 1.0}}},
        {"a small lead is clamped to 0.05", {{20, 22}}, {{"C0", "phash", 0.05}}},
        {"the runner-up is the second smallest, wherever it stands",
         {{20, 50, 36}},
         {{"C0", "phash", 0.4}}},
        {"a lone candidate has nothing to lead", {{20}}, {{"C0", "phash", 0.05}}},
        {"confidence measures the slot's own best, not the card it was left with",
         {{20, 36}, {10, 40}},
         {{"C1", "phash", 0.4}, {"C0", "phash", 0.75}}},
        {"equal distances go to the earlier slot",
         {{50}, {50}},
         {{"C0", "phash", 0.05}, {"(none)", "none", -1}}},
        {"equal distances go to the earlier card", {{50, 50}}, {{"C0", "phash", 0.05}}},
        {"equal sums either way round: no exchange undoes the first choice",
         {{50, 80}, {50, 80}},
         {{"C0", "phash", -1}, {"C1", "phash", -1}}},
        {"the same order when pairing by elimination",
         {{150, 180}, {150, 180}},
         {{"C0", "deduced", 0.3}, {"C1", "deduced", 0.3}}},
        {"the closer slot gets the card both want",
         {{40, 90}, {30, 100}},
         {{"C1", "phash", -1}, {"C0", "phash", -1}}},
        {"the slot left over past the limit is deduced",
         {{40, 130}, {30, 140}},
         {{"C1", "deduced", 0.3}, {"C0", "phash", -1}}},
        {"an exchange that lowers the sum is made and is no longer deduced",
         {{20, 60}, {50, 120}},
         {{"C1", "phash", 1.0}, {"C0", "phash", -1}}},
        {"an exchange can push a slot past the art's limit",
         {{10, 121}, {119, 240}},
         {{"C1", "deduced", 0.3}, {"C0", "deduced", 0.3}}},
        // Greedy gives 0→C0, 1→C2 (deduced), 2→C1. The first pass exchanges slots 0 and 2;
        // only a second pass finds that slots 0 and 1 are better exchanged too.
        {"exchanges repeat until none lowers the sum",
         {{20, 30, 50}, {180, 160, 190}, {50, 70, 120}},
         {{"C2", "phash", -1}, {"C1", "deduced", -1}, {"C0", "phash", -1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto matches = assign(packAt(c.distances));
        ASSERT_EQ(matches.size(), c.expected.size());
        for (size_t i = 0; i < matches.size(); ++i) {
            SCOPED_TRACE("slot " + std::to_string(i));
            EXPECT_EQ(nameOf(matches[i]), c.expected[i].name);
            EXPECT_EQ(matches[i].method, c.expected[i].method);
            EXPECT_EQ(matches[i].index, static_cast<int64_t>(i));
            if (c.expected[i].confidence >= 0) {
                EXPECT_DOUBLE_EQ(matches[i].confidence, c.expected[i].confidence);
            }
        }
    }
}

// A card is as near as the nearest of its printings; a candidate without hashes takes no part,
// not even as the runner-up.
TEST(CardIdentification, ACardIsItsNearestPrintingAndUnhashedCardsTakeNoPart) {
    Pack pack = packAt({{100, 30, 60}});
    pack.candidates[0].artHashes.push_back(pack.candidates[1].artHashes[0]);
    pack.candidates[1] = candidate("unhashed", {});
    auto matches = assign(pack);
    EXPECT_EQ(nameOf(matches[0]), "C0");
    EXPECT_DOUBLE_EQ(matches[0].confidence, 30 / 40.0);

    pack.candidates.pop_back();
    matches = assign(pack);
    EXPECT_EQ(nameOf(matches[0]), "C0");
    EXPECT_DOUBLE_EQ(matches[0].confidence, 0.05);
}

// --- From a picture ---

// A fine checkerboard: any 20-pixel crop of it has contrast to hash.
KVImage checkerboard() {
    std::vector<uint8_t> values(size_t{1024} * 512);
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = ((i % 1024) / 4 + (i / 1024) / 4) % 2 ? 220 : 20;
    }
    return KVGrayImage(1024, 512, values);
}

TEST(CardIdentification, NothingIsNamedWithoutAnImageOrHashedCandidates) {
    const std::vector<KVNormRect> slots = layout(6);
    const std::vector<KVCandidate> hashed = {candidate("A", {randomHash(1)}),
                                             candidate("B", {randomHash(2)})};
    for (const auto& matches : {KVVision::identifyPack(KVImage{}, slots, hashed),
                                KVVision::identifyPack(checkerboard(), slots,
                                                       {candidate("A", {}), candidate("B", {})})}) {
        ASSERT_EQ(matches.size(), slots.size());
        for (size_t i = 0; i < matches.size(); ++i) {
            EXPECT_EQ(matches[i].method, "none");
            EXPECT_EQ(matches[i].card, nullptr);
            EXPECT_EQ(matches[i].index, static_cast<int64_t>(i));
            EXPECT_EQ(matches[i].normRect.y, slots[i].y);
        }
    }
    EXPECT_TRUE(KVVision::identifyPack(checkerboard(), {}, hashed).empty());
}

TEST(CardIdentification, SlotsUnder20PixelsAreNotHashed) {
    const auto rect = [](double x, double y, double w, double h) {
        return KVNormRect{x / 1024, y / 512, w / 1024, h / 512};
    };
    const std::vector<KVNormRect> slots = {
        rect(100, 100, 20, 40),   // just big enough
        rect(200, 100, 19.5, 40), // too narrow
        rect(300, 100, 40, 19.5), // too low
        rect(-15, 200, 30, 40),   // hangs off the left edge: the size counts, not the overlap
        rect(400, -15, 30, 40),   // and off the top
        rect(1010, 300, 30, 40)}; // off the right edge, cut by the crop
    std::vector<KVCandidate> candidates;
    for (uint32_t i = 0; i < 6; ++i) {
        candidates.push_back(candidate("card " + std::to_string(i), {randomHash(50 + i)}));
    }
    // Two candidates are left over, yet a slot without a hash is never named by elimination.
    const auto matches = KVVision::identifyPack(checkerboard(), slots, candidates);
    ASSERT_EQ(matches.size(), 6u);
    for (size_t i = 0; i < matches.size(); ++i) {
        EXPECT_EQ(matches[i].method == "none", i == 1 || i == 2) << i;
    }
}

// --- Thumbnails ---

TEST(CardIdentification, ThumbnailDifferenceIsTheMeanAbsoluteDifference) {
    // The thumbnails' values themselves are pinned with the test pictures' hashes.
    EXPECT_FALSE(KVVision::thumbnail(KVImage{}));
    const auto frame = KVVision::thumbnail(KVTexturedImage(480, 270, 5));
    ASSERT_TRUE(frame);
    EXPECT_EQ(KVVision::thumbnailDifference(frame, frame), 0.0f);

    // Half the values 3 higher, half 1 lower: 2 on average, whatever the signs.
    std::vector<float> a(1296, 100.0f);
    std::vector<float> b = a;
    std::fill(b.begin(), b.begin() + 648, 103.0f);
    std::fill(b.begin() + 648, b.end(), 99.0f);
    EXPECT_FLOAT_EQ(KVVision::thumbnailDifference(a, b), 2.0f);
    EXPECT_FLOAT_EQ(KVVision::thumbnailDifference(b, a), 2.0f);

    // No frame, or one of another size, is as different as can be.
    EXPECT_EQ(KVVision::thumbnailDifference(std::nullopt, frame), 1e9f);
    const std::vector<float> shorter(1295, 100.0f);
    EXPECT_EQ(KVVision::thumbnailDifference(shorter, shorter), 1e9f);
}

// --- Layouts ---

TEST(CardIdentification, LayoutsAreTheSameWithinLessThan0004) {
    std::vector<KVNormRect> a = layout(15);
    a[3] = {0, 0, 0, 0};
    a[7] = {0.5, 0.5, 0.5, 0.5};
    EXPECT_TRUE(KVVision::sameLayout(a, a));
    // 0.504 − 0.5 is a hair above 0.004 in doubles; from 0, the difference is exactly 0.004.
    const std::tuple<size_t, double, bool> moves[] = {{7, 0.5039, true},
                                                      {7, 0.504, false},
                                                      {7, 0.496, false},
                                                      {3, 0.004, false},
                                                      {3, 0.0039, true}};
    for (double KVNormRect::*const field :
         {&KVNormRect::x, &KVNormRect::y, &KVNormRect::width, &KVNormRect::height}) {
        for (const auto& [slot, value, same] : moves) {
            std::vector<KVNormRect> b = a;
            b[slot].*field = value;
            EXPECT_EQ(KVVision::sameLayout(a, b), same) << slot << " at " << value;
            EXPECT_EQ(KVVision::sameLayout(b, a), same) << slot << " at " << value;
        }
    }

    std::vector<KVNormRect> fewer = a;
    fewer.pop_back();
    EXPECT_FALSE(KVVision::sameLayout(a, fewer));
    EXPECT_FALSE(KVVision::sameLayout(fewer, a));
    EXPECT_TRUE(KVVision::sameLayout({}, {}));
    EXPECT_FALSE(KVVision::sameLayout({}, layout(1)));
}

} // namespace
