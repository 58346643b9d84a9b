// Finding the pack's card rectangles on a screenshot from gray-level edges alone.
//
// Everything happens on a "working image": the screenshot stretched to 960 columns. Strong
// vertical edges give candidate card widths and chains of evenly spaced left edges; for each chain
// the rows of cards are found as bands of edge response along its lanes, a grid of cells is laid
// over them, and the pack is the block of cells whose four sides are most clearly outlined by
// edges. The best block over all widths and chains wins, after its edges are snapped to the
// strongest response.
#include "vision/vision.hpp"

#include "base/environment.hpp"
#include "vision/gray_pixels.hpp"
#include "vision/slot_geometry.hpp"
#include "vision/slot_refinement.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <new>

namespace {

constexpr int kWorkWidth = 960;
constexpr int kGradientColumns = kWorkWidth - 1; // 959 horizontal differences per row
constexpr int kMinWidth = 43;                    // card widths the spacing of edges may suggest
constexpr int kMaxWidth = 172;
constexpr size_t kMaxWidthCandidates = 9;
constexpr size_t kMaxChains = 3;
constexpr size_t kMaxChainLength = 64;
constexpr int64_t kMaxExpected = 64;
constexpr int kFirstColumnLimit = 336; // 35 % of the working width
constexpr double kCardAspect = 88.0 / 63.0;
// No card of a width the detector reads is 0.11 of a window taller than this: past it, nothing
// can be found and the working buffers would only grow.
constexpr int kWidestCandidate = 173; // the widest odd width the pair distances give
constexpr double kMaxWorkHeight = kWidestCandidate * kCardAspect / 0.11;

int roundHalfAway(double value) {
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

    // The best block's cards in the screenshot's pixels, before refinement.
    std::optional<KVSlotBlock> detect(const KVImage& image);

private:
    uint8_t gx(int r, int x) const { return gx_[static_cast<size_t>(r) * kGradientColumns + x]; }
    uint8_t gy(int r, int x) const { return gy_[static_cast<size_t>(r) * kWorkWidth + x]; }
    int32_t a(int r, int x) const { return a_[static_cast<size_t>(r) * kGradientColumns + x]; }
    int32_t b(int r, int x) const { return b_[static_cast<size_t>(r) * (kWorkWidth + 1) + x]; }

    // False when the region has no edge pixel at all: then no cell can be outlined.
    bool computeEdges();
    std::vector<Chain> chainsFor(int width, const std::vector<int>& peaks) const;
    std::optional<Reading> readCards(int width, const Chain& chain) const;
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

bool SlotReader::computeEdges() {
    const auto row = [this](int r) {
        return gray_.data() + static_cast<size_t>(top_ + r) * kWorkWidth;
    };
    gx_.resize(static_cast<size_t>(n_) * kGradientColumns);
    gy_.resize(static_cast<size_t>(n_ - 1) * kWorkWidth);
    std::array<uint32_t, 256> gxCounts{};
    std::array<uint32_t, 256> gyCounts{};
    for (int r = 0; r < n_; ++r) {
        const float* g = row(r);
        uint8_t* out = gx_.data() + static_cast<size_t>(r) * kGradientColumns;
        for (int x = 0; x < kGradientColumns; ++x) {
            out[x] = static_cast<uint8_t>(std::fabs(g[x + 1] - g[x]));
            ++gxCounts[out[x]];
        }
        if (r + 1 < n_) {
            const float* below = row(r + 1);
            uint8_t* down = gy_.data() + static_cast<size_t>(r) * kWorkWidth;
            for (int x = 0; x < kWorkWidth; ++x) {
                down[x] = static_cast<uint8_t>(std::fabs(below[x] - g[x]));
                ++gyCounts[down[x]];
            }
        }
    }
    // Edge pixels: above the 75th percentile of their gradient.
    const float tx = KVSlotGeometry::percentileOfCounts(gxCounts, 75.0);
    const float ty = KVSlotGeometry::percentileOfCounts(gyCounts, 75.0);
    // A whole gradient lies above the percentile exactly when it reaches the next whole number.
    const int edgeX = static_cast<int>(tx) + 1;
    const int edgeY = static_cast<int>(ty) + 1;
    const auto strongest = [](const std::array<uint32_t, 256>& counts) {
        int value = 255;
        while (value > 0 && counts[value] == 0) {
            --value;
        }
        return value;
    };
    if (strongest(gxCounts) < edgeX && strongest(gyCounts) < edgeY) {
        return false;
    }

    a_.assign(static_cast<size_t>(n_ + 1) * kGradientColumns, 0);
    gxColumnSums_.assign(static_cast<size_t>(n_ + 1) * kGradientColumns, 0);
    for (int r = 0; r < n_; ++r) {
        const uint8_t* g = gx_.data() + static_cast<size_t>(r) * kGradientColumns;
        const int32_t* above = a_.data() + static_cast<size_t>(r) * kGradientColumns;
        int32_t* next = a_.data() + static_cast<size_t>(r + 1) * kGradientColumns;
        const int32_t* sumAbove = gxColumnSums_.data() + static_cast<size_t>(r) * kGradientColumns;
        int32_t* sumNext = gxColumnSums_.data() + static_cast<size_t>(r + 1) * kGradientColumns;
        for (int x = 0; x < kGradientColumns; ++x) {
            const bool edge = g[x] >= edgeX || (x > 0 && g[x - 1] >= edgeX) ||
                              (x + 1 < kGradientColumns && g[x + 1] >= edgeX);
            next[x] = above[x] + (edge ? 1 : 0);
            sumNext[x] = sumAbove[x] + g[x];
        }
    }

    const int gyRows = n_ - 1;
    b_.assign(static_cast<size_t>(gyRows) * (kWorkWidth + 1), 0);
    gyRowSums_.assign(static_cast<size_t>(gyRows) * (kWorkWidth + 1), 0);
    for (int r = 0; r < gyRows; ++r) {
        int32_t* counts = b_.data() + static_cast<size_t>(r) * (kWorkWidth + 1);
        int32_t* sums = gyRowSums_.data() + static_cast<size_t>(r) * (kWorkWidth + 1);
        for (int x = 0; x < kWorkWidth; ++x) {
            const bool edge = gy(r, x) >= edgeY || (r > 0 && gy(r - 1, x) >= edgeY) ||
                              (r + 1 < gyRows && gy(r + 1, x) >= edgeY);
            counts[x + 1] = counts[x] + (edge ? 1 : 0);
            sums[x + 1] = sums[x] + gy(r, x);
        }
    }

    profile_.resize(kGradientColumns);
    const int32_t* totals = gxColumnSums_.data() + static_cast<size_t>(n_) * kGradientColumns;
    for (int x = 0; x < kGradientColumns; ++x) {
        profile_[x] = static_cast<float>(static_cast<double>(totals[x]) / n_);
    }
    return true;
}

// The 88th percentile of a 959-value profile: the peaks' threshold.
float percentile88(const std::vector<float>& profile) {
    std::vector<float> sorted = profile;
    std::sort(sorted.begin(), sorted.end());
    return static_cast<float>(sorted[843] + static_cast<double>(sorted[844] - sorted[843]) * 0.04);
}

std::optional<KVSlotBlock> SlotReader::detect(const KVImage& image) {
    if (n_ < 40) {
        return std::nullopt;
    }
    if (!computeEdges()) {
        return std::nullopt;
    }
    const std::vector<int> peaksA = KVSlotGeometry::peaks(profile_, percentile88(profile_));
    debug_.say("[vision] work=%dx%d region=%d peaks=%d\n", kWorkWidth, h_, n_,
               static_cast<int>(peaksA.size()));
    if (peaksA.size() < 2) {
        return std::nullopt;
    }
    // The top part alone: a short pack's edges are not drowned by what lies below it.
    const int topRows = static_cast<int>(0.4 * n_);
    std::vector<float> topProfile(kGradientColumns);
    const int32_t* topSums = gxColumnSums_.data() + static_cast<size_t>(topRows) * kGradientColumns;
    for (int x = 0; x < kGradientColumns; ++x) {
        topProfile[x] = static_cast<float>(topSums[x]) / static_cast<float>(topRows);
    }
    const std::vector<int> peaksB = KVSlotGeometry::peaks(topProfile, percentile88(topProfile));

    std::vector<int> widths = KVSlotGeometry::candidateWidths(peaksA);
    for (const int width : KVSlotGeometry::candidateWidths(peaksB)) {
        if (widths.size() >= kMaxWidthCandidates) {
            break;
        }
        if (std::find(widths.begin(), widths.end(), width) == widths.end()) {
            widths.push_back(width);
        }
    }
    if (debug_.enabled()) {
        debug_.say("[vision] width candidates (%d):", static_cast<int>(widths.size()));
        for (const int width : widths) {
            debug_.say(" %d", width);
        }
        debug_.say("  (lo=%d hi=%d)\n", kMinWidth, kMaxWidth);
    }
    if (widths.empty()) {
        return std::nullopt;
    }

    std::optional<Reading> best;
    for (const int width : widths) {
        if (expected_ > kMaxExpected) {
            continue; // no block of that many cards is read at any width
        }
        const std::vector<Chain> chains = chainsFor(width, peaksA);
        for (size_t index = 0; index < chains.size(); ++index) {
            std::optional<Reading> reading = readCards(width, chains[index]);
            debug_.say("[vision] cardW=%d chain=%d len=%d -> %s\n", width, static_cast<int>(index),
                       static_cast<int>(chains[index].positions.size()), reading ? "READ" : "no");
            if (reading && (!best || reading->margin > best->margin)) {
                best = std::move(reading);
            }
        }
    }
    if (!best) {
        return std::nullopt;
    }
    const double sx = image.width / static_cast<double>(kWorkWidth);
    const double sy = image.height / static_cast<double>(h_);
    KVSlotBlock block;
    block.cards = expected_;
    for (const int left : best->lefts) {
        block.lefts.push_back(left * sx);
    }
    for (const int top : best->tops) {
        block.tops.push_back((top + top_) * sy);
    }
    block.cardWidth = best->cardWidth * sx;
    block.cardHeight = best->cardHeight * sy;
    return block;
}

// Runs of card left edges spaced by one column pitch: the three longest (strongest on equal
// length) of all chains that pairs of left edges start.
std::vector<Chain> SlotReader::chainsFor(int width, const std::vector<int>& peaks) const {
    const int tol = std::max(2, width / 12);
    // The peak nearest to `target` within tol (the earlier one on equal distance), or -1.
    const auto nearest = [tol](const std::vector<int>& sorted, int target) {
        const auto above = std::lower_bound(sorted.begin(), sorted.end(), target);
        int found = -1;
        int distance = tol + 1;
        if (above != sorted.begin() && target - *(above - 1) <= tol) {
            found = *(above - 1);
            distance = target - found;
        }
        if (above != sorted.end() && *above - target <= tol && *above - target < distance) {
            found = *above;
        }
        return found;
    };
    // Left edges: peaks with another peak one card width to their right.
    std::vector<int> lefts;
    for (const int p : peaks) {
        if (nearest(peaks, p + width) >= 0) {
            lefts.push_back(p);
        }
    }
    std::vector<Chain> table;
    if (lefts.size() < 2) {
        return table;
    }
    const double maxPitch = 1.35 * width;
    for (size_t i = 0; i < lefts.size(); ++i) {
        for (size_t j = i + 1; j < lefts.size(); ++j) {
            const int pitch = lefts[j] - lefts[i];
            if (pitch > maxPitch) {
                break;
            }
            if (pitch < width) {
                continue;
            }
            Chain chain;
            chain.positions = {lefts[i], lefts[j]};
            while (chain.positions.size() < kMaxChainLength) {
                const int next = nearest(lefts, chain.positions.back() + pitch);
                if (next < 0) {
                    break;
                }
                chain.positions.push_back(next);
            }
            if (std::any_of(table.begin(), table.end(), [&chain](const Chain& other) {
                    return other.positions == chain.positions;
                })) {
                continue;
            }
            double sum = 0;
            for (const int position : chain.positions) {
                sum += profile_[position];
            }
            chain.score = sum / static_cast<double>(chain.positions.size());
            if (table.size() < kMaxChains) {
                table.push_back(std::move(chain));
                continue;
            }
            auto weakest = table.begin();
            for (auto it = table.begin() + 1; it != table.end(); ++it) {
                if (it->positions.size() < weakest->positions.size() ||
                    (it->positions.size() == weakest->positions.size() &&
                     it->score < weakest->score)) {
                    weakest = it;
                }
            }
            if (chain.positions.size() > weakest->positions.size() ||
                (chain.positions.size() == weakest->positions.size() &&
                 chain.score > weakest->score)) {
                *weakest = std::move(chain);
            }
        }
    }
    return table;
}

// Rows of cards: runs of rows where the chain's lanes (its left and right card edges) respond
// strongly, joined across small gaps.
std::vector<Band> SlotReader::rowBands(int width, double idealH,
                                       const std::vector<int>& chain) const {
    std::vector<bool> laneColumns(kGradientColumns, false);
    int lanes = 0;
    const auto addLane = [&](int lane) {
        if (lane >= kGradientColumns) {
            return;
        }
        ++lanes;
        for (int x = std::max(0, lane - 1); x <= std::min(kGradientColumns - 1, lane + 1); ++x) {
            laneColumns[x] = true;
        }
    };
    for (const int u : chain) {
        addLane(u);
        addLane(u + width);
    }
    if (lanes < 2) {
        debug_.say("[vision]   readCards: lanes %d\n", lanes);
        return {};
    }
    std::vector<int> columns;
    for (int x = 0; x < kGradientColumns; ++x) {
        if (laneColumns[x]) {
            columns.push_back(x);
        }
    }
    // Running sums of the per-row lane response, for the moving window.
    std::vector<int64_t> running(static_cast<size_t>(n_) + 1, 0);
    for (int r = 0; r < n_; ++r) {
        int strongest = 0;
        for (const int x : columns) {
            strongest = std::max(strongest, static_cast<int>(gx(r, x)));
        }
        running[r + 1] = running[r] + strongest;
    }
    const int window = std::max(3, static_cast<int>(idealH) / 24);
    const int half = window / 2 + 1;
    std::vector<float> smooth(static_cast<size_t>(n_));
    for (int r = 0; r < n_; ++r) {
        const int from = std::clamp(r + half - window, 0, n_);
        const int to = std::clamp(r + half, 0, n_);
        smooth[r] = static_cast<float>(running[to] - running[from]) / static_cast<float>(window);
    }
    const float threshold = KVSlotGeometry::percentile(smooth, 95.0) * 0.35f;
    if (threshold <= 0) {
        return {};
    }

    constexpr size_t kMaxBands = 64;
    const int minHeight = static_cast<int>(0.35 * idealH);
    std::vector<Band> runs;
    for (int r = 0; r < n_ && runs.size() < kMaxBands;) {
        if (smooth[r] < threshold) {
            ++r;
            continue;
        }
        int end = r;
        while (end < n_ && smooth[end] >= threshold) {
            ++end;
        }
        if (end - r >= minHeight) {
            runs.push_back({r, end});
        }
        r = end;
    }
    const int cardRows = static_cast<int>(idealH);
    const int gapTolerance = std::max(2, static_cast<int>(cardRows * 0.1));
    const double maxJoined = cardRows * 1.35;
    std::vector<Band> bands;
    for (const Band& run : runs) {
        if (!bands.empty() && run.start - bands.back().end <= gapTolerance &&
            run.end - bands.back().start <= maxJoined) {
            bands.back().end = run.end;
        } else {
            bands.push_back(run);
        }
    }
    if (bands.empty()) {
        debug_.say("[vision]   readCards: no row bands\n");
    }
    return bands;
}

// How much of a cell's outline is covered by edge pixels: the mean over its four sides, each
// side's best line within tolE of where it should be.
double SlotReader::cellScore(int x, int y, int width, int bandHeight) const {
    const int tolE = std::max(2, width / 24);
    const int yTop = std::max(0, y + static_cast<int>(0.06 * bandHeight));
    const int yBot = std::min(n_, y + static_cast<int>(0.94 * bandHeight));
    const int xl = std::max(0, x + static_cast<int>(0.06 * width));
    const int xr = std::min(kWorkWidth, x + static_cast<int>(0.94 * width));
    if (yTop >= yBot || xl >= xr) {
        return 0;
    }
    const auto vertical = [&](int edge) {
        int most = 0;
        for (int col = std::max(0, edge - tolE); col < std::min(kGradientColumns, edge + tolE + 1);
             ++col) {
            most = std::max(most, a(yBot, col) - a(yTop, col));
        }
        return static_cast<double>(most) / (yBot - yTop);
    };
    const auto horizontal = [&](int edge) {
        int most = 0;
        for (int r = std::max(0, edge - tolE); r < std::min(n_ - 1, edge + tolE + 1); ++r) {
            most = std::max(most, b(r, xr) - b(r, xl));
        }
        return static_cast<double>(most) / (xr - xl);
    };
    return (vertical(x) + vertical(x + width) + horizontal(y) + horizontal(y + bandHeight)) / 4;
}

// Mean of gx over region rows fromRow … toRow − 1, per column.
std::vector<float> SlotReader::blockColumnProfile(int fromRow, int toRow) const {
    std::vector<float> profile(kGradientColumns, 0.0f);
    if (toRow <= fromRow) {
        return profile;
    }
    const int32_t* upper = gxColumnSums_.data() + static_cast<size_t>(fromRow) * kGradientColumns;
    const int32_t* lower = gxColumnSums_.data() + static_cast<size_t>(toRow) * kGradientColumns;
    for (int x = 0; x < kGradientColumns; ++x) {
        profile[x] = static_cast<float>(lower[x] - upper[x]) / static_cast<float>(toRow - fromRow);
    }
    return profile;
}

// Mean of gy over columns fromColumn … toColumn − 1, per region row (n − 1 rows).
std::vector<float> SlotReader::blockRowProfile(int fromColumn, int toColumn) const {
    std::vector<float> profile(static_cast<size_t>(n_ - 1), 0.0f);
    if (toColumn <= fromColumn) {
        return profile;
    }
    for (int r = 0; r < n_ - 1; ++r) {
        const int32_t* sums = gyRowSums_.data() + static_cast<size_t>(r) * (kWorkWidth + 1);
        profile[r] = static_cast<float>(sums[toColumn] - sums[fromColumn]) /
                     static_cast<float>(toColumn - fromColumn);
    }
    return profile;
}

std::optional<Reading> SlotReader::readCards(int width, const Chain& chain) const {
    const std::vector<int>& positions = chain.positions;
    const double idealH = width * kCardAspect;
    if (idealH < 0.11 * h_ || idealH > 0.38 * h_) {
        debug_.say("[vision]   readCards: idealH %.1f outside [%.1f,%.1f]\n", idealH, 0.11 * h_,
                   0.38 * h_);
        return std::nullopt;
    }
    if (idealH >= n_) {
        debug_.say("[vision]   readCards: idealH %.1f >= region %d\n", idealH, n_);
        return std::nullopt;
    }
    std::vector<int> steps;
    for (size_t i = 1; i < positions.size(); ++i) {
        steps.push_back(positions[i] - positions[i - 1]);
    }
    std::sort(steps.begin(), steps.end());
    const size_t middle = steps.size() / 2;
    const double median =
        steps.size() % 2 == 1 ? steps[middle] : (steps[middle - 1] + steps[middle]) / 2.0;
    const int colPitch = roundHalfAway(median);
    if (colPitch < width) {
        debug_.say("[vision]   readCards: colPitch %d < cardW %d\n", colPitch, width);
        return std::nullopt;
    }
    if (positions.front() > kFirstColumnLimit) {
        debug_.say("[vision]   readCards: first column %d right of %.0f\n", positions.front(),
                   static_cast<double>(kFirstColumnLimit));
        return std::nullopt;
    }

    const std::vector<Band> bands = rowBands(width, idealH, positions);
    if (bands.empty()) {
        return std::nullopt;
    }
    if (debug_.enabled()) {
        debug_.say("[vision]   readCards: cardW=%d idealH=%.1f lefts[0]=%d pitch=%d bands=%d:",
                   width, idealH, positions.front(), colPitch, static_cast<int>(bands.size()));
        for (const Band& band : bands) {
            debug_.say(" [%d..%d]", band.start, band.end);
        }
        debug_.say("  (region rows 0..%d)\n", n_);
    }
    if (bands.front().start + top_ > 0.25 * h_) {
        debug_.say("[vision]   readCards: first band at %d, past PACK_TOP %.0f (bands=%d)\n",
                   bands.front().start + top_, 0.25 * h_, static_cast<int>(bands.size()));
        return std::nullopt;
    }

    const std::optional<GridFit> fit = fitGrid(width, idealH, colPitch, positions, bands);
    if (!fit) {
        return std::nullopt;
    }
    return refine(*fit, width, colPitch);
}

// Lays a grid of cells over each of the first three bands and keeps the block of cards that
// stands out most clearly.
std::optional<GridFit> SlotReader::fitGrid(int width, double idealH, int colPitch,
                                           const std::vector<int>& positions,
                                           const std::vector<Band>& bands) const {
    std::optional<GridFit> fit;
    for (size_t index = 0; index < std::min<size_t>(3, bands.size()); ++index) {
        const Band& band = bands[index];
        const int bandHeight = band.end - band.start;
        if (bandHeight < 0.82 * idealH || bandHeight > 1.18 * idealH) {
            continue;
        }
        int rowPitch = roundHalfAway(bandHeight * 1.1);
        if (index + 1 < bands.size()) {
            const Band& next = bands[index + 1];
            // Bands measure a little less than the cards (their edges respond only where the
            // lanes cross them), so the widest row spacing is judged against the card height
            // the width implies as well.
            if (next.start >= band.end && next.start - band.start <= 1.35 * bandHeight) {
                rowPitch = next.start - band.start;
            }
        }
        if (bandHeight > rowPitch) {
            continue;
        }
        std::vector<int> columns;
        for (int x = positions.front() % colPitch;
             x + width <= kGradientColumns && columns.size() < 128; x += colPitch) {
            columns.push_back(x);
        }
        std::vector<int> rows;
        const int firstRow = bands.front().start - rowPitch / 4;
        for (int y = band.start % rowPitch, count = 0; y + bandHeight <= n_ && count < 64;
             y += rowPitch, ++count) {
            if (y >= firstRow && rows.size() < 16) {
                rows.push_back(y);
            }
        }
        if (columns.empty() || rows.empty() ||
            static_cast<int64_t>(columns.size() * rows.size()) < expected_) {
            continue;
        }
        std::vector<double> scores;
        scores.reserve(rows.size() * columns.size());
        for (const int y : rows) {
            for (const int x : columns) {
                scores.push_back(cellScore(x, y, width, bandHeight));
            }
        }
        const std::optional<KVSlotGeometry::Block> block = KVSlotGeometry::fitBlock(
            scores, static_cast<int>(rows.size()), static_cast<int>(columns.size()), expected_);
        if (block && (!fit || block->margin > fit->block.margin)) {
            fit = GridFit{*block, std::move(columns), std::move(rows), rowPitch, bandHeight};
        }
    }
    return fit;
}

// The block's cards, their edges snapped to where the edge response is strongest.
std::optional<Reading> SlotReader::refine(const GridFit& fit, int width, int colPitch) const {
    const int tol = std::max(2, width / 12);
    const int perRow = fit.block.width;
    const auto packRows = static_cast<size_t>((expected_ + perRow - 1) / perRow);
    Reading reading;
    reading.margin = fit.block.margin;
    reading.perRow = perRow;
    reading.lefts.assign(fit.columns.begin() + fit.block.start,
                         fit.columns.begin() + fit.block.start + perRow);
    reading.tops.assign(fit.rows.begin(),
                        fit.rows.begin() + static_cast<std::ptrdiff_t>(
                                               std::min({fit.rows.size(), packRows, size_t{8}})));
    if (reading.lefts.front() > kFirstColumnLimit) {
        return std::nullopt;
    }
    const std::vector<float> columnProfile = blockColumnProfile(
        reading.tops.front(), std::min(n_, reading.tops.back() + fit.bandHeight));
    const int leftShift = KVSlotGeometry::snap(columnProfile, reading.lefts, -tol, tol, -1);
    for (int& left : reading.lefts) {
        left += leftShift;
    }
    reading.cardWidth =
        KVSlotGeometry::snap(columnProfile, reading.lefts, width - tol, colPitch - 1, +1);
    const std::vector<float> rowProfile =
        blockRowProfile(std::max(0, reading.lefts.front()),
                        std::min(kWorkWidth, reading.lefts.back() + reading.cardWidth));
    const int topShift = KVSlotGeometry::snap(rowProfile, reading.tops, -tol, tol, -1);
    for (int& top : reading.tops) {
        top += topShift;
    }
    reading.cardHeight = std::min(fit.rowPitch, roundHalfAway(reading.cardWidth * kCardAspect));
    return reading;
}

} // namespace

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
        const std::optional<KVSlotBlock> found = reader.detect(image);
        if (!found) {
            return std::nullopt;
        }
        std::string refinement;
        const KVSlotBlock block =
            KVRefineSlotBlock(image, *found, lines.enabled() ? &refinement : nullptr);
        lines.say("%s", refinement.c_str());
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
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::vector<KVNormRect>> KVVision::detectSlots(const KVImage& image,
                                                             int64_t expected) {
    return detectSlots(image, expected, nullptr);
}
