#pragma once

#include "base/image.hpp"
#include "draft/card.hpp"
#include "vision/candidate.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One move shared by every slot of a pack before its art is hashed: each slot shifted by dx of
// its width and dy of its height, and scaled about its centre. The identity changes nothing.
struct KVSlotTransform {
    double dx = 0;
    double dy = 0;
    double scale = 1;

    bool operator==(const KVSlotTransform&) const = default;
    KVNormRect apply(const KVNormRect& slot) const;
};

// What identification made of a pack.
struct KVPackIdentification {
    std::vector<KVSlotMatch> matches; // one per slot, in slot order, normRect moved by transform
    KVSlotTransform transform;        // the hint, or what the search found
    bool searched = false;            // the transform was searched (no hint was given)
    bool notAPack = false;            // most slots match no card: every match is "none"
};

// Reading the pack off a screenshot of Arena's window: where its cards are, and which cards
// they are. Stateless; every operation is safe on any thread.
class KVVision {
public:
    // The rectangles of the pack's `expected` cards, normalised to the image (origin top-left),
    // in reading order: slot i lies in block row i / k and column i % k of a block k cards wide.
    // None when no pack layout is found (the caller's "no pack on screen"). Found from gray-level
    // edges alone: equal card images of aspect 63 : 88, evenly spaced, rows from near the top.
    // With KORVANE_VISION_DEBUG set, says on standard error why each layout was rejected.
    static std::optional<std::vector<KVNormRect>> detectSlots(const KVImage& image,
                                                              int64_t expected);
    // The same, with the rejection lines appended to `debug` (when not null) instead: for the
    // reports and tests that show why a screen was not read.
    static std::optional<std::vector<KVNormRect>> detectSlots(const KVImage& image,
                                                              int64_t expected, std::string* debug);

    // One match per slot, in slot order: each slot's art hash assigned one-to-one to the
    // candidates by hash distance ("phash" when the art alone says so, "deduced" when it was
    // left over or only weakly matched, "none" when the slot could not be hashed or no card was
    // left for it).
    static std::vector<KVSlotMatch> identifyPack(const KVImage& image,
                                                 const std::vector<KVNormRect>& slots,
                                                 const std::vector<KVCandidate>& candidates);

    // identifyPack as the vision loop runs it. Without a hint (a new layout), a small common
    // shift and scale of every slot is searched, coarse to fine, for the least summed distance of
    // each slot to its nearest candidate; it is kept only when it lowers that sum clearly. With a
    // hint (the transform handed back for this layout before), the hint is used as it is, so a
    // steady pack pays the search once. The same move for all slots: moving slots one by one
    // would make wrong cards look close. A slot is "phash" only when its card also leads the
    // runner-up clearly (confidence 0.5 or more), "deduced" otherwise: against a whole set some
    // wrong card nearly always lies within the art limit. When fewer than half of the slots are
    // "phash", the layout is no pack (a collection, a menu, cards not in the set): every match
    // "none".
    static KVPackIdentification identifyPack(const KVImage& image,
                                             const std::vector<KVNormRect>& slots,
                                             const std::vector<KVCandidate>& candidates,
                                             const std::optional<KVSlotTransform>& hint,
                                             std::string* debug = nullptr);

    // Each slot's art hash: the slot cropped from the image and its art box hashed; none for a
    // slot under 20 pixels, off the image or too flat to hash.
    static std::vector<std::optional<KVArtHash>> hashSlots(const KVImage& image,
                                                           const std::vector<KVNormRect>& slots);

    // identifyPack after the slots are hashed: slotHashes[i] is slot i's art hash (none when it
    // could not be hashed). Greedy on distances up to 118, the rest by elimination, then
    // pairwise exchanges while one lowers the summed distance.
    static std::vector<KVSlotMatch>
    assignCards(const std::vector<std::optional<KVArtHash>>& slotHashes,
                const std::vector<KVNormRect>& slots, const std::vector<KVCandidate>& candidates);

    // The whole frame stretched to 48 × 27 gray values (0…255), rows top first; none for an
    // unusable image. Two frames whose thumbnails hardly differ need no new detection.
    static std::optional<std::vector<float>> thumbnail(const KVImage& image);

    // Mean absolute difference of two thumbnails' values (0…255); 1e9 when either is missing or
    // not a thumbnail.
    static float thumbnailDifference(const std::optional<std::vector<float>>& a,
                                     const std::optional<std::vector<float>>& b);

    // Whether two slot layouts are the same: equal counts and every coordinate within 0.004.
    static bool sameLayout(const std::vector<KVNormRect>& a, const std::vector<KVNormRect>& b);

    // Up to this many differing bits of 256, the art alone names the card.
    static constexpr int kArtMatchLimit = 118;
    static constexpr int kThumbnailWidth = 48;
    static constexpr int kThumbnailHeight = 27;
};
