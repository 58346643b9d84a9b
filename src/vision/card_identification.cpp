#include "vision/vision.hpp"

#include "vision/gray_pixels.hpp"
#include "vision/image_crop.hpp"
#include "vision/phash.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// A lead of this many bits over the runner-up is full confidence.
constexpr double kFullConfidenceGap = 40.0;
constexpr double kMinConfidence = 0.05;
constexpr double kDeducedConfidence = 0.3;
// Narrower or lower slots hold too little art to hash.
constexpr double kMinSlotPixels = 20.0;
// Detection jitters by a pixel or two between frames; a real change of layout moves further.
constexpr double kLayoutTolerance = 0.004;
constexpr size_t kThumbnailValues =
    static_cast<size_t>(KVVision::kThumbnailWidth) * KVVision::kThumbnailHeight;

// The distances of the hashed slots (rows, in slot order) to the candidates that have hashes
// (columns, in the candidates' order), and the assignment built on them.
class Assignment {
public:
    Assignment(int rows, int cols) : rows_(rows), cols_(cols) {
        d_.resize(static_cast<size_t>(rows) * static_cast<size_t>(cols));
        column_.assign(static_cast<size_t>(rows), -1);
        deduced_.assign(static_cast<size_t>(rows), false);
        used_.assign(static_cast<size_t>(cols), 0);
    }

    int& at(int row, int col) { return d_[static_cast<size_t>(row) * cols_ + col]; }
    int at(int row, int col) const { return d_[static_cast<size_t>(row) * cols_ + col]; }
    int column(int row) const { return column_[row]; }
    bool deduced(int row) const { return deduced_[row]; }

    // Repeatedly pairs the closest unassigned row and unused column within `limit`: the least
    // distance, and of equal ones the first in row order, then column order. So a card goes to
    // the slot that resembles it most and a slot to its most resembling card.
    void assignClosest(int limit, bool deduced) {
        // Each row's closest usable column stays its closest until another row takes it, so
        // only those rows look again after each pairing.
        std::vector<int> closest(static_cast<size_t>(rows_), -1);
        for (int r = 0; r < rows_; ++r) {
            if (column_[r] < 0) {
                closest[r] = closestUnused(r, limit);
            }
        }
        while (true) {
            int row = -1;
            for (int r = 0; r < rows_; ++r) {
                if (column_[r] < 0 && closest[r] >= 0 &&
                    (row < 0 || at(r, closest[r]) < at(row, closest[row]))) {
                    row = r;
                }
            }
            if (row < 0) {
                return;
            }
            const int col = closest[row];
            column_[row] = col;
            deduced_[row] = deduced;
            used_[col] = 1;
            for (int r = 0; r < rows_; ++r) {
                if (column_[r] < 0 && closest[r] == col) {
                    closest[r] = closestUnused(r, limit);
                }
            }
        }
    }

    // The greedy order can strand a slot on a poor card that a neighbour would match better;
    // exchange pairs while that lowers their summed distance (each exchange lowers the total,
    // so this ends).
    void improveBySwaps() {
        bool changed = true;
        while (changed) {
            changed = false;
            for (int s1 = 0; s1 < rows_; ++s1) {
                for (int s2 = s1 + 1; s2 < rows_; ++s2) {
                    const int c1 = column_[s1];
                    const int c2 = column_[s2];
                    if (c1 < 0 || c2 < 0) {
                        continue;
                    }
                    if (at(s1, c1) + at(s2, c2) > at(s1, c2) + at(s2, c1)) {
                        column_[s1] = c2;
                        column_[s2] = c1;
                        deduced_[s1] = false;
                        deduced_[s2] = false;
                        changed = true;
                    }
                }
            }
        }
    }

    // How clearly the row's best card beats its runner-up, 0.05…1; the floor for a lone
    // candidate, which nothing contradicts but nothing confirms either.
    double confidence(int row) const {
        int best = INT_MAX;
        int second = INT_MAX;
        for (int c = 0; c < cols_; ++c) {
            const int v = at(row, c);
            if (v < best) {
                second = best;
                best = v;
            } else if (v < second) {
                second = v;
            }
        }
        const double gap = cols_ > 1 ? (second - best) / kFullConfidenceGap : 0.0;
        return std::clamp(gap, kMinConfidence, 1.0);
    }

private:
    // The row's unused column of least distance, at most `limit`; the first of equal ones.
    // -1 when there is none.
    int closestUnused(int r, int limit) const {
        const int* row = d_.data() + static_cast<size_t>(r) * cols_;
        int best = -1;
        for (int c = 0; c < cols_; ++c) {
            if (!used_[c] && row[c] <= limit && (best < 0 || row[c] < row[best])) {
                best = c;
            }
        }
        return best;
    }

    int rows_;
    int cols_;
    std::vector<int> d_;
    std::vector<int> column_; // per row, -1 while unassigned
    std::vector<bool> deduced_;
    std::vector<char> used_; // per column
};

} // namespace

