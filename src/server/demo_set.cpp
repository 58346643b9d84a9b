#include "server/demo_set.hpp"

#include "base/utf8.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr std::array<const char*, 5> kColorWords = {"Dawn", "Tide", "Dusk", "Ember", "Thorn"};
constexpr std::array<const char*, 5> kLetters = {"W", "U", "B", "R", "G"};
constexpr std::array<const char*, 22> kRoles = {
    "Sentinel", "Adept",    "Stalker",  "Drake",   "Oracle", "Brute",    "Herald", "Scout",
    "Rebuke",   "Warden",   "Insight",  "Acolyte", "Raider", "Sage",     "Shade",  "Verdict",
    "Lancer",   "Familiar", "Colossus", "Tyrant",  "Doom",   "Ascendant"};
// Kinds by role: the removal spells, the card-draw spell, the rest creatures.
constexpr std::array<int, 3> kRemoval = {8, 15, 20};
constexpr int kDraw = 10;

constexpr std::array<const char*, 5> kKeyword = {"Flying", "Flying", "Deathtouch", "Haste",
                                                 "Trample"};
constexpr std::array<const char*, 5> kRemovalText = {
    "Exile target creature an opponent controls.",
    "Return target creature to its owner's hand. Draw a card.",
    "Destroy target creature.",
    "This spell deals 3 damage to any target.",
    "Target creature you control fights target creature you don't control.",
};
constexpr std::array<const char*, 5> kArtifacts = {"Korvane Lantern", "Clockwork Hound",
                                                   "Iron Idol", "Glass Key", "Stone Golem"};
constexpr std::array<const char*, 5> kLands = {"Glimmering Strand", "Drowned Crypt", "Ashen Pit",
                                               "Ember Grove", "Sunlit Glade"};

// "{text}", built by appending: g++ 12 at -O3 warns falsely about "{" + text.
std::string braced(const std::string& text) {
    std::string out = "{";
    out += text;
    out += '}';
    return out;
}

std::string rarityOf(int role) {
    if (role >= 21) {
        return "mythic";
    }
    if (role >= 18) {
        return "rare";
    }
    return role >= 12 ? "uncommon" : "common";
}

bool contains(const std::array<int, 3>& list, int value) {
    for (const int item : list) {
        if (item == value) {
            return true;
        }
    }
    return false;
}

KVJson card(int index, const std::string& base) {
    const int64_t arenaId = KVSDemoSet::kFirstArenaId + index;
    char id[48];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", index + 1);
    const std::string art = base + "/art/" + std::to_string(arenaId) + ".jpg";
    return {{"object", "card"},
            {"id", id},
            {"lang", "en"},
            {"layout", "normal"},
            {"set", KVSDemoSet::kCode},
            {"set_name", "Korvane Demo"},
            {"collector_number", std::to_string(index + 1)},
            {"arena_id", arenaId},
            {"games", {"arena"}},
            {"image_uris", {{"small", art}, {"normal", art}, {"large", art}, {"art_crop", art}}}};
}

} // namespace

std::vector<KVJson> KVSDemoSet::cards(const std::string& base) {
    std::vector<KVJson> out;
    int index = 0;
    for (size_t c = 0; c < kColorWords.size(); ++c) {
        for (int role = 0; role < static_cast<int>(kRoles.size()); ++role, ++index) {
            KVJson made = card(index, base);
            const std::string name = std::string(kColorWords[c]) + " " + kRoles[role];
            const int cmc = 1 + (role * 5 + static_cast<int>(c)) % 6;
            const std::string pips = cmc >= 4 && role % 2 == 0
                                         ? std::string("{") + kLetters[c] + "}{" + kLetters[c] + "}"
                                         : std::string("{") + kLetters[c] + "}";
            const int generic = cmc - static_cast<int>(pips.size() / 3);
            made["name"] = name;
            made["rarity"] = rarityOf(role);
            made["mana_cost"] = (generic > 0 ? braced(std::to_string(generic)) : "") + pips;
            made["cmc"] = cmc;
            made["colors"] = {kLetters[c]};
            made["color_identity"] = {kLetters[c]};
            if (contains(kRemoval, role)) {
                made["type_line"] = role == 20 ? "Sorcery" : "Instant";
                made["oracle_text"] = kRemovalText[c];
            } else if (role == kDraw) {
                made["type_line"] = "Sorcery";
                made["oracle_text"] = "Draw two cards.";
            } else {
                made["type_line"] = std::string("Creature — ") + kRoles[role];
                made["oracle_text"] = role % 3 == 1 ? kKeyword[c] : "";
                const int power =
                    std::max(1, cmc + (role % 3 == 0 ? 1 : 0) - (role % 4 == 0 ? 1 : 0));
                made["power"] = std::to_string(power);
                made["toughness"] = std::to_string(cmc + role % 2);
            }
            out.push_back(std::move(made));
        }
    }
    for (size_t i = 0; i < kArtifacts.size(); ++i, ++index) {
        KVJson made = card(index, base);
        const int cmc = 2 + static_cast<int>(i);
        made["name"] = kArtifacts[i];
        made["rarity"] = i == 0 ? "rare" : "uncommon";
        made["mana_cost"] = braced(std::to_string(cmc));
        made["cmc"] = cmc;
        made["colors"] = KVJson::array();
        made["color_identity"] = KVJson::array();
        made["type_line"] = "Artifact Creature — Construct";
        made["oracle_text"] = i == 0 ? "When this creature enters, draw a card." : "";
        made["power"] = std::to_string(cmc);
        made["toughness"] = std::to_string(cmc);
        out.push_back(std::move(made));
    }
    for (size_t i = 0; i < kLands.size(); ++i, ++index) {
        KVJson made = card(index, base);
        const std::string a = kLetters[i];
        const std::string b = kLetters[(i + 1) % kLetters.size()];
        made["name"] = kLands[i];
        made["rarity"] = "common";
        made["mana_cost"] = "";
        made["cmc"] = 0;
        made["colors"] = KVJson::array();
        made["color_identity"] = {a, b};
        made["type_line"] = "Land";
        std::string text = "This land enters tapped.\n{T}: Add ";
        text += braced(a);
        text += " or ";
        text += braced(b);
        text += '.';
        made["oracle_text"] = text;
        out.push_back(std::move(made));
    }
    return out;
}

bool KVSDemoSet::isAskedFor(std::string_view query) {
    const std::string wanted = std::string("e:") + kCode;
    size_t start = 0;
    while (start < query.size()) {
        const size_t end = std::min(query.find(' ', start), query.size());
        if (KVLowercase(query.substr(start, end - start)) == wanted) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

int KVSDemoSet::indexOfArenaId(int64_t arenaId) {
    const int64_t index = arenaId - kFirstArenaId;
    return index >= 0 && index < kSize ? static_cast<int>(index) : -1;
}
