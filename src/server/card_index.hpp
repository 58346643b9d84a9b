#pragma once

#include "base/json.hpp"

#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What grading knows about one card, read once from its Scryfall object.
struct KVSCardFacts {
    std::string name;
    std::string setCode; // lower-case, as Scryfall writes it
    std::string rarity;  // "common", "uncommon", "rare", "mythic" or ""
    std::string manaCost;
    std::string typeLine;
    std::string oracleText;
    double cmc = 0;
    std::vector<char> colors; // of "WUBRG", in that order
    int power = -1;           // -1 when not a creature or not a number
    int toughness = -1;
    double quality = 0; // 0 to 5, from the card's own data or the operator's ratings
    std::string reason; // the one line that explains the quality

    bool isLand() const;
    bool isCreature() const;
    bool isBasicLand() const;
    bool isRemoval() const;
    bool hasColor(char color) const;
};

using KVSCardFactsRef = std::shared_ptr<const KVSCardFacts>;

// Every card the service can grade, found by name regardless of case. Filled at start and,
// when a set is fetched on demand, from any worker; lookups are shared, additions exclusive.
class KVSCardIndex {
public:
    // Adds Scryfall card objects; a name already known keeps its first printing. For a
    // two-faced card the front face speaks for it.
    void add(const std::vector<KVJson>& cards);
    // Records that a set was loaded, whatever set codes its cards carry.
    void markSet(std::string_view setCode);
    // Operator ratings (0 to 5, by card name) take the place of the computed quality.
    void setRatings(const std::map<std::string, double>& ratings);

    KVSCardFactsRef find(std::string_view name) const;
    bool hasSet(std::string_view setCode) const;
    size_t size() const;

private:
    mutable std::shared_mutex mutex_;
    std::unordered_map<std::string, KVSCardFactsRef> byName_; // lower-case names
    std::map<std::string, double> ratings_;                   // lower-case names
    std::vector<std::string> sets_;
};

// The colour letters of a colour list such as ["G", "W"], in WUBRG order.
std::vector<char> KVSColorsOf(const KVJson& list);
std::string KVSColorName(char color);
