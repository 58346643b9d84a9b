#include "draft/catalog.hpp"
#include "base/ascii.hpp"
#include "base/config.hpp"
#include "base/files.hpp"
#include "base/utf8.hpp"

#include <algorithm>

namespace {

std::string uppercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = KVAsciiUpper(c);
    }
    return out;
}

std::vector<std::string> stringList(const KVJson& value) {
    std::vector<std::string> out;
    if (value.is_array()) {
        for (const KVJson& element : value) {
            if (element.is_string()) {
                out.push_back(element.get<std::string>());
            }
        }
    }
    return out;
}

// The face whose picture and cost stand for the card: the front of a two-faced card, else the
// card itself.
const KVJson& frontFace(const KVJson& card) {
    const KVJson& faces = KVJsonAt(card, "card_faces");
    if (faces.is_array() && !faces.empty() && faces.front().is_object()) {
        return faces.front();
    }
    return card;
}

std::optional<std::string> imageOf(const KVJson& card) {
    const KVJson& faceImages = KVJsonAt(frontFace(card), "image_uris");
    const KVJson& images = faceImages.is_object() ? faceImages : KVJsonAt(card, "image_uris");
    for (const char* size : {"normal", "small", "large"}) {
        if (auto uri = KVJsonString(KVJsonAt(images, size))) {
            return uri;
        }
    }
    return std::nullopt;
}

KVCardRef makeCard(const KVJson& printing, const std::string& name, int64_t arenaId,
                   const std::optional<std::string>& image, const std::string& code) {
    auto card = std::make_shared<KVCard>(name);
    card->arenaId = arenaId;
    const auto set = KVJsonString(KVJsonAt(printing, "set"));
    card->setCode = set ? uppercased(*set) : code;
    card->manaCost = KVJsonString(KVJsonAt(printing, "mana_cost"), "");
    if (card->manaCost.empty()) {
        card->manaCost = KVJsonString(KVJsonAt(frontFace(printing), "mana_cost"), "");
    }
    const KVJson& cmc = KVJsonAt(printing, "cmc");
    card->cmc = cmc.is_number() ? cmc.get<double>() : 0;
    card->colors = stringList(KVJsonAt(printing, "colors"));
    card->colorIdentity = stringList(KVJsonAt(printing, "color_identity"));
    card->typeLine = KVJsonString(KVJsonAt(printing, "type_line"), "");
    card->rarity = KVJsonString(KVJsonAt(printing, "rarity"), "");
    card->collectorNumber = KVJsonString(KVJsonAt(printing, "collector_number"), "");
    card->imageURI = image;
    if (image && arenaId != 0) {
        card->artURIs.push_back(*image);
    }
    return card;
}

} // namespace

KVCatalog::KVCatalog(std::string scryfallBase) : scryfall_(std::move(scryfallBase)) {}

bool KVCatalog::ensureSet(std::string_view requested, KVError* error) {
    const std::string code = uppercased(requested);
    {
        KVMutexLock lock(mutex_);
        wanted_ = code;
    }
    KVMutexLock load(loadMutex_);
    if (supersededBy(code, error)) {
        return false; // asked for another set while this one waited its turn
    }
    {
        KVMutexLock lock(mutex_);
        if (code == setCode_ && !byName_.empty()) {
            return true;
        }
        setCode_ = code;
        byName_.clear();
        byArenaId_.clear();
        ++generation_;
        status_ = code.empty() ? "no set" : "loading " + code;
    }
    if (code.empty()) {
        return false;
    }

    KVConfig::ensureDirs();
    const std::string path = cachePath(kCardCachePrefix, code);
    Index index;
    if (const auto cached = KVConfig::readJSON(path); cached && cached->is_array()) {
        index = indexOf(*cached, code);
    }
    // A cache file that names no card counts as absent: it never expires, so taking it would
    // leave the set empty for good.
    if (index.byName.empty()) {
        const auto printings = download(code, path, error);
        if (!printings) {
            return false;
        }
        index = indexOf(*printings, code);
    }
    if (supersededBy(code, error)) {
        return false;
    }
    install(std::move(index), code);
    return cardCount() > 0;
}

std::optional<KVJson> KVCatalog::download(const std::string& code, const std::string& path,
                                          KVError* error) {
    // A set no longer wanted stops between requests: a new set must not wait behind it.
    const auto giveUp = [this, &code] { return supersededBy(code, nullptr); };
    KVError failure;
    bool complete = true;
    auto own = scryfall_.fetchSetCards(code, &failure, &complete, giveUp);
    if (!own) {
        setStatus("scryfall failed: " + failure.message);
        if (error != nullptr) {
            *error = failure;
        }
        return std::nullopt;
    }
    KVJson printings = KVJson::array();
    for (KVJson& card : *own) {
        printings.push_back(std::move(card));
    }
    bool listed = false; // a download that gives up before the list is not whole
    std::vector<std::string> sheets;
    if (!giveUp()) {
        sheets = scryfall_.bonusSheets(code, &listed);
    }
    for (const std::string& sheet : sheets) {
        if (giveUp()) {
            complete = false;
            break;
        }
        bool sheetComplete = true;
        auto extra = scryfall_.fetchSetCards(sheet, nullptr, &sheetComplete, giveUp);
        complete = complete && extra && sheetComplete;
        if (extra) {
            for (KVJson& card : *extra) {
                printings.push_back(std::move(card));
            }
        }
    }
    // The cache never expires, so a partial download stays out of it: written, it would
    // hide the missing cards for good. The next start downloads again instead.
    if (complete && listed && !printings.empty()) {
        KVConfig::writeJSON(printings, path);
    }
    return printings;
}

