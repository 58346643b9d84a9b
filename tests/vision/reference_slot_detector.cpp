#include "reference_slot_detector.hpp"

#include "vision/gray_pixels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <numeric>

namespace {

constexpr int kWorkWidth = 960;     // the screenshot is read at this width
constexpr int kGradientWidth = 959; // horizontal differences per row
constexpr int kNarrowestCard = 43;  // the card widths looked for, in working columns
constexpr int kWidestCard = 172;
constexpr int kFirstColumnLimit = 336; // 35 % of the working width
constexpr int kMaxChain = 64;
constexpr int kMaxPeaks = 512;

__attribute__((format(printf, 2, 3))) void say(std::string* debug, const char* format, ...) {
    if (debug == nullptr) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    *debug += line;
}

// Linear interpolation between the order statistics of a sorted copy.
float percentile(std::vector<float> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t count = values.size();
    const double pos = p * static_cast<double>(count - 1) / 100;
    const size_t k = static_cast<size_t>(pos);
    const float low = values[k];
    const float high = k + 1 == count ? values[k] : values[k + 1];
    return static_cast<float>(low + (high - low) * (pos - static_cast<double>(k)));
}

// The 88th percentile of a column profile, with the interpolation weight written out.
float profileThreshold(std::vector<float> profile) {
    std::sort(profile.begin(), profile.end());
    return static_cast<float>(profile[843] + (profile[844] - profile[843]) * 0.04);
}

// The strongest columns of a profile, at least 3 apart, down to the threshold; ascending.
std::vector<int> peaks(const std::vector<float>& profile, float threshold) {
    std::vector<int> order(profile.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return profile[a] > profile[b]; });
    std::vector<int> taken;
    for (const int p : order) {
        if (profile[p] < threshold || taken.size() >= kMaxPeaks) {
            break;
        }
        bool crowded = false;
        for (const int q : taken) {
            if (std::abs(p - q) < 3) {
                crowded = true;
            }
        }
        if (!crowded) {
            taken.push_back(p);
        }
    }
    std::sort(taken.begin(), taken.end());
    return taken;
}

// The most frequent distances between peaks, as odd card widths, most frequent first.
std::vector<int> candidateWidths(const std::vector<int>& positions) {
    std::vector<int> bins(88, 0);
    for (size_t i = 0; i < positions.size(); ++i) {
        for (size_t j = i + 1; j < positions.size(); ++j) {
            const int d = positions[j] - positions[i];
            if (d > kWidestCard) {
                break;
            }
            if (d >= kNarrowestCard) {
                ++bins[d / 2];
            }
        }
    }
    std::vector<int> widths;
    for (int round = 0; round < 6; ++round) {
        int best = -1;
        for (int b = 0; b < static_cast<int>(bins.size()); ++b) {
            if (bins[b] > 0 && (best < 0 || bins[b] > bins[best])) {
                best = b;
            }
        }
        if (best < 0) {
            break;
        }
        widths.push_back(2 * best + 1);
        bins[best] = 0;
    }
    return widths;
}

struct Fit {
    bool found = false;
    double margin = 0;
    int start = 0;
    int width = 0; // cards per pack row
};

// The block of the grid whose cells all look like cards while the cells around it do not.
Fit fitBlock(const std::vector<std::vector<double>>& scores, int rows, int cols, int64_t expected) {
    Fit best;
    for (int k = 1; k <= cols; ++k) {
        const int64_t packRows = (expected + k - 1) / k;
        if (packRows > std::min(rows, 4)) {
            continue;
        }
        const int r = static_cast<int>(packRows);
        for (int s = 0; s + k <= cols; ++s) {
            double insideMin = 1e9;
            double outsideMax = 0;
            bool outsideSeen = false;
            const auto outsideCell = [&](double score) {
                outsideMax = std::max(outsideMax, score);
                outsideSeen = true;
            };
            for (int i = 0; i < r * k; ++i) {
                const double score = scores[i / k][s + i % k];
                if (i < expected) {
                    insideMin = std::min(insideMin, score);
                } else {
                    outsideCell(score);
                }
            }
            if (s > 0) {
                for (int row = 0; row < r; ++row) {
                    outsideCell(scores[row][s - 1]);
                }
            }
            if (s + k < cols) {
                for (int row = 0; row < r; ++row) {
                    outsideCell(scores[row][s + k]);
                }
            }
            if (r < rows) {
                for (int col = s; col < s + k; ++col) {
                    outsideCell(scores[r][col]);
                }
            }
            const double outside = outsideSeen ? outsideMax : 0;
            if (insideMin >= 0.8 && insideMin >= 1.25 * outside) {
                const double margin = insideMin - outside;
                if (!best.found || margin > best.margin) {
                    best = {true, margin, s, k};
                }
            }
        }
    }
    return best;
}

