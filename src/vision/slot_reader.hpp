#pragma once

// The detector's first reading, shared by its stages (internal to slot detection): the working
// image's edges and profiles (slot_edges.cpp), candidate widths, chains of left edges and the
// readings they give (slot_chains.cpp), the rows of cards along a chain (slot_rows.cpp), the grid
// laid over them and its block (slot_grid.cpp). Everything happens on a "working image": the
// screenshot stretched to 960 columns.

#include "base/environment.hpp"
#include "vision/slot_geometry.hpp"
#include "vision/slot_refinement.hpp"

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace kv_slots {

constexpr int kWorkWidth = 960;
constexpr int kGradientColumns = kWorkWidth - 1; // 959 horizontal differences per row
constexpr int kMinWidth = 43;                    // card widths the spacing of edges may suggest
constexpr int kMaxWidth = 172;
constexpr size_t kMaxWidthCandidates = 9;
constexpr size_t kMaxOwnWidths = 12; // widths read off chains whose pitch is about their width
constexpr double kOwnWidthMarginLead = 0.05; // how much more such a width's block must stand out
constexpr double kMaxMiddleEdge = 0.85;      // a card's middle against its left edges, at most
constexpr size_t kMaxChains = 3;
constexpr size_t kMaxChainLength = 64;
constexpr int64_t kMaxExpected = 64;
constexpr int kFirstColumnLimit = 336; // 35 % of the working width
constexpr double kCardAspect = 88.0 / 63.0;
constexpr double kMaxColumnPitch = 1.35; // card widths from one left edge to the next
// No card of a width the detector reads is 0.11 of a window taller than this: past it, nothing
// can be found and the working buffers would only grow.
constexpr int kWidestCandidate = 173; // the widest odd width the pair distances give
constexpr double kMaxWorkHeight = kWidestCandidate * kCardAspect / 0.11;

inline int roundHalfAway(double value) {
    return static_cast<int>(std::lround(value));
}

// The debug lines: kept in a string when the caller asks for them, written to standard error when
// KORVANE_VISION_DEBUG is set, not formatted at all otherwise.
class DebugLines {
public:
    explicit DebugLines(std::string* sink)
        : sink_(sink), toStandardError_(!sink && KVEnvironment::current()->visionDebug) {}
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;
    ~DebugLines() {
        if (toStandardError_ && !text_.empty()) {
            std::fputs(text_.c_str(), stderr);
        }
    }

    bool enabled() const { return sink_ || toStandardError_; }

    __attribute__((format(printf, 2, 3))) void say(const char* format, ...) {
        if (!enabled()) {
            return;
        }
        std::array<char, 512> line{};
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(line.data(), line.size(), format, arguments);
        va_end(arguments);
        (sink_ ? *sink_ : text_) += line.data();
    }

private:
    std::string* sink_;
    bool toStandardError_;
    std::string text_;
};

struct Band {
    int start = 0;
    int end = 0; // one past the last row
};

// A pack layout read from one chain: the cards' rectangles in region coordinates.
struct Reading {
    double margin = 0;
    std::vector<int> lefts;
    std::vector<int> tops;
    int cardWidth = 0;
    int cardHeight = 0;
    int perRow = 0;
    bool widthFromChain = false;
};

struct Chain {
    std::vector<int> positions;
    double score = 0;
};

// A block of cards found on a grid laid over one band of rows.
struct GridFit {
    KVSlotGeometry::Block block;
    std::vector<int> columns; // the grid's left edges
    std::vector<int> rows;    // the grid's top edges
    int rowPitch = 0;
    int bandHeight = 0;
};

// The working image's edges and their running counts, and the reading of chains against them.
class SlotReader {
public:
    SlotReader(std::vector<float> gray, int height, int64_t expected, DebugLines& debug)
        : gray_(std::move(gray)), h_(height), expected_(expected), debug_(debug) {
        top_ = static_cast<int>(0.1 * h_);
        n_ = static_cast<int>(0.96 * h_) - top_;
    }

    // The best blocks' cards in the screenshot's pixels, before refinement, best first: a
    // reading at a width read off a chain, then the listed widths' best, when there are both.
    std::vector<KVSlotBlock> detect(const KVImage& image);

private:
    uint8_t gx(int r, int x) const { return gx_[static_cast<size_t>(r) * kGradientColumns + x]; }
    uint8_t gy(int r, int x) const { return gy_[static_cast<size_t>(r) * kWorkWidth + x]; }
    int32_t a(int r, int x) const { return a_[static_cast<size_t>(r) * kGradientColumns + x]; }
    int32_t b(int r, int x) const { return b_[static_cast<size_t>(r) * (kWorkWidth + 1) + x]; }

    // False when the region has no edge pixel at all: then no cell can be outlined.
    bool computeEdges();
    std::vector<Chain> chainsFor(int width, const std::vector<int>& peaks) const;
    std::optional<Reading> readCards(int width, const Chain& chain) const;
    static int chainPitch(const std::vector<int>& positions);
    std::vector<int> chainCardWidths(const std::vector<int>& positions, int pitch) const;
    std::optional<GridFit> fitGrid(int width, double idealH, int colPitch,
                                   const std::vector<int>& positions,
                                   const std::vector<Band>& bands) const;
    std::optional<Reading> refine(const GridFit& fit, int width, int colPitch) const;
    std::vector<Band> rowBands(int width, double idealH, const std::vector<int>& chain) const;
    double cellScore(int x, int y, int width, int bandHeight) const;
    std::vector<float> blockColumnProfile(int fromRow, int toRow) const;
    std::vector<float> blockRowProfile(int fromColumn, int toColumn) const;

    std::vector<float> gray_;
    int h_;
    int64_t expected_;
    DebugLines& debug_;
    int top_ = 0;
    int n_ = 0;

    // Gradients of whole gray values are whole numbers 0…255: bytes hold them exactly.
    std::vector<uint8_t> gx_; // n × 959
    std::vector<uint8_t> gy_; // (n − 1) × 960
    std::vector<int32_t> a_;  // (n + 1) × 959: column-wise running counts of vertical edges
    std::vector<int32_t> b_;  // (n − 1) × 961: row-wise running counts of horizontal edges
    // Column-wise running sums of gx ((n + 1) × 959) and row-wise running sums of gy
    // ((n − 1) × 961): the block profiles as differences, exact in integers.
    std::vector<int32_t> gxColumnSums_;
    std::vector<int32_t> gyRowSums_;
    std::vector<float> profile_; // mean of gx over the region, per column
};

// The 88th percentile of a 959-value profile: the peaks' threshold.
float percentile88(const std::vector<float>& profile);

} // namespace kv_slots
