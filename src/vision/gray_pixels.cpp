#include "vision/gray_pixels.hpp"

#include "vision/image_codec.hpp"
#include "vision/luma_rows.hpp"
#include "vision/vector_clones.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace {

// The source pixels and weights that make each output pixel along one axis. Every output pixel
// reads the same number of source pixels (`taps`, zero weights padding the short ones), so that
// the inner loops have no branches; a zero weight adds exactly nothing.
struct AxisTaps {
    int source = 0;
    int target = 0;
    int taps = 0;
    std::vector<int> first;     // first source pixel read for each output pixel
    std::vector<float> weights; // `taps` per output pixel

    // Calls visit(j, weight) for the source pixels j of output pixel i, in increasing order.
    template <typename Visit> void visitSources(int i, Visit visit) const {
        if (target < source) {
            // Area average, in exact integer units: output pixel i spans [i·source, (i+1)·source)
            // and source pixel j spans [j·target, (j+1)·target).
            const int64_t s = source;
            const int64_t t = target;
            const int64_t lo = i * s;
            const int64_t hi = lo + s;
            for (int64_t j = lo / t; j < std::min((hi + t - 1) / t, s); ++j) {
                const int64_t overlap = std::min(hi, (j + 1) * t) - std::max(lo, j * t);
                visit(static_cast<int>(j), static_cast<double>(overlap) / static_cast<double>(s));
            }
        } else {
            // Linear between pixel centres (one tap when the axis keeps its size).
            const double centre =
                std::clamp((i + 0.5) * source / target - 0.5, 0.0, static_cast<double>(source - 1));
            const int j = static_cast<int>(centre);
            const double fraction = centre - j;
            visit(j, 1.0 - fraction);
            if (fraction > 0 && j + 1 < source) {
                visit(j + 1, fraction);
            }
        }
    }

    void build(int sourceSize, int targetSize) {
        source = sourceSize;
        target = targetSize;
        taps = 1;
        for (int i = 0; i < target; ++i) {
            int count = 0;
            visitSources(i, [&count](int, double) { ++count; });
            taps = std::max(taps, count);
        }
        first.assign(static_cast<size_t>(target), 0);
        weights.assign(static_cast<size_t>(target) * taps, 0.0f);
        for (int i = 0; i < target; ++i) {
            float* row = weights.data() + static_cast<size_t>(i) * taps;
            int start = -1;
            visitSources(i, [&](int j, double weight) {
                if (start < 0) {
                    // Start early enough that all `taps` reads stay inside the source.
                    start = std::min(j, source - taps);
                    first[i] = start;
                }
                row[j - start] = static_cast<float>(weight);
            });
        }
    }
};

// Taps depend only on the two sizes, and the hash asks for the same few sizes again and again:
// each thread keeps the last few.
constexpr size_t kCachedAxes = 8;
thread_local std::array<AxisTaps, kCachedAxes> axisCache;
thread_local size_t nextAxisSlot = 0;

// The taps for one axis; `keep` is never evicted (the other axis of the same call).
const AxisTaps& axisTaps(int source, int target, const AxisTaps* keep) {
    for (const AxisTaps& taps : axisCache) {
        if (taps.source == source && taps.target == target) {
            return taps;
        }
    }
    AxisTaps* slot = &axisCache[nextAxisSlot++ % kCachedAxes];
    if (slot == keep) {
        slot = &axisCache[nextAxisSlot++ % kCachedAxes];
    }
    slot->build(source, target);
    return *slot;
}

// Rows are resampled across four at a time: the four rows interleaved, value by value, so that
// each tap is one four-wide multiply-add. Every value still sums its taps in the same order.
constexpr int kLanes = 4;
static_assert(kLanes == 4, "roundFour and interleaveFour take four rows");