KVCatalog::Index KVCatalog::indexOf(const KVJson& printings, const std::string& code) {
    // Built aside and swapped in, so lookups wait on the lock for a moment, not for the parse.
    Index index;
    auto& byName = index.byName;
    auto& byArenaId = index.byArenaId;
    for (const KVJson& printing : printings) {
        if (!printing.is_object()) {
            continue;
        }
        const auto name = KVJsonString(KVJsonAt(printing, "name"));
        if (!name || name->empty()) {
            continue;
        }
        const KVJson& idValue = KVJsonAt(printing, "arena_id");
        const int64_t arenaId = idValue.is_number() ? KVJsonInt64(idValue, 0) : 0;
        const std::string key = KVCard::normalize(*name);
        const auto image = imageOf(printing);

        if (const auto known = byName.find(key); known != byName.end()) {
            // Another printing of a known card: only an Arena printing adds an id and the art
            // that printing shows in the game.
            if (arenaId == 0) {
                continue;
            }
            KVCard& card = *known->second;
            if (card.arenaId == 0) {
                card.arenaId = arenaId;
            }
            byArenaId[arenaId] = known->second;
            if (image &&
                std::find(card.artURIs.begin(), card.artURIs.end(), *image) == card.artURIs.end()) {
                card.artURIs.push_back(*image);
            }
            continue;
        }
        auto card = makeCard(printing, *name, arenaId, image, code);
        if (arenaId != 0) {
            byArenaId[arenaId] = card;
        }
        byName.emplace(key, std::move(card));
    }
    // A card with no Arena printing is still recognised by its one picture.
    for (auto& [key, card] : byName) {
        if (card->artURIs.empty() && card->imageURI) {
            card->artURIs.push_back(*card->imageURI);
        }
    }
    return index;
}

void KVCatalog::install(Index index, const std::string& code) {
    KVMutexLock lock(mutex_);
    byName_ = std::move(index.byName);
    byArenaId_ = std::move(index.byArenaId);
    ++generation_;
    status_ = code + " (" + std::to_string(byName_.size()) + " cards)";
}

KVCardRef KVCatalog::cardNamed(std::string_view name) const {
    const std::string key = KVCard::normalize(name);
    KVMutexLock lock(mutex_);
    const auto it = byName_.find(key);
    return it == byName_.end() ? nullptr : it->second;
}

KVCardRef KVCatalog::cardForArenaId(int64_t arenaId) const {
    KVMutexLock lock(mutex_);
    const auto it = byArenaId_.find(arenaId);
    return it == byArenaId_.end() ? nullptr : it->second;
}

std::vector<KVCardRef> KVCatalog::resolveIds(const std::vector<int64_t>& ids) const {
    std::vector<KVCardRef> out;
    out.reserve(ids.size());
    KVMutexLock lock(mutex_);
    for (const int64_t id : ids) {
        if (const auto it = byArenaId_.find(id); it != byArenaId_.end()) {
            out.push_back(it->second);
            continue;
        }
        auto placeholder = std::make_shared<KVCard>("Unknown " + std::to_string(id));
        placeholder->arenaId = id;
        out.push_back(std::move(placeholder));
    }
    return out;
}

std::map<std::string, KVCardRef> KVCatalog::cards() const {
    KVMutexLock lock(mutex_);
    return byName_;
}

KVCatalog::Snapshot KVCatalog::snapshot() const {
    KVMutexLock lock(mutex_);
    return {setCode_, byName_, generation_};
}

bool KVCatalog::isCurrent(uint64_t generation) const {
    KVMutexLock lock(mutex_);
    return generation == generation_;
}

size_t KVCatalog::cardCount() const {
    KVMutexLock lock(mutex_);
    return byName_.size();
}

std::string KVCatalog::setCode() const {
    KVMutexLock lock(mutex_);
    return setCode_;
}

bool KVCatalog::supersededBy(const std::string& code, KVError* error) const {
    std::string wanted;
    {
        KVMutexLock lock(mutex_);
        wanted = wanted_;
    }
    if (wanted == code) {
        return false;
    }
    KVSetError(error, "KorvaneCatalog", 1,
               "Loading " + code + " gave way to " + (wanted.empty() ? "no set" : wanted));
    return true;
}

std::string KVCatalog::wantedSet() const {
    KVMutexLock lock(mutex_);
    return wanted_;
}

std::string KVCatalog::status() const {
    KVMutexLock lock(mutex_);
    return status_;
}

std::string KVCatalog::cachePath(std::string_view prefix) const {
    return cachePath(prefix, setCode());
}

std::string KVCatalog::cachePath(std::string_view prefix, std::string_view code) {
    std::string name(prefix);
    name.append("_").append(code).append(".json");
    return KVJoinPath(KVConfig::cacheDir(), name);
}

void KVCatalog::setStatus(std::string status) {
    KVMutexLock lock(mutex_);
    status_ = std::move(status);
}
