#pragma once

#include "base/json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class KVCatalog;

// One line of the deck window: a section heading ("Head"), a spell or sideboard card ("Row") or
// a basic land line ("Land"). Spells carry their mana cost in braces notation.
struct KVDeckRow {
    std::string text;
    std::string kind;
    std::optional<std::string> cost;

    bool operator==(const KVDeckRow&) const = default;
};

// The deck window's content for one build.
struct KVDeckContent {
    std::string title;
    std::string sub;
    std::string reasoning;
    std::string howToPlay;
    std::vector<KVDeckRow> maindeck;
    std::vector<KVDeckRow> sideboard;
    // The build in Arena's import format, for the clipboard.
    std::string arenaText;
};

// The symbols of a cost: each run between "{" and "}", upper-cased, in order. Text outside
// braces (" // " between a split card's faces) is skipped; a "{" inside a symbol restarts it.
std::vector<std::string> ParseCost(std::string_view cost);

// The mana value of a cost: digits count their number, X nothing, a hybrid symbol its last
// all-digit part or 1, anything else 1.
int64_t CostValue(std::string_view cost);

// The deck window's texts and rows for the service's deck answer and the drafted pool. Keys of
// the wrong type count as empty; counts are read as the service sent them (0 shows as one card,
// a negative land count adds nothing).
KVDeckContent KVDeckContentFrom(const KVJson& answer, const std::vector<std::string>& poolNames,
                                const KVCatalog* catalog);

// The basic land for a colour letter (W, U, B, R, G), or "" for any other.
std::string_view KVBasicLandName(std::string_view colour);
