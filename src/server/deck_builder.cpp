#include "server/deck_builder.hpp"

#include "server/lane.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace {

constexpr size_t kMaxExpensive = 4; // spells of mana value 5 or more before the curve bends

struct Entry {
    std::string name; // as the pool gave it
    KVSCardFactsRef card;
};

bool castableIn(const KVSCardFacts& card, const std::string& colors) {
    return std::all_of(card.colors.begin(), card.colors.end(),
                       [&colors](char c) { return colors.find(c) != std::string::npos; });
}

// The best spells of the pair, in deck order; the expensive end trimmed to a curve.
std::vector<const Entry*> pickSpells(const std::vector<Entry>& spells, const std::string& pair) {
    std::vector<const Entry*> chosen;
    std::vector<const Entry*> spare;
    size_t expensive = 0;
    for (const Entry& entry : spells) {
        if (!entry.card || !castableIn(*entry.card, pair)) {
            continue;
        }
        const bool heavy = entry.card->cmc >= 5;
        if (chosen.size() < KVSDeckBuilder::kSpells && (!heavy || expensive < kMaxExpensive)) {
            chosen.push_back(&entry);
            expensive += heavy ? 1 : 0;
        } else {
            spare.push_back(&entry);
        }
    }
    for (const Entry* entry : spare) {
        if (chosen.size() == KVSDeckBuilder::kSpells) {
            break;
        }
        chosen.push_back(entry);
    }
    return chosen;
}

double strength(const std::vector<const Entry*>& chosen) {
    double sum = 0;
    for (const Entry* entry : chosen) {
        sum += entry->card->quality;
    }
    return sum;
}

} // namespace

std::vector<int> KVSDeckBuilder::largestRemainder(const std::vector<double>& weights, int total) {
    std::vector<int> parts(weights.size(), 0);
    const double sum = std::accumulate(weights.begin(), weights.end(), 0.0);
    if (weights.empty() || sum <= 0) {
        return parts;
    }
    std::vector<std::pair<double, size_t>> remainders;
    int given = 0;
    for (size_t i = 0; i < weights.size(); ++i) {
        const double exact = weights[i] / sum * total;
        parts[i] = static_cast<int>(std::floor(exact));
        given += parts[i];
        remainders.emplace_back(exact - parts[i], i);
    }
    std::stable_sort(remainders.begin(), remainders.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t i = 0; given < total; ++i, ++given) {
        ++parts[remainders[i % remainders.size()].second];
    }
    return parts;
}

KVJson KVSDeckBuilder::build(const std::vector<std::string>& pool) const {
    std::vector<Entry> spells;
    std::vector<Entry> unknown;
    for (const std::string& name : pool) {
        Entry entry{name, cards_.find(name)};
        if (!entry.card) {
            unknown.push_back(entry);
        } else if (!entry.card->isLand()) {
            spells.push_back(entry);
        }
    }
    // Strongest first; equal quality by name, so the pool's order never matters.
    std::stable_sort(spells.begin(), spells.end(), [](const Entry& a, const Entry& b) {
        return a.card->quality != b.card->quality ? a.card->quality > b.card->quality
                                                  : a.name < b.name;
    });
    std::sort(unknown.begin(), unknown.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });

    std::string pair;
    std::vector<const Entry*> chosen;
    double best = -1;
    for (size_t a = 0; a < kKVSColors.size(); ++a) {
        for (size_t b = a + 1; b < kKVSColors.size(); ++b) {
            const std::string candidate{kKVSColors[a], kKVSColors[b]};
            const auto picked = pickSpells(spells, candidate);
            // More playables first, then their strength.
            const double score = static_cast<double>(picked.size()) * 100 + strength(picked);
            if (score > best) {
                best = score;
                pair = candidate;
                chosen = picked;
            }
        }
    }
    std::string splash;
    // Too few in two colours: the best of the rest fills the deck, then names without data.
    for (const Entry& entry : spells) {
        if (chosen.size() == kSpells) {
            break;
        }
        if (std::find(chosen.begin(), chosen.end(), &entry) == chosen.end()) {
            chosen.push_back(&entry);
            for (const char c : entry.card->colors) {
                if (pair.find(c) == std::string::npos && splash.find(c) == std::string::npos) {
                    splash += c;
                }
            }
        }
    }
    for (const Entry& entry : unknown) {
        if (chosen.size() == kSpells) {
            break;
        }
        chosen.push_back(&entry);
    }

    // Basics by coloured mana symbols, every colour of the deck at least one symbol's worth.
    std::string colors = pair + splash;
    std::vector<double> pips(colors.size(), 0);
    for (const Entry* entry : chosen) {
        if (!entry->card) {
            continue;
        }
        for (size_t i = 0; i < colors.size(); ++i) {
            pips[i] += static_cast<double>(
                std::count(entry->card->manaCost.begin(), entry->card->manaCost.end(), colors[i]));
        }
    }
    if (std::accumulate(pips.begin(), pips.end(), 0.0) == 0) {
        std::fill(pips.begin(), pips.end(), 1.0);
    }
    const std::vector<int> basics = largestRemainder(pips, kLands);
    KVJson lands = KVJson::object();
    KVJson colorList = KVJson::array();
    for (size_t i = 0; i < colors.size(); ++i) {
        if (basics[i] > 0) {
            lands[std::string(1, colors[i])] = basics[i];
            colorList.push_back(std::string(1, colors[i]));
        }
    }

    std::map<std::string, int> counts;
    std::vector<std::string> order;
    int creatures = 0;
    int removal = 0;
    int cheap = 0;
    for (const Entry* entry : chosen) {
        if (counts[entry->name]++ == 0) {
            order.push_back(entry->name);
        }
        if (entry->card) {
            creatures += entry->card->isCreature() ? 1 : 0;
            removal += entry->card->isRemoval() ? 1 : 0;
            cheap += entry->card->cmc <= 2 ? 1 : 0;
        }
    }
    KVJson spellList = KVJson::array();
    for (const std::string& name : order) {
        spellList.push_back({{"name", name}, {"count", counts[name]}});
    }
    std::string reasoning = KVSColorName(pair[0]) + " and " + KVSColorName(pair[1]) +
                            " hold the deepest playables of your pool.";
    if (!splash.empty()) {
        // Every colour reached into is named: "Red", "Red and White", "Red, White and Green".
        std::string reached;
        for (size_t i = 0; i < splash.size(); ++i) {
            reached += (i == 0                   ? ""
                        : i + 1 == splash.size() ? " and "
                                                 : ", ") +
                       KVSColorName(splash[i]);
        }
        reasoning += " Too few cards in two colours, so the deck reaches into " + reached + ".";
    }
    reasoning += " " + std::to_string(creatures) + " creatures, " + std::to_string(removal) +
                 " removal spells, " + std::to_string(chosen.size()) + " spells and " +
                 std::to_string(kLands) + " lands.";
    std::string howToPlay = cheap >= 6
                                ? "Curve out with your cheap creatures and keep attacking; "
                                : "Stabilise early, then take over with your stronger late cards; ";
    howToPlay += removal >= 3 ? "save removal for the creatures that threaten you most."
                              : "you have little removal, so trade creatures in combat.";
    return {{"colors", colorList},
            {"spells", spellList},
            {"lands", lands},
            {"reasoning", reasoning},
            {"howToPlay", howToPlay}};
}
