#include "server/card_quality.hpp"

#include "base/utf8.hpp"
#include "server/card_index.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace {

bool has(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

double rarityBase(const std::string& rarity) {
    if (rarity == "mythic") {
        return 2.9;
    }
    if (rarity == "rare") {
        return 2.7;
    }
    if (rarity == "uncommon") {
        return 2.4;
    }
    return 2.2;
}

struct Keyword {
    std::string_view text;
    double value;
};

// Abilities that win combat or get damage through, roughly by how much they matter.
constexpr std::array<Keyword, 11> kEvasion = {{
    {"flying", 0.45},
    {"can't be blocked", 0.45},
    {"menace", 0.25},
    {"trample", 0.15},
    {"deathtouch", 0.3},
    {"lifelink", 0.2},
    {"first strike", 0.2},
    {"double strike", 0.4},
    {"vigilance", 0.1},
    {"haste", 0.15},
    {"hexproof", 0.2},
}};

} // namespace

bool KVSIsRemovalText(const std::string& text) {
    return has(text, "destroy target") || has(text, "exile target") ||
           (has(text, "damage to") && (has(text, "target creature") || has(text, "any target"))) ||
           has(text, "fights target") || has(text, "fight target") ||
           (has(text, "target creature") && has(text, "gets -")) ||
           has(text, "return target creature to its owner's hand");
}

KVSQuality KVSCardQuality(const KVSCardFacts& card) {
    if (card.isLand()) {
        if (card.isBasicLand()) {
            return {0.0, "A basic land"};
        }
        return {1.2, "A land: worth it only for the colours it makes"};
    }
    const std::string text = KVLowercase(card.oracleText);
    double score = rarityBase(card.rarity);
    std::vector<std::string> why;

    if (KVSIsRemovalText(text)) {
        score += 1.4;
        why.emplace_back("removal");
    }
    if (has(text, "counter target spell")) {
        score += 0.4;
        why.emplace_back("a counterspell");
    }
    if (has(text, "draw two") || has(text, "draw three")) {
        score += 0.7;
        why.emplace_back("card advantage");
    } else if (has(text, "draw a card")) {
        score += 0.35;
        why.emplace_back("draws a card");
    }
    if (has(text, "create") && has(text, "token")) {
        score += 0.3;
        why.emplace_back("makes tokens");
    }
    if (card.isCreature() && card.power >= 0 && card.toughness >= 0) {
        // A fair body has power plus toughness about twice its mana value.
        const double surplus = card.power + card.toughness - 2 * card.cmc;
        score += std::clamp(surplus * 0.2, -0.8, 0.8);
        char body[64];
        std::snprintf(body, sizeof body, "a %d/%d for %g", card.power, card.toughness, card.cmc);
        if (surplus >= 1) {
            why.push_back(std::string("an efficient body (") + (body + 2) + ")");
        } else if (surplus <= -2) {
            why.push_back(std::string("a weak body (") + (body + 2) + ")");
        }
        double evasion = 0;
        std::string first;
        for (const Keyword& keyword : kEvasion) {
            if (has(text, keyword.text)) {
                evasion += keyword.value;
                if (first.empty()) {
                    first = keyword.text;
                }
            }
        }
        score += std::min(evasion, 0.8);
        if (!first.empty()) {
            why.push_back("evasive (" + first + ")");
        }
        if (text.empty() && why.empty()) {
            why.emplace_back("a vanilla creature");
        }
    }
    if (card.cmc >= 7) {
        score -= 0.4;
        why.emplace_back("very expensive");
    }
    score = std::clamp(score, 0.0, 5.0);
    std::string reason;
    for (const std::string& part : why) {
        reason += (reason.empty() ? "" : ", ") + part;
    }
    if (reason.empty()) {
        reason = card.isCreature() ? "a fair creature" : "a fair spell";
    }
    reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
    return {score, reason};
}

std::string KVSGradeFor(double score) {
    static constexpr std::array<std::pair<double, const char*>, 12> kSteps = {{
        {4.4, "A+"},
        {4.1, "A"},
        {3.8, "A-"},
        {3.5, "B+"},
        {3.2, "B"},
        {2.9, "B-"},
        {2.6, "C+"},
        {2.3, "C"},
        {2.0, "C-"},
        {1.7, "D+"},
        {1.4, "D"},
        {1.0, "D-"},
    }};
    for (const auto& [floor, grade] : kSteps) {
        if (score >= floor) {
            return grade;
        }
    }
    return "F";
}
