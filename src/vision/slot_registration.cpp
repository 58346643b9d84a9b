// Identification as the vision loop runs it: the slots registered on the cards' art by one
// common move, and layouts that are no pack told apart by their art matching nothing.
#include "vision/vision.hpp"

#include "vision/image_crop.hpp"
#include "vision/phash.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The search: a shift of up to 3 % of the slot and a scale of up to 3 %, in steps of 1 % and
// then 0.5 %. Detection leaves slots within about 1.5 % of the card; the art hash moves by
// about 25 bits per 1 % of shift, so half a percent is the step that still pays.
constexpr double kFirstStep = 0.01;
constexpr double kLastStep = 0.005;
constexpr double kMaxMove = 0.03;
// A transform is kept when it lowers the summed nearest distances by this much per slot. Measured
// on the identification study's screens: against a set without the shown cards, the search finds
// up to ~6 bits a slot among noise (90 % of screens); slots truly off their cards gain 12 or more.
constexpr double kClearGainPerSlot = 8.0;
// A card named by its art alone must lead the runner-up by this much (confidence 0.5): against
// 300 cards, the nearest wrong card is within the art limit nearly always (78…110 bits), but
// rarely 20 bits nearer than the next wrong one.
constexpr double kNamingConfidence = 0.5;

// The summed distance of every hashable slot to its nearest candidate hash; slots that cannot
// be hashed count as 256, so that a move that loses a slot never looks better.
long nearestSum(const KVImage& image, const std::vector<KVNormRect>& slots,
                const KVSlotTransform& transform, const std::vector<KVArtHashWords>& hashes) {
    std::vector<KVNormRect> moved;
    moved.reserve(slots.size());
    for (const KVNormRect& slot : slots) {
        moved.push_back(transform.apply(slot));
    }
    long sum = 0;
    for (const auto& hash : KVVision::hashSlots(image, moved)) {
        if (!hash) {
            sum += 256;
            continue;
        }
        const KVArtHashWords words = KVArtHashWords::of(*hash);
        int nearest = 256;
        for (const KVArtHashWords& candidate : hashes) {
            nearest = std::min(nearest, KVPHashDistance(words, candidate));
        }
        sum += nearest;
    }
    return sum;
}

// Coarse to fine, one parameter at a time: each step tries both directions of each of the
// shift and the scale, keeps what lowers the sum, and halves once nothing does. The search reads
// five slots spread over the pack (hashing is the cost; a common move shows on any five); the
// move found is then judged on every slot.
KVSlotTransform searchTransform(const KVImage& image, const std::vector<KVNormRect>& slots,
                                const std::vector<KVArtHashWords>& hashes, long& identity,
                                long& best) {
    std::vector<KVNormRect> probe;
    constexpr size_t kProbes = 5;
    if (slots.size() <= kProbes) {
        probe = slots;
    } else {
        for (size_t k = 0; k < kProbes; ++k) {
            probe.push_back(slots[k * (slots.size() - 1) / (kProbes - 1)]);
        }
    }
    KVSlotTransform found;
    long probeBest = nearestSum(image, probe, found, hashes);
    for (double step = kFirstStep; step >= kLastStep - 1e-12; step /= 2) {
        bool improved = true;
        while (improved) {
            improved = false;
            for (int parameter = 0; parameter < 3; ++parameter) {
                for (const double sign : {-1.0, 1.0}) {
                    KVSlotTransform trial = found;
                    double& value = parameter == 0   ? trial.dx
                                    : parameter == 1 ? trial.dy
                                                     : trial.scale;
                    const double origin = parameter == 2 ? 1.0 : 0.0;
                    value += sign * step;
                    if (std::abs(value - origin) > kMaxMove + 1e-12) {
                        continue;
                    }
                    const long sum = nearestSum(image, probe, trial, hashes);
                    if (sum < probeBest) {
                        probeBest = sum;
                        found = trial;
                        improved = true;
                    }
                }
            }
        }
    }
    identity = nearestSum(image, slots, KVSlotTransform{}, hashes);
    best = found == KVSlotTransform{} ? identity : nearestSum(image, slots, found, hashes);
    if (static_cast<double>(identity - best) <
        kClearGainPerSlot * static_cast<double>(slots.size())) {
        best = identity;
        return KVSlotTransform{};
    }
    return found;
}

} // namespace

KVNormRect KVSlotTransform::apply(const KVNormRect& slot) const {
    const double width = slot.width * scale;
    const double height = slot.height * scale;
    const double cx = slot.x + slot.width / 2 + dx * slot.width;
    const double cy = slot.y + slot.height / 2 + dy * slot.height;
    return {cx - width / 2, cy - height / 2, width, height};
}

KVPackIdentification KVVision::identifyPack(const KVImage& image,
                                            const std::vector<KVNormRect>& slots,
                                            const std::vector<KVCandidate>& candidates,
                                            const std::optional<KVSlotTransform>& hint,
                                            std::string* debug) {
    KVPackIdentification result;
    std::vector<KVArtHashWords> hashes;
    for (const KVCandidate& candidate : candidates) {
        for (const KVArtHash& hash : candidate.artHashes) {
            hashes.push_back(KVArtHashWords::of(hash));
        }
    }
    if (hint) {
        result.transform = *hint;
    } else if (!hashes.empty() && !slots.empty() && KVImageIsUsable(image)) {
        long identity = 0;
        long sum = 0;
        result.transform = searchTransform(image, slots, hashes, identity, sum);
        result.searched = true;
        if (debug) {
            char line[160];
            std::snprintf(line, sizeof line,
                          "[vision] registration: shift %+.3f %+.3f scale %.3f, summed distance "
                          "%ld -> %ld over %zu slots\n",
                          result.transform.dx, result.transform.dy, result.transform.scale,
                          identity, sum, slots.size());
            *debug += line;
        }
    }
    std::vector<KVNormRect> moved;
    moved.reserve(slots.size());
    for (const KVNormRect& slot : slots) {
        moved.push_back(result.transform.apply(slot));
    }
    result.matches = identifyPack(image, moved, candidates);
    for (KVSlotMatch& match : result.matches) {
        if (match.method == "phash" && match.confidence < kNamingConfidence) {
            match.method = "deduced";
            match.confidence = 0.3;
        }
    }

    const auto named = std::count_if(result.matches.begin(), result.matches.end(),
                                     [](const KVSlotMatch& m) { return m.method == "phash"; });
    if (!slots.empty() && !hashes.empty() && 2 * static_cast<size_t>(named) < slots.size()) {
        result.notAPack = true;
        for (KVSlotMatch& match : result.matches) {
            match.card = nullptr;
            match.method = "none";
            match.confidence = 0;
        }
        if (debug) {
            char line[120];
            std::snprintf(line, sizeof line,
                          "[vision] not a pack: %d of %zu slots match a card's art\n",
                          static_cast<int>(named), slots.size());
            *debug += line;
        }
    }
    return result;
}
