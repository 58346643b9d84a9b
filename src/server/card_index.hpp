#pragma once

#include "base/json.hpp"
#include "base/thread_annotations.hpp"

#include <map>
#include <memory>
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

// The cards by lower-case name at one moment. Held by an analysis, it answers every lookup
// without a lock or a reference count, and keeps each card it found alive.
class KVSCardSnapshot {
public:
    const KVSCardFacts* find(std::string_view name) const;

private:
    friend class KVSCardIndex;
    const KVSCardFactsRef* entry(std::string_view name) const; // null when unknown
    std::unordered_map<std::string, KVSCardFactsRef> byName_;
};

// Every card the service can grade, found by name regardless of case. Filled at start and,
// when a set is fetched on demand, from any worker. Additions make a new snapshot, so readers
// never wait for them and a snapshot taken earlier stays as it was.
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
    std::shared_ptr<const KVSCardSnapshot> snapshot() const;
    bool hasSet(std::string_view setCode) const;
    size_t size() const;

private:
    mutable KVMutex mutex_;
    std::shared_ptr<const KVSCardSnapshot>
        cards_ GUARDED_BY(mutex_) = std::make_shared<KVSCardSnapshot>();
    std::map<std::string, double> ratings_ GUARDED_BY(mutex_); // lower-case names
    std::vector<std::string> sets_ GUARDED_BY(mutex_);
};

// The colour letters of a colour list such as ["G", "W"], in WUBRG order.
std::vector<char> KVSColorsOf(const KVJson& list);
std::string KVSColorName(char color);