// The shift in lo..hi that lines the offsets up best with the profile; with a step, slid from
// there in that direction while the response stays at 45 % of the best or more.
int snap(const std::vector<float>& profile, const std::vector<int>& offsets, int lo, int hi,
         int step) {
    if (hi < lo) {
        return lo;
    }
    const auto sum = [&](int t) {
        double total = 0;
        for (const int o : offsets) {
            const int index = o + t;
            if (index >= 0 && index < static_cast<int>(profile.size())) {
                total += profile[index];
            }
        }
        return total;
    };
    int best = lo;
    for (int t = lo; t <= hi; ++t) {
        if (sum(t) > sum(best)) {
            best = t;
        }
    }
    if (step == 0) {
        return best;
    }
    const double limit = 0.45 * sum(best);
    int t = best;
    while (t + step >= lo && t + step <= hi && sum(t + step) >= limit) {
        t += step;
    }
    return t;
}

int roundHalfAway(double value) {
    return static_cast<int>(std::round(value));
}

// Everything the readings of one screen share.
struct Screen {
    int h = 0, top = 0, n = 0;
    int64_t expected = 0;
    std::vector<std::vector<float>> gx, gy; // n × 959, (n − 1) × 960
    std::vector<std::vector<int>> a, b;     // (n + 1) × 959, (n − 1) × 961
    std::vector<float> columnProfile;       // P
    std::vector<int> peaks;                 // of P
};

struct Chain {
    std::vector<int> positions;
    double score = 0;
};

struct Reading {
    double margin = 0;
    std::vector<int> lefts, tops;
    int cardW = 0, cardH = 0;
};

// The block found in one band's grid.
struct BlockChoice {
    Fit fit;
    std::vector<int> cols, rows;
    int rowPitch = 0, bandHeight = 0;
};

struct Band {
    int start, end;
};

// Cell score: the share of each side of the cell covered by edge pixels, averaged over the four.
double cellScore(const Screen& sc, int x, int y, int w, int bh) {
    const int n = sc.n;
    const int tolE = std::max(2, w / 24);
    const int yTop = std::max(0, y + static_cast<int>(0.06 * bh));
    const int yBot = std::min(n, y + static_cast<int>(0.94 * bh));
    const int xl = std::max(0, x + static_cast<int>(0.06 * w));
    const int xr = std::min(kWorkWidth, x + static_cast<int>(0.94 * w));
    if (yTop >= yBot || xl >= xr) {
        return 0;
    }
    const auto vertical = [&](int centre) {
        int best = 0;
        for (int col = std::max(0, centre - tolE);
             col < std::min(kGradientWidth, centre + tolE + 1); ++col) {
            best = std::max(best, sc.a[yBot][col] - sc.a[yTop][col]);
        }
        return static_cast<double>(best) / (yBot - yTop);
    };
    const auto horizontal = [&](int centre) {
        int best = 0;
        for (int r = std::max(0, centre - tolE); r < std::min(n - 1, centre + tolE + 1); ++r) {
            best = std::max(best, sc.b[r][xr] - sc.b[r][xl]);
        }
        return static_cast<double>(best) / (xr - xl);
    };
    return (vertical(x) + vertical(x + w) + horizontal(y) + horizontal(y + bh)) / 4;
}

