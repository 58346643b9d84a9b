#pragma once

#include "base/json.hpp"
#include "server/card_index.hpp"

#include <string>
#include <vector>

// A card in Scryfall's shape, as the card index reads it.
struct KVSTestCard {
    std::string name;
    std::string color; // one letter, or "" for colourless
    std::string rarity = "common";
    int cmc = 2;
    std::string type = "Creature — Bear";
    std::string text;
    int power = 2;
    int toughness = 2;

    KVJson json() const;
};

// A vanilla common creature of fair size.
KVSTestCard KVSVanilla(const std::string& name, const std::string& color, int cmc = 2);
// A rare instant that kills a creature.
KVSTestCard KVSRareRemoval(const std::string& name, const std::string& color, int cmc = 2);

KVSCardIndex& KVSIndexOf(KVSCardIndex& index, const std::vector<KVSTestCard>& cards);

// The cards in a deck the service built: its spells and its basic lands.
int KVSDeckSize(const KVJson& deck);