template <int Taps>
[[gnu::always_inline]] inline void resampleAcross(const float* interleaved, const AxisTaps& axis,
                                                  int taps, float* out) {
    const float* weight = axis.weights.data();
    for (int x = 0; x < axis.target; ++x, weight += taps) {
        const float* source = interleaved + static_cast<size_t>(axis.first[x]) * kLanes;
        float sum[kLanes] = {};
        for (int k = 0; k < (Taps > 0 ? Taps : taps); ++k) {
            for (int lane = 0; lane < kLanes; ++lane) {
                sum[lane] += weight[k] * source[k * kLanes + lane];
            }
        }
        for (int lane = 0; lane < kLanes; ++lane) {
            out[x * kLanes + lane] = sum[lane];
        }
    }
}

KV_VECTOR_CLONES void resampleAcross(const float* interleaved, const AxisTaps& axis, float* out) {
    switch (axis.taps) {
    case 1:
        return resampleAcross<1>(interleaved, axis, 1, out);
    case 2:
        return resampleAcross<2>(interleaved, axis, 2, out);
    case 3:
        return resampleAcross<3>(interleaved, axis, 3, out);
    case 4:
        return resampleAcross<4>(interleaved, axis, 4, out);
    case 5:
        return resampleAcross<5>(interleaved, axis, 5, out);
    case 6:
        return resampleAcross<6>(interleaved, axis, 6, out);
    default:
        return resampleAcross<0>(interleaved, axis, axis.taps, out);
    }
}

// The interleaved sums, rounded to whole values, back into four rows. Halves round up: the sums
// are never negative, so truncating sum + 0.5 is that rounding (and vectorises, where floor does
// not); they are at most a rounding error above 255.
[[gnu::always_inline]] inline float roundSum(float sum) {
    return std::min(static_cast<float>(static_cast<int>(sum + 0.5f)), 255.0f);
}

KV_VECTOR_CLONES void roundFour(const float* sums, size_t width, float* r0, float* r1, float* r2,
                                float* r3) {
    for (size_t x = 0; x < width; ++x) {
        r0[x] = roundSum(sums[4 * x]);
        r1[x] = roundSum(sums[4 * x + 1]);
        r2[x] = roundSum(sums[4 * x + 2]);
        r3[x] = roundSum(sums[4 * x + 3]);
    }
}

// row[x] += weight · in[x] for the whole row; row[x] = weight · in[x] for the first tap. A row
// starting at zero would give the same: the products are never negative, and 0 + p is p.
KV_VECTOR_CLONES void addWeightedRow(float* row, const float* in, float weight, int width,
                                     bool first) {
    if (first) {
        for (int x = 0; x < width; ++x) {
            row[x] = weight * in[x];
        }
        return;
    }
    for (int x = 0; x < width; ++x) {
        row[x] += weight * in[x];
    }
}

// Four rows of `width` values, value by value: r0[0], r1[0], r2[0], r3[0], r0[1], …
KV_VECTOR_CLONES void interleaveFour(const float* r0, const float* r1, const float* r2,
                                     const float* r3, size_t width, float* mixed) {
    for (size_t x = 0; x < width; ++x) {
        mixed[4 * x] = r0[x];
        mixed[4 * x + 1] = r1[x];
        mixed[4 * x + 2] = r2[x];
        mixed[4 * x + 3] = r3[x];
    }
}

// Four output rows' column sums written interleaved straight away, for a plane already in gray:
// sources[lane · Taps + k] is the source row of tap k of that lane, weighted by the weight at the
// same index. The taps of each value are added in order; a zero weight (padding, or a lane past
// the last row) adds exactly nothing, as every product is at least +0.
template <int Taps>
[[gnu::always_inline]] inline void columnsInterleaved(const float* const* sources,
                                                      const float* weights, size_t width,
                                                      float* __restrict mixed) {
    const float* source[kLanes * Taps];
    float weight[kLanes * Taps];
    for (int i = 0; i < kLanes * Taps; ++i) {
        source[i] = sources[i];
        weight[i] = weights[i];
    }
    for (size_t x = 0; x < width; ++x) {
        for (int lane = 0; lane < kLanes; ++lane) {
            float sum = weight[lane * Taps] * source[lane * Taps][x];
            for (int k = 1; k < Taps; ++k) {
                sum += weight[lane * Taps + k] * source[lane * Taps + k][x];
            }
            mixed[kLanes * x + lane] = sum;
        }
    }
}