// Reads the pack's cards along one chain of left edges of cards w wide.
std::optional<Reading> readCards(const Screen& sc, const Chain& chain, int w, int tol,
                                 std::string* debug) {
    const int h = sc.h;
    const int n = sc.n;
    const int64_t expected = sc.expected;
    const double idealH = w * (88.0 / 63.0);
    const std::vector<int>& lefts0 = chain.positions;

    // Plausibility: a card as tall as a readable pack's, columns at least a card apart, the first
    // column in the left part of the window.
    if (idealH < 0.11 * h || idealH > 0.38 * h) {
        say(debug, "[vision]   readCards: idealH %.1f outside [%.1f,%.1f]\n", idealH, 0.11 * h,
            0.38 * h);
        return std::nullopt;
    }
    if (!(idealH < n)) {
        say(debug, "[vision]   readCards: idealH %.1f >= region %d\n", idealH, n);
        return std::nullopt;
    }
    std::vector<int> steps;
    for (size_t i = 1; i < lefts0.size(); ++i) {
        steps.push_back(lefts0[i] - lefts0[i - 1]);
    }
    std::sort(steps.begin(), steps.end());
    const size_t m = steps.size();
    const double median = m % 2 == 1 ? steps[m / 2] : (steps[m / 2 - 1] + steps[m / 2]) / 2.0;
    const int colPitch = roundHalfAway(median);
    if (colPitch < w) {
        say(debug, "[vision]   readCards: colPitch %d < cardW %d\n", colPitch, w);
        return std::nullopt;
    }
    if (lefts0[0] > kFirstColumnLimit) {
        say(debug, "[vision]   readCards: first column %d right of %.0f\n", lefts0[0],
            static_cast<double>(kFirstColumnLimit));
        return std::nullopt;
    }

    // Row edge profile along the chain's left and right card edges.
    std::vector<int> lanes;
    for (const int u : lefts0) {
        if (u < kGradientWidth) {
            lanes.push_back(u);
        }
    }
    for (const int u : lefts0) {
        if (u + w < kGradientWidth) {
            lanes.push_back(u + w);
        }
    }
    if (lanes.size() < 2) {
        say(debug, "[vision]   readCards: lanes %d\n", static_cast<int>(lanes.size()));
        return std::nullopt;
    }
    std::vector<float> v(n, 0.0f);
    for (int r = 0; r < n; ++r) {
        for (const int l : lanes) {
            for (int x = l - 1; x <= l + 1; ++x) {
                if (x >= 0 && x < kGradientWidth) {
                    v[r] = std::max(v[r], sc.gx[r][x]);
                }
            }
        }
    }

    // Smoothed over a window of about a twenty-fourth of a card.
    const int win = std::max(3, static_cast<int>(idealH) / 24);
    const int half = win / 2 + 1;
    std::vector<float> smooth(n, 0.0f);
    for (int r = 0; r < n; ++r) {
        float sum = 0;
        for (int i = r + half - win; i <= r + half - 1; ++i) {
            if (i >= 0 && i < n) {
                sum += v[i];
            }
        }
        smooth[r] = sum / static_cast<float>(win);
    }
    const float thr = percentile(smooth, 95.0) * 0.35f;
    if (thr <= 0) {
        return std::nullopt;
    }

    // Bands: runs of rows with strong card edges, at least a third of a card high.
    const int minBand = static_cast<int>(0.35 * idealH);
    std::vector<Band> runs;
    int runStart = -1;
    for (int r = 0; r < n; ++r) {
        if (smooth[r] >= thr) {
            if (runStart < 0) {
                runStart = r;
            }
        } else if (runStart >= 0) {
            if (r - runStart >= minBand && runs.size() < 64) {
                runs.push_back({runStart, r});
            }
            runStart = -1;
        }
    }
    if (runStart >= 0 && n - runStart >= minBand && runs.size() < 64) {
        runs.push_back({runStart, n});
    }
    // Runs split by a short dip join while the whole stays about a card high.
    const int cardRows = static_cast<int>(idealH);
    const int gapTol = std::max(2, static_cast<int>(cardRows * 0.1));
    std::vector<Band> bands;
    for (const Band& run : runs) {
        if (!bands.empty() && run.start - bands.back().end <= gapTol &&
            run.end - bands.back().start <= cardRows * 1.35) {
            bands.back().end = run.end;
        } else {
            bands.push_back(run);
        }
    }
    if (bands.empty()) {
        say(debug, "[vision]   readCards: no row bands\n");
        return std::nullopt;
    }
    say(debug, "[vision]   readCards: cardW=%d idealH=%.1f lefts[0]=%d pitch=%d bands=%d:", w,
        idealH, lefts0[0], colPitch, static_cast<int>(bands.size()));
    for (const Band& band : bands) {
        say(debug, " [%d..%d]", band.start, band.end);
    }
    say(debug, "  (region rows 0..%d)\n", n);
    if (bands[0].start + sc.top > 0.25 * h) {
        say(debug, "[vision]   readCards: first band at %d, past PACK_TOP %.0f (bands=%d)\n",
            bands[0].start + sc.top, 0.25 * h, static_cast<int>(bands.size()));
        return std::nullopt;
    }

    // A grid per band, and the best block of card-like cells in it.
    std::optional<BlockChoice> kept;
    for (size_t bi = 0; bi < bands.size() && bi < 3; ++bi) {
        const int ys = bands[bi].start;
        const int ye = bands[bi].end;
        const int bh = ye - ys;
        if (bh < 0.82 * idealH || bh > 1.18 * idealH) {
            continue;
        }
        int rowPitch = roundHalfAway(bh * 1.1);
        if (bi + 1 < bands.size() && bands[bi + 1].start >= ye &&
            bands[bi + 1].start - ys <= 1.35 * bh) {
            rowPitch = bands[bi + 1].start - ys;
        }
        if (bh > rowPitch) {
            continue;
        }
        std::vector<int> cols;
        int x0 = lefts0[0];
        while (x0 - colPitch >= 0) {
            x0 -= colPitch;
        }
        for (int x = x0; x + w <= kGradientWidth && cols.size() < 128; x += colPitch) {
            cols.push_back(x);
        }
        int y0 = ys;
        while (y0 - rowPitch >= 0) {
            y0 -= rowPitch;
        }
        std::vector<int> allRows;
        for (int y = y0; y + bh <= n && allRows.size() < 64; y += rowPitch) {
            allRows.push_back(y);
        }
        std::vector<int> rows;
        for (const int y : allRows) {
            if (y >= bands[0].start - rowPitch / 4 && rows.size() < 16) {
                rows.push_back(y);
            }
        }
        if (cols.empty() || rows.empty() ||
            static_cast<int64_t>(cols.size()) * static_cast<int64_t>(rows.size()) < expected) {
            continue;
        }
        std::vector<std::vector<double>> scores(rows.size(), std::vector<double>(cols.size()));
        for (size_t ri = 0; ri < rows.size(); ++ri) {
            for (size_t ci = 0; ci < cols.size(); ++ci) {
                scores[ri][ci] = cellScore(sc, cols[ci], rows[ri], w, bh);
            }
        }
        const Fit fit = fitBlock(scores, static_cast<int>(rows.size()),
                                 static_cast<int>(cols.size()), expected);
        if (fit.found && (!kept || fit.margin > kept->fit.margin)) {
            kept = BlockChoice{fit, cols, rows, rowPitch, bh};
        }
    }
    if (!kept) {
        return std::nullopt;
    }

    // Refinement: the block's edges moved onto the strongest edges nearby, the card width taken
    // from where the right edges answer.
    const int k = kept->fit.width;
    const int packRows = static_cast<int>((expected + k - 1) / k);
    std::vector<int> lefts(kept->cols.begin() + kept->fit.start,
                           kept->cols.begin() + kept->fit.start + k);
    const int rowCount = std::min({static_cast<int>(kept->rows.size()), packRows, 8});
    std::vector<int> tops(kept->rows.begin(), kept->rows.begin() + rowCount);
    if (lefts[0] > kFirstColumnLimit) {
        return std::nullopt;
    }
    const int bh = kept->bandHeight;
    const int blockEnd = std::min(n, tops.back() + bh);
    std::vector<float> blockColumns(kGradientWidth, 0.0f);
    for (int x = 0; x < kGradientWidth; ++x) {
        float sum = 0;
        for (int r = tops[0]; r < blockEnd; ++r) {
            sum += sc.gx[r][x];
        }
        blockColumns[x] = sum / static_cast<float>(blockEnd - tops[0]);
    }
    const int dx = snap(blockColumns, lefts, -tol, tol, -1);
    for (int& x : lefts) {
        x += dx;
    }
    const int cardW = snap(blockColumns, lefts, w - tol, colPitch - 1, +1);

    const int xFrom = std::max(0, lefts[0]);
    const int xTo = std::min(kWorkWidth, lefts[k - 1] + cardW);
    std::vector<float> blockRows(n - 1, 0.0f);
    for (int r = 0; r < n - 1; ++r) {
        float sum = 0;
        for (int x = xFrom; x < xTo; ++x) {
            sum += sc.gy[r][x];
        }
        blockRows[r] = sum / static_cast<float>(xTo - xFrom);
    }
    const int dy = snap(blockRows, tops, -tol, tol, -1);
    for (int& y : tops) {
        y += dy;
    }
    const int cardH = std::min(kept->rowPitch, roundHalfAway(cardW * (88.0 / 63.0)));

    Reading reading;
    reading.margin = kept->fit.margin;
    reading.cardW = cardW;
    reading.cardH = cardH;
    for (int64_t i = 0; i < expected; ++i) {
        reading.lefts.push_back(lefts[i % k]);
        reading.tops.push_back(tops[i / k]);
    }
    return reading;
}

} // namespace

