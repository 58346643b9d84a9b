#pragma once

#include "base/image.hpp"
#include "draft/card.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Synthetic screenshots of Arena's window for the vision tests and benchmarks: the draft screen
// with its pack laid out as Arena lays it out, and screens that show cards but no pack. Every
// picture is a function of its arguments alone: the same pixels on every machine.

// One draft screen. The pack is a block of equal cards at the top left: rows of `perRow` filled
// left to right, row by row, the last row possibly short.
struct KVArenaScreenSpec {
    int width = 1920, height = 1080; // window size in pixels
    int cards = 15;                  // cards in the pack
    int perRow = 8;                  // cards per row, up to 8 (Arena's rows)
    double cardHeight = 0.30;        // card height as a fraction of the window height
    double columnPitch = 1.06;       // distance between card left edges, × card width
    double rowPitch = 1.08;          // distance between row tops, × card height
    double left = 0.04, top = 0.14;  // the block's top-left corner, fractions of the window
    uint32_t seed = 1;               // background, panels and synthetic card faces
    int jpegQuality = 0;             // > 0: the finished screen goes through JPEG at this quality
    // Optional card images (e.g. 488 × 680) drawn into the slots, slot i taking
    // cardImages[i % size]; synthetic faces when empty.
    std::vector<KVImage> cardImages;
    double sidePanel = 0.21; // width of the picked-cards list on the right, × window width
};

// Where Arena puts the pack in a 16:9 window: card size (× window height), spacing (× card width
// and height), the block's corner and the width of the picks list beside it, spread over what
// different window sizes and settings show. Shared by the tests and the studies so that both read
// the same screens.
struct KVArenaLayout {
    double cardHeight, columnPitch, rowPitch, left, top, sidePanel;

    void applyTo(KVArenaScreenSpec& spec) const {
        spec.cardHeight = cardHeight;
        spec.columnPitch = columnPitch;
        spec.rowPitch = rowPitch;
        spec.left = left;
        spec.top = top;
        spec.sidePanel = sidePanel;
    }
};
inline constexpr std::array<KVArenaLayout, 8> kKVArenaLayouts{{
    {0.22, 1.05, 1.08, 0.04, 0.14, 0.21},
    {0.20, 1.10, 1.12, 0.05, 0.16, 0.22},
    {0.18, 1.20, 1.15, 0.06, 0.12, 0.20},
    {0.21, 1.03, 1.05, 0.03, 0.20, 0.24},
    {0.16, 1.30, 1.25, 0.08, 0.22, 0.18},
    {0.225, 1.02, 1.04, 0.05, 0.11, 0.19},
    {0.19, 1.08, 1.30, 0.10, 0.18, 0.21},
    {0.17, 1.15, 1.10, 0.15, 0.13, 0.20},
}};

struct KVArenaScreen {
    KVImage image;
    // Truth: each card's rectangle normalised to the window, in reading order.
    std::vector<KVNormRect> slots;
};

// The draft screen so described. Card positions are kept to the sub-pixel, as a scaled window
// shows them; the truth rectangles are the cards' outer edges, black border included.
KVArenaScreen KVRenderArenaScreen(const KVArenaScreenSpec& spec);

// The truth rectangles of the draft screen so described, without painting it.
std::vector<KVNormRect> KVArenaScreenSlots(const KVArenaScreenSpec& spec);

// Why the pack's layout falls outside the layouts the pack reader is built for (card height
// 0.11…0.38 of the window, column pitch 1…1.35 card widths, row pitch at most 1.35 card heights,
// the first column within 35 % of the width, the first row below the top tenth and in the top
// quarter, the block above the bottom 4 %, at most 4 rows, clear of the side panel); empty when
// it fits.
std::string KVArenaLayoutProblem(const KVArenaScreenSpec& spec);

// Arena's home screen: background, header, large tiles and buttons, no pack.
KVImage KVRenderMenuScreen(int width, int height, uint32_t seed);

// The deck builder: a grid of many small cards (about 0.085 of the window high, rows of 8 to
// 10) beside a deck list. Equal, evenly spaced cards, but no pack.
KVImage KVRenderCollectionScreen(int width, int height, uint32_t seed);

// A synthetic card image as an image host serves one (e.g. 488 × 680): the face that the draft
// screen draws for `seed`, with transparent rounded corners.
KVImage KVRenderCardFace(int width, int height, uint32_t seed);

// A few card images as an image host serves them (488 × 680), for screens that draw real images
// scaled into the slots rather than the vector faces.
const std::vector<KVImage>& KVHostedCardFaces();

// The draft screens the tests read: every pack size Arena deals (rows of 8: 8 + 7, 8 + 6, 8 + 5,
// 8) at 1280 × 720, 1920 × 1080, 2560 × 1440 and 3840 × 2160, each in several of kKVArenaLayouts,
// most through JPEG as a compressed capture would be. 52 screens.
std::vector<KVArenaScreenSpec> KVArenaAcceptanceScreens();

// One line naming everything a screen is drawn from.
std::string KVDescribeArenaScreen(const KVArenaScreenSpec& spec);

struct KVNamedScreen {
    std::string name;
    KVImage image;
};

// Screens with cards but no pack, named by kind, size and seed: the menu, three collections and
// the draft screen between two picks (panels and picks, the pack not dealt yet) at the three
// smaller sizes, and the menu at 3840 × 2160.
std::vector<KVNamedScreen> KVScreensWithoutAPack();

// An opaque image of one colour.
KVImage KVUniformImage(int width, int height, uint8_t r, uint8_t g, uint8_t b);
