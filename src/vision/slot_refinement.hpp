#pragma once

#include "base/image.hpp"

#include <algorithm>

#include <cstdint>
#include <string>
#include <vector>

// A pack's block of card rectangles in screenshot pixels (continuous coordinates, origin at the
// top-left corner of the top-left pixel): every card the same size, card i at column i % perRow
// and row i / perRow.
struct KVSlotBlock {
    std::vector<double> lefts; // per block column
    std::vector<double> tops;  // per block row
    double cardWidth = 0;
    double cardHeight = 0;
    int64_t cards = 0;
    // The card width was read off one chain's lanes, not the spacing of all edges: trusted only
    // where the cards' borders confirm it.
    bool widthFromChain = false;

    int perRow() const { return static_cast<int>(lefts.size()); }
};

// Moves the block's edges onto the cards' outer edges. The edge-count reading stops at the
// strongest step, which is the frame inside a card's flat dark border; the border itself meets
// the backdrop with a weak step. For each side, the screenshot's gray values are pooled over
// every card of the block along lines parallel to that side, from a little inside the found edge
// to well outside it: the frame-to-border drop is located, and past it the first place where the
// pooled values stop looking like the border. The same correction applies to every card, so one
// card's art or a neighbour cannot pull one edge. The height follows from the width (63 : 88).
// A side without clear evidence keeps its edge. `debug`, when not null, gets one line.
KVSlotBlock KVRefineSlotBlock(const KVImage& image, const KVSlotBlock& block, std::string* debug);

// How much of the block the cards' borders outline: whether a border was found at all, in how
// many block columns the frame-to-border drop was read on the left and on the right, and in how
// many block rows on the top.
struct KVSlotBorderEvidence {
    bool border = false;
    int columns = 0;
    int rows = 0;
    int framedLefts = 0;
    int framedRights = 0;
    int framedTops = 0;

    // Every column framed on both sides but for one, and a row's top framed (a lower row's top
    // may lie in the shadow of the row above).
    bool outlinesEveryCard() const {
        return border && framedLefts >= columns - 1 && framedRights >= columns - 1 &&
               framedTops >= std::max(1, rows - 1);
    }
};
KVSlotBlock KVRefineSlotBlock(const KVImage& image, const KVSlotBlock& block, std::string* debug,
                              KVSlotBorderEvidence* evidence);
