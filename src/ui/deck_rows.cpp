#include "ui/deck_rows.hpp"

#include "base/ascii.hpp"
#include "base/utf8.hpp"
#include "draft/card.hpp"
#include "draft/catalog.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <utility>

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kBasics = {{
    {"W", "Plains"},
    {"U", "Island"},
    {"B", "Swamp"},
    {"R", "Mountain"},
    {"G", "Forest"},
}};

// Counts come from the service: a huge one must not wrap the totals.
int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    }
    return sum;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), KVIsAsciiDigit);
}

// The number of an all-digit symbol, saturating: "{99999999999999999999}" must not throw.
int64_t digitValue(std::string_view digits) {
    int64_t value = 0;
    for (const char c : digits) {
        if (value > (std::numeric_limits<int64_t>::max() - 9) / 10) {
            return std::numeric_limits<int64_t>::max();
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string countedName(int64_t count, const std::string& name) {
    return count < 2 ? name : std::to_string(count) + "x " + name;
}

struct Spell {
    std::string name;
    int64_t count = 1;
    KVCardRef card;
    int64_t value = 0;
    std::string sortName;
};

std::vector<Spell> sortedSpells(const KVJson& answer, const KVCatalog* catalog) {
    std::vector<Spell> spells;
    const KVJson& list = KVJsonAt(answer, "spells");
    if (!list.is_array()) {
        return spells;
    }
    for (const KVJson& entry : list) {
        Spell spell;
        spell.name = KVJsonString(KVJsonAt(entry, "name"), "");
        spell.count = std::max<int64_t>(1, KVJsonInt64(KVJsonAt(entry, "count"), 0));
        spell.card = catalog ? catalog->cardNamed(spell.name) : nullptr;
        spell.value = spell.card ? CostValue(spell.card->manaCost) : 0;
        spell.sortName = KVLowercase(spell.name);
        spells.push_back(std::move(spell));
    }
    std::stable_sort(spells.begin(), spells.end(), [](const Spell& a, const Spell& b) {
        return a.value != b.value ? a.value < b.value : a.sortName < b.sortName;
    });
    return spells;
}

// One line of Arena's import format: "N Name (SET) number" when the printing is known.
std::string arenaLine(int64_t count, const std::string& name, const KVCardRef& card) {
    std::string line = std::to_string(count) + " " + (card ? card->name : name);
    if (card && !card->setCode.empty() && !card->collectorNumber.empty()) {
        line += " (" + card->setCode + ") " + card->collectorNumber;
    }
    return line + "\n";
}

} // namespace

std::vector<std::string> ParseCost(std::string_view cost) {
    std::vector<std::string> symbols;
    std::optional<std::string> open;
    for (const char c : cost) {
        if (c == '{') {
            open = std::string();
        } else if (c == '}') {
            if (open && !open->empty()) {
                symbols.push_back(std::move(*open));
            }
            open.reset();
        } else if (open) {
            open->push_back(KVAsciiUpper(c));
        }
    }
    return symbols;
}

int64_t CostValue(std::string_view cost) {
    int64_t total = 0;
    for (const std::string& symbol : ParseCost(cost)) {
        int64_t value = 1;
        if (allDigits(symbol)) {
            value = digitValue(symbol);
        } else if (symbol == "X") {
            value = 0;
        } else if (symbol.find('/') != std::string::npos) {
            std::string_view rest = symbol;
            while (!rest.empty()) {
                const size_t slash = rest.find('/');
                const std::string_view part = rest.substr(0, slash);
                if (allDigits(part)) {
                    value = digitValue(part);
                }
                rest = slash == std::string_view::npos ? "" : rest.substr(slash + 1);
            }
        }
        total = saturatingAdd(total, value);
    }
    return total;
}

std::string_view KVBasicLandName(std::string_view colour) {
    for (const auto& [letter, name] : kBasics) {
        if (letter == colour) {
            return name;
        }
    }
    return {};
}

KVDeckContent KVDeckContentFrom(const KVJson& answer, const std::vector<std::string>& poolNames,
                                const KVCatalog* catalog) {
    KVDeckContent content;
    std::string colours;
    if (const KVJson& list = KVJsonAt(answer, "colors"); list.is_array()) {
        for (const KVJson& colour : list) {
            colours += KVJsonString(colour, "");
        }
    }
    content.title = (colours.empty() ? "Recommended" : colours) + " deck";
    content.reasoning = KVJsonString(KVJsonAt(answer, "reasoning"), "");
    content.howToPlay = KVJsonString(KVJsonAt(answer, "howToPlay"), "");

    const std::vector<Spell> spells = sortedSpells(answer, catalog);
    int64_t spellTotal = 0;
    std::map<std::string, int64_t> inDeck; // by card key
    content.maindeck.push_back({"Maindeck", "Head", std::nullopt});
    content.arenaText = "Deck\n";
    for (const Spell& spell : spells) {
        spellTotal = saturatingAdd(spellTotal, spell.count);
        inDeck[KVCard::normalize(spell.name)] =
            saturatingAdd(inDeck[KVCard::normalize(spell.name)], spell.count);
        content.maindeck.push_back(
            {countedName(spell.count, spell.name), "Row",
             spell.card ? std::optional<std::string>(spell.card->manaCost) : std::nullopt});
        content.arenaText += arenaLine(spell.count, spell.name, spell.card);
    }

    int64_t landTotal = 0;
    const KVJson& lands = KVJsonAt(answer, "lands");
    if (lands.is_object() && !lands.empty()) {
        content.maindeck.push_back({"Lands", "Head", std::nullopt});
        for (const auto& [letter, name] : kBasics) {
            const int64_t count = KVJsonInt64(KVJsonAt(lands, letter), 0);
            if (count <= 0) {
                continue; // skipped rows add nothing to the total either
            }
            landTotal = saturatingAdd(landTotal, count);
            const std::string land(name);
            content.maindeck.push_back({std::to_string(count) + "x " + land, "Land", std::nullopt});
            content.arenaText +=
                arenaLine(count, land, catalog ? catalog->cardNamed(land) : nullptr);
        }
    }

    // The pool's cards that the build leaves out, in the order they were drafted.
    std::vector<std::pair<std::string, int64_t>> cut;
    int64_t cutTotal = 0;
    for (const std::string& name : poolNames) {
        if (int64_t& left = inDeck[KVCard::normalize(name)]; left > 0) {
            --left;
            continue;
        }
        auto found = std::find_if(cut.begin(), cut.end(),
                                  [&](const auto& entry) { return entry.first == name; });
        if (found == cut.end()) {
            cut.emplace_back(name, 1);
        } else {
            ++found->second;
        }
        ++cutTotal;
    }
    if (cutTotal > 0) {
        content.sideboard.push_back(
            {"Take these " + std::to_string(cutTotal) + " out of the deck", "Head", std::nullopt});
        content.arenaText += "\nSideboard\n";
        for (const auto& [name, count] : cut) {
            content.sideboard.push_back({countedName(count, name), "Row", std::nullopt});
            content.arenaText +=
                arenaLine(count, name, catalog ? catalog->cardNamed(name) : nullptr);
        }
    }

    content.sub = std::to_string(spellTotal) + " spells \xC2\xB7 " + std::to_string(landTotal) +
                  " lands \xC2\xB7 " + std::to_string(saturatingAdd(spellTotal, landTotal)) +
                  " cards";
    if (cutTotal > 0) {
        content.sub += " \xC2\xB7 " + std::to_string(cutTotal) + " to cut";
    }
    return content;
}