// False when there are more taps than it has a build for.
constexpr int kMaxFusedTaps = 5;

template <int... Taps>
[[gnu::always_inline]] inline bool
columnsInterleaved(std::integer_sequence<int, Taps...>, const float* const* sources,
                   const float* weights, int taps, size_t width, float* mixed) {
    return ((taps == Taps + 1 &&
             (columnsInterleaved<Taps + 1>(sources, weights, width, mixed), true)) ||
            ...);
}

KV_VECTOR_CLONES bool columnsInterleaved(const float* const* sources, const float* weights,
                                         int taps, size_t width, float* mixed) {
    return columnsInterleaved(std::make_integer_sequence<int, kMaxFusedTaps>(), sources, weights,
                              taps, width, mixed);
}

// Scratch memory kept per thread between calls, let go of when a huge picture went through.
constexpr size_t kKeptScratch = size_t{1} << 22;

template <typename T> void trimScratch(std::vector<T>& scratch) {
    if (scratch.capacity() > kKeptScratch) {
        scratch = std::vector<T>();
    }
}

void trimAxisCache() {
    for (AxisTaps& taps : axisCache) {
        if (taps.weights.capacity() > kKeptScratch) {
            taps = AxisTaps();
        }
    }
}

} // namespace

bool KVMakeGrayPlane(const KVImage& image, const KVPixelRect& rect, KVGrayPlane& plane) {
    plane.width = 0;
    plane.height = 0;
    if (!KVImageIsUsable(image) || rect.empty() || rect.x < 0 || rect.y < 0 ||
        rect.x > image.width - rect.width || rect.y > image.height - rect.height) {
        plane.pixels.clear();
        return false;
    }
    plane.width = rect.width;
    plane.height = rect.height;
    plane.pixels.resize(static_cast<size_t>(rect.width) * rect.height);
    for (int y = 0; y < rect.height; ++y) {
        kv_gray::lumaRow(image.pixel(rect.x, rect.y + y), rect.width,
                         plane.pixels.data() + static_cast<size_t>(y) * rect.width);
    }
    return true;
}