std::vector<KVSlotMatch>
KVVision::assignCards(const std::vector<std::optional<KVArtHash>>& slotHashes,
                      const std::vector<KVNormRect>& slots,
                      const std::vector<KVCandidate>& candidates) {
    std::vector<KVSlotMatch> results(slots.size());
    for (size_t i = 0; i < slots.size(); ++i) {
        results[i].index = static_cast<int64_t>(i);
        results[i].normRect = slots[i];
    }

    // A card without hashes cannot be told from any other; it takes no part.
    std::vector<size_t> columnCandidate;
    std::vector<size_t> firstHash{0}; // column c's hashes: [firstHash[c], firstHash[c + 1])
    std::vector<KVArtHashWords> hashes;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i].artHashes.empty()) {
            continue;
        }
        columnCandidate.push_back(i);
        for (const KVArtHash& hash : candidates[i].artHashes) {
            hashes.push_back(KVArtHashWords::of(hash));
        }
        firstHash.push_back(hashes.size());
    }
    std::vector<size_t> rowSlot;
    std::vector<KVArtHashWords> rowHash;
    for (size_t i = 0; i < slots.size() && i < slotHashes.size(); ++i) {
        if (slotHashes[i]) {
            rowSlot.push_back(i);
            rowHash.push_back(KVArtHashWords::of(*slotHashes[i]));
        }
    }
    if (rowSlot.empty() || columnCandidate.empty()) {
        return results;
    }

    const int rows = static_cast<int>(rowSlot.size());
    const int cols = static_cast<int>(columnCandidate.size());
    Assignment assignment(rows, cols);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            int nearest = 256;
            for (size_t h = firstHash[c]; h < firstHash[c + 1]; ++h) {
                nearest = std::min(nearest, KVPHashDistance(rowHash[r], hashes[h]));
            }
            assignment.at(r, c) = nearest;
        }
    }
    assignment.assignClosest(KVVision::kArtMatchLimit, false);
    // Whatever is left pairs up by elimination, however weak the resemblance.
    assignment.assignClosest(INT_MAX, true);
    assignment.improveBySwaps();

    for (int r = 0; r < rows; ++r) {
        const int c = assignment.column(r);
        if (c < 0) {
            continue; // more hashed slots than cards
        }
        KVSlotMatch& match = results[rowSlot[r]];
        match.card = candidates[columnCandidate[c]].card;
        if (assignment.at(r, c) <= KVVision::kArtMatchLimit && !assignment.deduced(r)) {
            match.method = "phash";
            match.confidence = assignment.confidence(r);
        } else {
            match.method = "deduced";
            match.confidence = kDeducedConfidence;
        }
    }
    return results;
}

std::vector<std::optional<KVArtHash>> KVVision::hashSlots(const KVImage& image,
                                                          const std::vector<KVNormRect>& slots) {
    std::vector<std::optional<KVArtHash>> slotHashes(slots.size());
    if (!KVImageIsUsable(image)) {
        return slotHashes;
    }
    const double w = image.width;
    const double h = image.height;
    for (size_t i = 0; i < slots.size(); ++i) {
        const KVNormRect& slot = slots[i];
        const double width = slot.width * w;
        const double height = slot.height * h;
        if (!(width >= kMinSlotPixels && height >= kMinSlotPixels)) {
            continue;
        }
        // Only the origin is pulled onto the image: a card reaching past the top or left
        // edge keeps its size, so its art box stays where the card's art is.
        const KVImage crop =
            KVCropImage(image, std::max(0.0, slot.x * w), std::max(0.0, slot.y * h), width, height);
        if (!crop.empty()) {
            slotHashes[i] = KVPHashOfArt(crop);
        }
    }
    return slotHashes;
}

std::vector<KVSlotMatch> KVVision::identifyPack(const KVImage& image,
                                                const std::vector<KVNormRect>& slots,
                                                const std::vector<KVCandidate>& candidates) {
    const bool anyHashed = std::any_of(candidates.begin(), candidates.end(),
                                       [](const KVCandidate& c) { return !c.artHashes.empty(); });
    return assignCards(anyHashed ? hashSlots(image, slots)
                                 : std::vector<std::optional<KVArtHash>>(slots.size()),
                       slots, candidates);
}

std::optional<std::vector<float>> KVVision::thumbnail(const KVImage& image) {
    return KVGrayPixels(image, kThumbnailWidth, kThumbnailHeight);
}

float KVVision::thumbnailDifference(const std::optional<std::vector<float>>& a,
                                    const std::optional<std::vector<float>>& b) {
    // A buffer of another size did not come from thumbnail(): as good as none, so the frame
    // counts as changed.
    if (!a || !b || a->size() != kThumbnailValues || b->size() != kThumbnailValues) {
        return 1e9f;
    }
    double sum = 0;
    for (size_t k = 0; k < kThumbnailValues; ++k) {
        sum += std::abs(static_cast<double>((*a)[k]) - static_cast<double>((*b)[k]));
    }
    return static_cast<float>(sum / static_cast<double>(kThumbnailValues));
}

bool KVVision::sameLayout(const std::vector<KVNormRect>& a, const std::vector<KVNormRect>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    // Written as "not within" so that a coordinate that is not a number counts as moved.
    const auto moved = [](double p, double q) { return !(std::abs(p - q) < kLayoutTolerance); };
    for (size_t i = 0; i < a.size(); ++i) {
        if (moved(a[i].x, b[i].x) || moved(a[i].y, b[i].y) || moved(a[i].width, b[i].width) ||
            moved(a[i].height, b[i].height)) {
            return false;
        }
    }
    return true;
}
