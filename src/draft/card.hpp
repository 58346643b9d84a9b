#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A perceptual hash of a card's art: 256 bits.
using KVArtHash = std::array<uint8_t, 32>;

// One card of the loaded set, as the catalog knows it. Cards are shared between the catalog,
// the draft session and the advice rows.
struct KVCard {
    std::string name;    // both halves joined by " // " for two-faced and split cards
    int64_t arenaId = 0; // 0 = unknown
    std::string setCode;
    std::string manaCost; // braces notation, e.g. "{2}{W}{U}"
    double cmc = 0;
    std::vector<std::string> colors;
    std::vector<std::string> colorIdentity;
    std::string typeLine;
    std::string rarity;
    std::string collectorNumber; // of the printing that made the card, for Arena's deck import
    std::optional<std::string> imageURI;
    // The images whose art identifies the card on screen, one per Arena printing, and their
    // hashes. Both are read and written under the catalog's lock.
    std::vector<std::string> artURIs;
    std::vector<KVArtHash> artHashes;
    std::string grade = "?";
    std::string reason;
    std::optional<double> gihWr;

    explicit KVCard(std::string cardName = {}) : name(std::move(cardName)) {}

    bool isLand() const { return typeLine.find("Land") != std::string::npos; }

    // The key under which names from Scryfall, the log and the service meet: the text before
    // the first "//", without surrounding spaces and tabs, in lower case.
    static std::string normalize(std::string_view text);
    std::string normalizedName() const { return normalize(name); }
};

using KVCardRef = std::shared_ptr<KVCard>;

// A card rectangle in coordinates normalised to the captured window (origin top-left).
struct KVNormRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// What vision made of one card rectangle on screen.
struct KVSlotMatch {
    int64_t index = 0; // slot number, in reading order
    KVCardRef card;    // none when nothing was identified
    double confidence = 0;
    std::string method = "none"; // "phash", "deduced" or "none"
    KVNormRect normRect;
};

// One advice row: a card of the current pack, its grade and reason, and its screen slot.
struct KVAdvice {
    KVCardRef card;
    std::string grade = "?";
    std::string reason;
    int64_t slot = -1;
};
