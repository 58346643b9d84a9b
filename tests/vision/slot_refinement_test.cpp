#include "vision/slot_refinement.hpp"

#include "draft_screen/arena_screen.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

// The faults a first reading leaves, each undone: edges at the frame inside the border, a pitch
// off by a fraction of a pixel that grows along the row, the whole block shifted; a block already
// on the cards stays there. Every edge must end within 1.5 % of the card's width of the truth.
TEST(SlotRefinement, MovesTheBlockOntoTheCardsOuterEdges) {
    struct Case {
        const char* what;
        int width, height, cards;
        KVArenaLayout layout;
        double inset;     // right and top edges pulled in, × card width (a frame edge is 0.042)
        double pitchSkew; // px added per column
        double shift;     // px added to every left and top
        double rowLift;   // × card width taken off each lower row's top, per row
        uint32_t seed = 90;
    };
    const std::vector<Case> cases = {
        {"on the cards", 1920, 1080, 15, kKVArenaLayouts[0], 0, 0, 0, 0},
        {"at the frame", 1920, 1080, 15, kKVArenaLayouts[0], 0.042, 0, 0, 0},
        {"pitch off", 1280, 720, 14, kKVArenaLayouts[2], 0.03, 0.7, 0, 0},
        {"shifted out", 2560, 1440, 8, kKVArenaLayouts[1], 0, 0, -3, 0},
        {"narrow gaps", 1920, 1080, 13, kKVArenaLayouts[5], 0.04, -0.5, 1, 0},
        // The lower row's top lies in the upper row's shadow and was read high by more than a
        // border's width: only the cards' print places it.
        {"lower row high", 1920, 1080, 14, kKVArenaLayouts[0], 0, 0, 0, 0.055},
        // Small cards whose shadows fill the gaps on their right: only their lefts and tops show
        // where the border ends.
        {"shadowed gaps", 1280, 720, 15, kKVArenaLayouts[7], 0.042, 0, 0, 0, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KVArenaScreenSpec spec;
        spec.width = c.width;
        spec.height = c.height;
        spec.cards = c.cards;
        c.layout.applyTo(spec);
        spec.seed = c.seed;
        spec.jpegQuality = 85;
        const KVArenaScreen screen = KVRenderArenaScreen(spec);
        KVSlotBlock truth; // the renderer's, in pixels
        truth.cards = spec.cards;
        for (int c = 0; c < spec.perRow && c < spec.cards; ++c) {
            truth.lefts.push_back(screen.slots[static_cast<size_t>(c)].x * spec.width);
        }
        for (int i = 0; i < spec.cards; i += spec.perRow) {
            truth.tops.push_back(screen.slots[static_cast<size_t>(i)].y * spec.height);
        }
        truth.cardWidth = screen.slots.front().width * spec.width;
        truth.cardHeight = screen.slots.front().height * spec.height;
        KVSlotBlock found = truth;
        const double w = truth.cardWidth;
        for (size_t col = 0; col < found.lefts.size(); ++col) {
            found.lefts[col] += c.shift + c.pitchSkew * static_cast<double>(col);
        }
        for (size_t row = 0; row < found.tops.size(); ++row) {
            found.tops[row] += c.shift + c.inset * w - c.rowLift * w * static_cast<double>(row);
        }
        found.cardWidth -= c.inset * w;
        found.cardHeight = found.cardWidth * 88.0 / 63.0;

        std::string debug;
        const KVSlotBlock refined = KVRefineSlotBlock(screen.image, found, &debug);
        SCOPED_TRACE(debug);
        ASSERT_EQ(refined.lefts.size(), truth.lefts.size());
        ASSERT_EQ(refined.tops.size(), truth.tops.size());
        const double tolerance = 0.015 * w;
        for (size_t col = 0; col < truth.lefts.size(); ++col) {
            EXPECT_NEAR(refined.lefts[col], truth.lefts[col], tolerance) << col;
            EXPECT_NEAR(refined.lefts[col] + refined.cardWidth, truth.lefts[col] + truth.cardWidth,
                        tolerance)
                << col;
        }
        for (size_t row = 0; row < truth.tops.size(); ++row) {
            EXPECT_NEAR(refined.tops[row], truth.tops[row], tolerance) << row;
            EXPECT_NEAR(refined.tops[row] + refined.cardHeight, truth.tops[row] + truth.cardHeight,
                        tolerance)
                << row;
        }
    }
}

// Where there is no card, nothing moves: a uniform frame has no frame edge to find.
TEST(SlotRefinement, KeepsTheBlockWithoutACardBorder) {
    const KVImage frame = KVUniformImage(1280, 720, 40, 40, 40);
    const KVSlotBlock block{
        .lefts = {100, 220, 340}, .tops = {120}, .cardWidth = 110, .cardHeight = 154, .cards = 3};
    std::string debug;
    const KVSlotBlock refined = KVRefineSlotBlock(frame, block, &debug);
    EXPECT_EQ(refined.lefts, block.lefts);
    EXPECT_EQ(refined.tops, block.tops);
    EXPECT_EQ(refined.cardWidth, block.cardWidth);
    EXPECT_NE(debug.find("no clear card border"), std::string::npos) << debug;
}
