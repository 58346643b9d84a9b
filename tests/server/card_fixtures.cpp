#include "card_fixtures.hpp"

KVJson KVSTestCard::json() const {
    std::string cost = "{" + std::to_string(std::max(0, cmc - 1)) + "}";
    cost += color.empty() ? "{1}" : "{" + color + "}";
    KVJson card = {
        {"name", name}, {"set", "tst"},      {"rarity", rarity},    {"mana_cost", cost},
        {"cmc", cmc},   {"type_line", type}, {"oracle_text", text}, {"colors", KVJson::array()}};
    if (!color.empty()) {
        card["colors"].push_back(color);
    }
    if (type.find("Creature") != std::string::npos) {
        card["power"] = std::to_string(power);
        card["toughness"] = std::to_string(toughness);
    }
    return card;
}

KVSTestCard KVSVanilla(const std::string& name, const std::string& color, int cmc) {
    return {name, color, "common", cmc, "Creature — Bear", "", cmc, cmc};
}

KVSTestCard KVSRareRemoval(const std::string& name, const std::string& color, int cmc) {
    return {name, color, "rare", cmc, "Instant", "Destroy target creature.", 0, 0};
}

KVSCardIndex& KVSIndexOf(KVSCardIndex& index, const std::vector<KVSTestCard>& cards) {
    std::vector<KVJson> objects;
    objects.reserve(cards.size());
    for (const KVSTestCard& card : cards) {
        objects.push_back(card.json());
    }
    index.add(objects);
    return index;
}

int KVSDeckSize(const KVJson& deck) {
    int total = 0;
    for (const KVJson& spell : deck["spells"]) {
        total += spell["count"].get<int>();
    }
    for (const auto& [color, count] : deck["lands"].items()) {
        total += count.get<int>();
    }
    return total;
}