namespace {

// Resamples `sourceHeight` rows of `sourceWidth` gray values to width × height into `out`;
// addRow(row, j, weight, first) adds source row j times weight to `row`, or sets `row` to it
// when `first`. Columns first, whole rows at a
// time (which vectorises), four output rows at a time; then those four rows across to `width`,
// rounded to whole values.
// `plane`, when given, holds the source rows themselves, which lets few-tap column sums skip the
// separate row pass.
template <typename AddRow>
void resampleRows(const AddRow& addRow, const float* plane, int sourceWidth, int sourceHeight,
                  int width, int height, float* out) {
    const AxisTaps& down = axisTaps(sourceHeight, height, nullptr);
    const AxisTaps& across = axisTaps(sourceWidth, width, &down);
    thread_local std::vector<float> rows;
    thread_local std::vector<float> interleaved;
    thread_local std::vector<float> across4;
    thread_local std::vector<float> spare;
    rows.resize(static_cast<size_t>(sourceWidth) * kLanes);
    interleaved.resize(static_cast<size_t>(sourceWidth) * kLanes);
    across4.resize(static_cast<size_t>(width) * kLanes);
    if (height % kLanes != 0) {
        spare.resize(static_cast<size_t>(width));
    }
    // The four interleaved rows from y0 on, across to `width` and rounded into `out`.
    const auto finishBlock = [&](int y0, int lanes) {
        resampleAcross(interleaved.data(), across, across4.data());
        // Rows past the last are rounded into scratch and dropped.
        float* target[kLanes];
        for (int lane = 0; lane < kLanes; ++lane) {
            target[lane] =
                lane < lanes ? out + static_cast<size_t>(y0 + lane) * width : spare.data();
        }
        roundFour(across4.data(), static_cast<size_t>(width), target[0], target[1], target[2],
                  target[3]);
    };
    for (int y0 = 0; y0 < height; y0 += kLanes) {
        const int lanes = std::min(kLanes, height - y0);
        if (plane != nullptr && down.taps <= kMaxFusedTaps) {
            const float* sources[kLanes * kMaxFusedTaps];
            float weights[kLanes * kMaxFusedTaps];
            for (int lane = 0; lane < kLanes; ++lane) {
                const int y = y0 + std::min(lane, lanes - 1);
                for (int k = 0; k < down.taps; ++k) {
                    const size_t i = static_cast<size_t>(lane) * down.taps + k;
                    sources[i] = plane + static_cast<size_t>(down.first[y] + k) * sourceWidth;
                    weights[i] =
                        lane < lanes ? down.weights[static_cast<size_t>(y) * down.taps + k] : 0.0f;
                }
            }
            if (columnsInterleaved(sources, weights, down.taps, static_cast<size_t>(sourceWidth),
                                   interleaved.data())) {
                finishBlock(y0, lanes);
                continue;
            }
        }
        for (int lane = 0; lane < kLanes; ++lane) {
            float* row = rows.data() + static_cast<size_t>(lane) * sourceWidth;
            bool first = true;
            if (lane < lanes) {
                const int y = y0 + lane;
                const float* weight = down.weights.data() + static_cast<size_t>(y) * down.taps;
                for (int k = 0; k < down.taps; ++k) {
                    const float w = weight[k];
                    if (w == 0.0f) {
                        continue; // padding; adding it would change nothing
                    }
                    addRow(row, down.first[y] + k, w, first);
                    first = false;
                }
            }
            if (first) {
                std::fill(row, row + sourceWidth, 0.0f);
            }
        }
        const float* r0 = rows.data();
        interleaveFour(r0, r0 + sourceWidth, r0 + 2 * sourceWidth, r0 + 3 * sourceWidth,
                       static_cast<size_t>(sourceWidth), interleaved.data());
        finishBlock(y0, lanes);
    }
    trimScratch(interleaved);
    trimScratch(across4);
    trimScratch(spare);
    trimAxisCache();
    trimScratch(rows);
}

} // namespace

bool KVResampleGray(const KVGrayPlane& plane, int width, int height, float* out) {
    if (plane.width <= 0 || plane.height <= 0 || width <= 0 || height <= 0 ||
        plane.pixels.size() < static_cast<size_t>(plane.width) * plane.height) {
        return false;
    }
    const auto addRow = [&plane](float* row, int j, float weight, bool first) {
        addWeightedRow(row, plane.pixels.data() + static_cast<size_t>(j) * plane.width, weight,
                       plane.width, first);
    };
    resampleRows(addRow, plane.pixels.data(), plane.width, plane.height, width, height, out);
    return true;
}

std::optional<std::vector<float>> KVGrayPixels(const KVImage& image, int width, int height) {
    if (width <= 0 || height <= 0 || width > KVImageMaxPixels / height || !KVImageIsUsable(image)) {
        return std::nullopt;
    }
    std::vector<float> pixels(static_cast<size_t>(width) * height);
    if (height <= image.height) {
        // Each source row is read about once: its gray values are made as the columns are
        // summed, instead of a gray copy of the whole picture first.
        const auto addRow = [&image](float* row, int j, float weight, bool first) {
            kv_gray::addWeightedLuma(row, image.pixel(0, j), weight, image.width, first);
        };
        resampleRows(addRow, nullptr, image.width, image.height, width, height, pixels.data());
        return pixels;
    }
    thread_local KVGrayPlane plane;
    KVMakeGrayPlane(image, KVPixelRect{0, 0, image.width, image.height}, plane);
    KVResampleGray(plane, width, height, pixels.data());
    trimScratch(plane.pixels);
    return pixels;
}
