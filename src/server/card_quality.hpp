#pragma once

#include <string>
#include <string_view>

struct KVSCardFacts;

struct KVSQuality {
    double score = 0; // 0 to 5
    std::string reason;
};

// How good a card is in limited on its own, from its data alone: rarity, body for the mana,
// evasion, removal, card advantage; lands low.
KVSQuality KVSCardQuality(const KVSCardFacts& card);

// Whether rules text (lower-case) deals with an opposing creature.
bool KVSIsRemovalText(const std::string& lowerText);

// One of the 13 grades, A+ down to F.
std::string KVSGradeFor(double score);