std::optional<std::vector<KVNormRect>>
KVReferenceDetectSlots(const KVImage& image, int64_t expected, std::string* debug) {
    // Working image: the screenshot stretched to 960 columns in gray.
    if (image.empty() || expected < 2) {
        return std::nullopt;
    }
    const int imageW = image.width;
    const int imageH = image.height;
    if (imageH < 240 || imageW < 320) {
        return std::nullopt;
    }
    Screen sc;
    sc.expected = expected;
    const int h = std::max(1, roundHalfAway(imageH * (960.0 / imageW)));
    sc.h = h;
    const std::optional<std::vector<float>> gray = KVGrayPixels(image, kWorkWidth, h);
    if (!gray) {
        return std::nullopt;
    }
    const auto g = [&](int row, int x) {
        return (*gray)[static_cast<size_t>(row) * kWorkWidth + static_cast<size_t>(x)];
    };

    // Region: without the top tenth (title bar, header) and the bottom 4 %.
    const int top = static_cast<int>(0.1 * h);
    const int n = static_cast<int>(0.96 * h) - top;
    sc.top = top;
    sc.n = n;
    if (n < 40) {
        return std::nullopt;
    }

    // Gradients and the edge pixels among them: the strongest quarter of each direction.
    sc.gx.assign(n, std::vector<float>(kGradientWidth));
    for (int r = 0; r < n; ++r) {
        for (int x = 0; x < kGradientWidth; ++x) {
            sc.gx[r][x] = std::abs(g(top + r, x + 1) - g(top + r, x));
        }
    }
    sc.gy.assign(n - 1, std::vector<float>(kWorkWidth));
    for (int r = 0; r < n - 1; ++r) {
        for (int x = 0; x < kWorkWidth; ++x) {
            sc.gy[r][x] = std::abs(g(top + r + 1, x) - g(top + r, x));
        }
    }
    std::vector<float> all;
    for (const auto& row : sc.gx) {
        all.insert(all.end(), row.begin(), row.end());
    }
    const float tx = percentile(all, 75.0);
    all.clear();
    for (const auto& row : sc.gy) {
        all.insert(all.end(), row.begin(), row.end());
    }
    const float ty = percentile(all, 75.0);
    all = {};
    const auto ex = [&](int r, int x) { return x >= 0 && x < kGradientWidth && sc.gx[r][x] > tx; };
    const auto ey = [&](int r, int x) { return r >= 0 && r < n - 1 && sc.gy[r][x] > ty; };

    // Running counts of edge rows per column (one column of slack each side) and of edge columns
    // per row (one row of slack each side).
    sc.a.assign(n + 1, std::vector<int>(kGradientWidth, 0));
    for (int r = 0; r < n; ++r) {
        for (int x = 0; x < kGradientWidth; ++x) {
            const bool edge = ex(r, x - 1) || ex(r, x) || ex(r, x + 1);
            sc.a[r + 1][x] = sc.a[r][x] + (edge ? 1 : 0);
        }
    }
    sc.b.assign(n - 1, std::vector<int>(kWorkWidth + 1, 0));
    for (int r = 0; r < n - 1; ++r) {
        for (int x = 0; x < kWorkWidth; ++x) {
            const bool edge = ey(r - 1, x) || ey(r, x) || ey(r + 1, x);
            sc.b[r][x + 1] = sc.b[r][x] + (edge ? 1 : 0);
        }
    }

    // Column profiles, over the whole region and over its top part, and their peaks: the
    // columns of strong vertical edges, card borders among them.
    sc.columnProfile.assign(kGradientWidth, 0.0f);
    for (int x = 0; x < kGradientWidth; ++x) {
        double sum = 0;
        for (int r = 0; r < n; ++r) {
            sum += sc.gx[r][x];
        }
        sc.columnProfile[x] = static_cast<float>(sum / n);
    }
    sc.peaks = peaks(sc.columnProfile, profileThreshold(sc.columnProfile));
    say(debug, "[vision] work=%dx%d region=%d peaks=%d\n", kWorkWidth, h, n,
        static_cast<int>(sc.peaks.size()));
    if (sc.peaks.size() < 2) {
        return std::nullopt;
    }
    const int topRows = static_cast<int>(0.4 * n);
    std::vector<float> topProfile(kGradientWidth, 0.0f);
    for (int x = 0; x < kGradientWidth; ++x) {
        float sum = 0;
        for (int r = 0; r < topRows; ++r) {
            sum += sc.gx[r][x];
        }
        topProfile[x] = sum / static_cast<float>(topRows);
    }
    const std::vector<int> topPeaks = peaks(topProfile, profileThreshold(topProfile));

    // Candidate card widths: frequent distances between peaks.
    std::vector<int> widths = candidateWidths(sc.peaks);
    for (const int w : candidateWidths(topPeaks)) {
        if (widths.size() < 9 && std::find(widths.begin(), widths.end(), w) == widths.end()) {
            widths.push_back(w);
        }
    }
    say(debug, "[vision] width candidates (%d):", static_cast<int>(widths.size()));
    for (const int w : widths) {
        say(debug, " %d", w);
    }
    say(debug, "  (lo=%d hi=%d)\n", kNarrowestCard, kWidestCard);
    if (widths.empty()) {
        return std::nullopt;
    }

    std::optional<Reading> best;
    for (const int w : widths) {
        // Left edges: peaks with another peak about a card width to their right.
        const int tol = std::max(2, w / 12);
        std::vector<int> lefts;
        for (const int p : sc.peaks) {
            bool hasRight = false;
            for (const int q : sc.peaks) {
                if (std::abs(q - (p + w)) <= tol) {
                    hasRight = true;
                }
            }
            if (hasRight && lefts.size() < kMaxPeaks) {
                lefts.push_back(p);
            }
        }
        if (lefts.size() < 2) {
            continue;
        }

        // Chains of left edges at one pitch; the three longest (then strongest) are kept.
        std::vector<Chain> table;
        for (size_t i = 0; i < lefts.size(); ++i) {
            for (size_t j = i + 1; j < lefts.size(); ++j) {
                const int d = lefts[j] - lefts[i];
                if (d < w || d > 1.35 * w) {
                    continue;
                }
                Chain chain;
                chain.positions = {lefts[i], lefts[j]};
                while (chain.positions.size() < kMaxChain) {
                    const int e = chain.positions.back() + d;
                    int nearest = -1;
                    for (size_t c = 0; c < lefts.size(); ++c) {
                        const int distance = std::abs(lefts[c] - e);
                        if (distance <= tol &&
                            (nearest < 0 || distance < std::abs(lefts[nearest] - e))) {
                            nearest = static_cast<int>(c);
                        }
                    }
                    if (nearest < 0) {
                        break;
                    }
                    chain.positions.push_back(lefts[nearest]);
                }
                bool known = false;
                for (const Chain& other : table) {
                    if (other.positions == chain.positions) {
                        known = true;
                    }
                }
                if (known) {
                    continue;
                }
                double sum = 0;
                for (const int p : chain.positions) {
                    sum += sc.columnProfile[p];
                }
                chain.score = sum / static_cast<double>(chain.positions.size());
                if (table.size() < 3) {
                    table.push_back(chain);
                    continue;
                }
                size_t weakest = 0;
                for (size_t t = 1; t < table.size(); ++t) {
                    const Chain& a = table[t];
                    const Chain& b = table[weakest];
                    if (a.positions.size() < b.positions.size() ||
                        (a.positions.size() == b.positions.size() && a.score < b.score)) {
                        weakest = t;
                    }
                }
                const Chain& weak = table[weakest];
                if (chain.positions.size() > weak.positions.size() ||
                    (chain.positions.size() == weak.positions.size() && chain.score > weak.score)) {
                    table[weakest] = chain;
                }
            }
        }
        if (table.empty()) {
            continue;
        }
        if (expected > kMaxChain) {
            continue;
        }
        for (size_t c = 0; c < table.size(); ++c) {
            const std::optional<Reading> reading = readCards(sc, table[c], w, tol, debug);
            say(debug, "[vision] cardW=%d chain=%d len=%d -> %s\n", w, static_cast<int>(c),
                static_cast<int>(table[c].positions.size()), reading ? "READ" : "no");
            if (reading && (!best || reading->margin > best->margin)) {
                best = reading;
            }
        }
    }
    if (!best) {
        return std::nullopt;
    }
    std::vector<KVNormRect> slots;
    for (int64_t i = 0; i < expected; ++i) {
        slots.push_back({best->lefts[i] / 960.0, (best->tops[i] + top) / static_cast<double>(h),
                         best->cardW / 960.0, best->cardH / static_cast<double>(h)});
    }
    return slots;
}
