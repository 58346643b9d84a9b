#pragma once

#include "draft/card.hpp"
#include "platform/geometry.hpp"
#include "vision/arena_window.hpp"
#include "vision/vision.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class KVArtHashes;
class KVCapture;

// What the main thread tells the vision loop before each tick.
struct KVVisionInputs {
    bool enabled = true; // the "vision_enabled" setting
    bool inDraft = false;
    std::optional<KVArenaWindow> arena;
    int64_t packSize = 0; // 0: unknown
    // The session's pack when last copied: the cards to look for. Never changed in place.
    std::shared_ptr<const std::vector<KVCardRef>> candidates;
    size_t catalogCards = 0;
    // Our own stamps are not over the game: a capture of the screen region would not see them.
    bool stampsHidden = true;
};

// A pack as one tick saw it.
struct KVVisionReport {
    std::vector<KVSlotMatch> matches;
    KVRect frame; // the captured frame on screen, top-left origin
    // Seen only through the screen region (the window itself could not be read): its slots
    // are good for the session but not for stamps, which would then be read back as cards.
    bool regionOnly = false;
};

// What one tick decided.
struct KVVisionStep {
    double nextDelay = 0.5;
    std::optional<KVVisionReport> report;
    bool lost = false; // a pack believed on screen is gone
};

// The vision loop's state and one tick of it: capture Arena's window, skip the work when the
// frame has not changed and the pack was already reported three times, else find the pack's
// slots and identify its cards. Runs on the vision queue alone.
class KVVisionLoop {
public:
    KVVisionLoop(std::shared_ptr<KVCapture> capture, std::shared_ptr<KVArtHashes> artHashes);

    KVVisionStep tick(const KVVisionInputs& inputs);

    bool onScreen() const { return onScreen_; }
    int stable() const { return stable_; }
    // How often the slots were registered on the art: once per new layout.
    int registrations() const { return registrations_; }

private:
    // A tick without a pack; the third in a row while one was on screen loses it.
    void miss(KVVisionStep& step);
    void idle(KVVisionStep& step);

    const std::shared_ptr<KVCapture> capture_;
    const std::shared_ptr<KVArtHashes> artHashes_;
    std::optional<std::vector<float>> thumb_;
    int stable_ = 0;
    bool onScreen_ = false;
    int misses_ = 0;
    std::optional<std::vector<std::string>> lastNames_;
    std::optional<std::vector<KVNormRect>> lastSlots_;
    bool capturing_ = false; // a window capture is set up and worth ending when idle
    // How the art says the detected slots sit on the cards, for the layout it was found on:
    // searched once per layout, then handed back as the hint.
    std::optional<KVSlotTransform> transform_;
    std::optional<std::vector<KVNormRect>> transformLayout_;
    int registrations_ = 0;
};
