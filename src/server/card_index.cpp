#include "server/card_index.hpp"

#include "base/utf8.hpp"
#include "server/card_quality.hpp"

#include <algorithm>
#include <mutex>

namespace {

constexpr std::string_view kColorOrder = "WUBRG";

const KVJson& frontFace(const KVJson& card) {
    const KVJson& faces = KVJsonAt(card, "card_faces");
    if (faces.is_array() && !faces.empty() && faces.front().is_object()) {
        return faces.front();
    }
    return card;
}

// A face's field, else the card's.
std::string field(const KVJson& card, const char* key) {
    if (auto own = KVJsonString(KVJsonAt(frontFace(card), key))) {
        return *own;
    }
    return KVJsonString(KVJsonAt(card, key), "");
}

int statOf(const std::string& text) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    return std::stoi(text);
}

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

} // namespace

bool KVSCardFacts::isLand() const {
    return contains(typeLine, "Land") && !contains(typeLine, "Creature");
}

bool KVSCardFacts::isCreature() const {
    return contains(typeLine, "Creature");
}

bool KVSCardFacts::isBasicLand() const {
    return contains(typeLine, "Basic") && isLand();
}

bool KVSCardFacts::isRemoval() const {
    return KVSIsRemovalText(KVLowercase(oracleText));
}

bool KVSCardFacts::hasColor(char color) const {
    return std::find(colors.begin(), colors.end(), color) != colors.end();
}

std::vector<char> KVSColorsOf(const KVJson& list) {
    std::vector<char> out;
    for (const char color : kColorOrder) {
        if (list.is_array() && std::any_of(list.begin(), list.end(), [color](const KVJson& item) {
                return item.is_string() && item.get<std::string>() == std::string(1, color);
            })) {
            out.push_back(color);
        }
    }
    return out;
}

std::string KVSColorName(char color) {
    switch (color) {
    case 'W':
        return "White";
    case 'U':
        return "Blue";
    case 'B':
        return "Black";
    case 'R':
        return "Red";
    case 'G':
        return "Green";
    default:
        return "Colorless";
    }
}

void KVSCardIndex::add(const std::vector<KVJson>& cards) {
    std::vector<KVSCardFactsRef> made;
    for (const KVJson& card : cards) {
        const std::string name = KVJsonString(KVJsonAt(card, "name"), "");
        if (name.empty()) {
            continue;
        }
        auto facts = std::make_shared<KVSCardFacts>();
        facts->name = name;
        facts->setCode = KVLowercase(KVJsonString(KVJsonAt(card, "set"), ""));
        facts->rarity = KVJsonString(KVJsonAt(card, "rarity"), "");
        facts->manaCost = field(card, "mana_cost");
        facts->typeLine = field(card, "type_line");
        facts->oracleText = field(card, "oracle_text");
        facts->cmc = std::max(0.0, KVJsonDouble(KVJsonAt(card, "cmc"), 0));
        const KVJson& colors = KVJsonAt(frontFace(card), "colors");
        facts->colors = KVSColorsOf(colors.is_array() ? colors : KVJsonAt(card, "colors"));
        facts->power = statOf(field(card, "power"));
        facts->toughness = statOf(field(card, "toughness"));
        const KVSQuality quality = KVSCardQuality(*facts);
        facts->quality = quality.score;
        facts->reason = quality.reason;
        made.push_back(std::move(facts));
    }
    KVMutexLock lock(mutex_);
    auto next = std::make_shared<KVSCardSnapshot>(*cards_);
    for (auto& facts : made) {
        if (!facts->setCode.empty() &&
            std::find(sets_.begin(), sets_.end(), facts->setCode) == sets_.end()) {
            sets_.push_back(facts->setCode);
        }
        const std::string key = KVLowercase(facts->name);
        if (const auto rated = ratings_.find(key); rated != ratings_.end()) {
            auto copy = std::make_shared<KVSCardFacts>(*facts);
            copy->quality = rated->second;
            facts = std::move(copy);
        }
        next->byName_.emplace(key, std::move(facts));
    }
    cards_ = std::move(next);
}

void KVSCardIndex::markSet(std::string_view setCode) {
    const std::string code = KVLowercase(setCode);
    KVMutexLock lock(mutex_);
    if (std::find(sets_.begin(), sets_.end(), code) == sets_.end()) {
        sets_.push_back(code);
    }
}

void KVSCardIndex::setRatings(const std::map<std::string, double>& ratings) {
    KVMutexLock lock(mutex_);
    ratings_.clear();
    for (const auto& [name, score] : ratings) {
        ratings_[KVLowercase(name)] = std::clamp(score, 0.0, 5.0);
    }
    auto next = std::make_shared<KVSCardSnapshot>(*cards_);
    for (auto& [key, facts] : next->byName_) {
        if (const auto rated = ratings_.find(key); rated != ratings_.end()) {
            auto copy = std::make_shared<KVSCardFacts>(*facts);
            copy->quality = rated->second;
            facts = std::move(copy);
        }
    }
    cards_ = std::move(next);
}

namespace {

// Every name of every analysis is looked up: lowered into a reused buffer, not a new string.
const std::string& lookupKey(std::string_view name) {
    thread_local std::string key;
    KVLowercaseInto(KVTrimmed(name), &key);
    return key;
}

} // namespace

const KVSCardFactsRef* KVSCardSnapshot::entry(std::string_view name) const {
    const auto found = byName_.find(lookupKey(name));
    return found == byName_.end() ? nullptr : &found->second;
}

const KVSCardFacts* KVSCardSnapshot::find(std::string_view name) const {
    const KVSCardFactsRef* card = entry(name);
    return card ? card->get() : nullptr;
}

KVSCardFactsRef KVSCardIndex::find(std::string_view name) const {
    const auto cards = snapshot(); // held while the entry is read
    const KVSCardFactsRef* card = cards->entry(name);
    return card ? *card : nullptr;
}

std::shared_ptr<const KVSCardSnapshot> KVSCardIndex::snapshot() const {
    KVMutexLock lock(mutex_);
    return cards_;
}

bool KVSCardIndex::hasSet(std::string_view setCode) const {
    const std::string code = KVLowercase(setCode);
    KVMutexLock lock(mutex_);
    return std::find(sets_.begin(), sets_.end(), code) != sets_.end();
}

size_t KVSCardIndex::size() const {
    return snapshot()->byName_.size();
}
