// Finding the pack's card rectangles on a screenshot from gray-level edges alone.
//
// Everything happens on a "working image": the screenshot stretched to 960 columns. Strong
// vertical edges give candidate card widths and chains of evenly spaced left edges; for each chain
// the rows of cards are found as bands of edge response along its lanes, a grid of cells is laid
// over them, and the pack is the block of cells whose four sides are most clearly outlined by
// edges. The best block over all widths and chains wins, after its edges are snapped to the
// strongest response.
#include "vision/vision.hpp"

#include "vision/gray_pixels.hpp"
#include "vision/slot_reader.hpp"
#include "vision/slot_refinement.hpp"

#include <algorithm>
#include <new>

using namespace kv_slots;

std::optional<std::vector<KVNormRect>> KVVision::detectSlots(const KVImage& image, int64_t expected,
                                                             std::string* debug) {
    if (image.empty() || expected < 2 || image.height < 240 || image.width < 320) {
        return std::nullopt;
    }
    const int height =
        std::max(1, roundHalfAway(image.height * (static_cast<double>(kWorkWidth) / image.width)));
    if (height > kMaxWorkHeight) {
        return std::nullopt;
    }
    try {
        std::optional<std::vector<float>> gray = KVGrayPixels(image, kWorkWidth, height);
        if (!gray) {
            return std::nullopt;
        }
        DebugLines lines(debug);
        SlotReader reader(std::move(*gray), height, expected, lines);
        for (const KVSlotBlock& found : reader.detect(image)) {
            std::string refinement;
            KVSlotBorderEvidence evidence;
            const KVSlotBlock block =
                KVRefineSlotBlock(image, found, lines.enabled() ? &refinement : nullptr, &evidence);
            lines.say("%s", refinement.c_str());
            // Every card in a pack is drawn with its border: a block where none shows, pooled
            // over all its cards' sides, lies across the cards rather than on them.
            if (!evidence.border) {
                lines.say("[vision] no card border outlines the block: not taken\n");
                continue;
            }
            if (found.widthFromChain && !evidence.outlinesEveryCard()) {
                lines.say("[vision] the width read off a chain is not outlined by card borders\n");
                continue;
            }
            std::vector<KVNormRect> slots;
            slots.reserve(static_cast<size_t>(expected));
            const double w = image.width;
            const double h = image.height;
            for (int64_t i = 0; i < expected; ++i) {
                slots.push_back({block.lefts[static_cast<size_t>(i % block.perRow())] / w,
                                 block.tops[static_cast<size_t>(i / block.perRow())] / h,
                                 block.cardWidth / w, block.cardHeight / h});
            }
            return slots;
        }
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::vector<KVNormRect>> KVVision::detectSlots(const KVImage& image,
                                                             int64_t expected) {
    return detectSlots(image, expected, nullptr);
}
