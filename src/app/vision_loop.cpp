#include "app/vision_loop.hpp"

#include "vision/art_hashes.hpp"
#include "vision/capture.hpp"
#include "vision/vision.hpp"

namespace {

constexpr double kIdleDelay = 0.3;
constexpr double kTickDelay = 0.5;
// Up to this thumbnail difference a frame counts as unchanged.
constexpr float kUnchanged = 1.5f;
// A pack seen this many times unchanged is not reported again.
constexpr int kReports = 3;

bool isEmpty(const KVRect& rect) {
    return !(rect.width > 0 && rect.height > 0);
}

} // namespace

KVVisionLoop::KVVisionLoop(std::shared_ptr<KVCapture> capture,
                           std::shared_ptr<KVArtHashes> artHashes)
    : capture_(std::move(capture)), artHashes_(std::move(artHashes)) {}

void KVVisionLoop::idle(KVVisionStep& step) {
    step.nextDelay = kIdleDelay;
    if (onScreen_) {
        onScreen_ = false;
        misses_ = 0;
        step.lost = true;
    }
    if (capturing_) {
        capture_->endWindowCapture();
        capturing_ = false;
    }
}

void KVVisionLoop::miss(KVVisionStep& step) {
    if (!onScreen_) {
        return;
    }
    if (misses_ >= 2) {
        onScreen_ = false;
        misses_ = 0;
        lastNames_.reset();
        lastSlots_.reset();
        step.lost = true;
    } else {
        ++misses_;
    }
}

KVVisionStep KVVisionLoop::tick(const KVVisionInputs& inputs) {
    KVVisionStep step;
    step.nextDelay = kTickDelay;
    if (!inputs.enabled || !inputs.inDraft || !inputs.arena || inputs.catalogCards == 0) {
        idle(step);
        return step;
    }

    capturing_ = true;
    bool regionOnly = false;
    std::optional<KVImage> image = capture_->captureWindow(inputs.arena);
    // Our stamps lie over the game: a region capture would read them back as cards.
    if (!image && inputs.stampsHidden) {
        image = capture_->captureRegion(inputs.arena->bounds);
        regionOnly = image.has_value();
    }
    if (!image) {
        return step;
    }
    KVRect frame = capture_->lastFrameRect();
    if (isEmpty(frame) && regionOnly) {
        frame = inputs.arena->bounds;
    }

    auto thumb = KVVision::thumbnail(*image);
    const bool unchanged = thumb_ && KVVision::thumbnailDifference(thumb, thumb_) <= kUnchanged;
    thumb_ = std::move(thumb);
    if (unchanged && stable_ >= kReports) {
        return step; // reported already; nothing to recompute
    }

    const int64_t expected = inputs.packSize > 0 ? inputs.packSize : 15;
    const auto slots = KVVision::detectSlots(*image, expected);
    if (!slots) {
        // This frame differs from the reported one: the next look must read it again, even if
        // the screen then holds still (the pack size expected may just have been stale).
        stable_ = 0;
        miss(step);
        return step;
    }

    static const std::vector<KVCardRef> kNoCards;
    const std::vector<KVCardRef>& cards = inputs.candidates ? *inputs.candidates : kNoCards;
    if (!cards.empty()) {
        artHashes_->ensureArtHashesFor(cards); // this pack's art first
    }
    std::optional<KVSlotTransform> hint;
    if (transformLayout_ && KVVision::sameLayout(*slots, *transformLayout_)) {
        hint = transform_;
    }
    KVPackIdentification pack =
        KVVision::identifyPack(*image, *slots, artHashes_->candidates(cards), hint);
    image.reset();
    registrations_ += pack.searched ? 1 : 0;
    transform_ = pack.transform;
    transformLayout_ = *slots;
    std::vector<KVSlotMatch>& matches = pack.matches;

    std::vector<std::string> names;
    for (const KVSlotMatch& match : matches) {
        if (match.card) {
            names.push_back(match.card->name);
        }
    }
    if (!names.empty() && names == lastNames_.value_or(std::vector<std::string>()) && lastSlots_ &&
        KVVision::sameLayout(*slots, *lastSlots_)) {
        ++stable_;
    } else {
        stable_ = 0;
        lastNames_ = names;
        lastSlots_ = *slots;
    }

    if (names.empty()) {
        miss(step);
        return step;
    }
    misses_ = 0;
    onScreen_ = true;
    if (stable_ < kReports) {
        step.report = KVVisionReport{std::move(matches), frame, regionOnly};
    }
    return step;
}
