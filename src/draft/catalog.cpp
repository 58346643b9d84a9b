#include "draft/catalog.hpp"

#include "base/config.hpp"
#include "base/environment.hpp"
#include "base/files.hpp"
#include "base/utf8.hpp"
#include "service/api.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

namespace {

constexpr double kRequestTimeout = 30;
// A set with every extra printing fits in a handful of pages; the cap only stops a search
// whose next_page never ends.
constexpr int kMaxSearchPages = 40;
// Scryfall asks for no more than ten requests a second from one client.
constexpr auto kRequestSpacing = std::chrono::milliseconds(100);

// Spaces the requests of every catalog in the process: each caller books the next free slot
// under the lock, then waits for it outside the lock, so callers go in booking order.
class KVScryfallPacer {
public:
    void wait() {
        std::chrono::steady_clock::time_point slot;
        {
            std::lock_guard lock(mutex_);
            slot = std::max(std::chrono::steady_clock::now(), next_);
            next_ = slot + kRequestSpacing;
        }
        std::this_thread::sleep_until(slot);
    }

private:
    std::mutex mutex_;
    std::chrono::steady_clock::time_point next_;
};

KVScryfallPacer& pacer() {
    static KVScryfallPacer shared;
    return shared;
}

std::string uppercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

// Percent-encodes a query value; ':' is left readable as Scryfall's own links write it.
std::string queryEncoded(std::string_view text) {
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == ':';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

// A search that matched nothing, as opposed to a request that went wrong.
bool isNotFound(const KVError& error) {
    return error.domain == KVAPIErrorDomain && error.code == 404;
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
    card->imageURI = image;
    if (image && arenaId != 0) {
        card->artURIs.push_back(*image);
    }
    return card;
}

} // namespace

std::string KVCatalog::defaultScryfallBase() {
    const auto& variable = KVEnvironment::current()->scryfallBase;
    if (!variable || KVConfig::isPackaged()) {
        return std::string(kScryfallBase);
    }
    std::string_view base = KVTrimmed(*variable);
    if (base.empty()) {
        return std::string(kScryfallBase);
    }
    if (base.back() == '/') {
        base.remove_suffix(1);
    }
    return std::string(base);
}

KVCatalog::KVCatalog(std::string scryfallBase) : scryfallBase_(std::move(scryfallBase)) {}

bool KVCatalog::ensureSet(std::string_view requested, KVError* error) {
    std::lock_guard load(loadMutex_);
    const std::string code = uppercased(requested);
    {
        std::lock_guard lock(mutex_);
        if (code == setCode_ && !byName_.empty()) {
            return true;
        }
        setCode_ = code;
        byName_.clear();
        byArenaId_.clear();
        status_ = code.empty() ? "no set" : "loading " + code;
    }
    if (code.empty()) {
        return false;
    }

    KVConfig::ensureDirs();
    const std::string path = cachePath(kCardCachePrefix);
    KVJson printings = KVJson::array();
    if (auto cached = KVConfig::readJSON(path); cached && cached->is_array() && !cached->empty()) {
        printings = std::move(*cached);
    } else {
        KVError failure;
        bool complete = true;
        auto own = fetchSetCards(code, &failure, &complete);
        if (!own) {
            setStatus("scryfall failed: " + failure.message);
            if (error != nullptr) {
                *error = failure;
            }
            return false;
        }
        for (KVJson& card : *own) {
            printings.push_back(std::move(card));
        }
        bool listed = true;
        for (const std::string& sheet : bonusSheets(code, &listed)) {
            bool sheetComplete = true;
            auto extra = fetchSetCards(sheet, nullptr, &sheetComplete);
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
    }
    index(printings.get_ref<const KVJson::array_t&>(), code);
    return cardCount() > 0;
}

void KVCatalog::index(const std::vector<KVJson>& printings, const std::string& code) {
    // Built aside and swapped in, so lookups wait on the lock for a moment, not for the parse.
    std::map<std::string, KVCardRef> byName;
    std::unordered_map<int64_t, KVCardRef> byArenaId;
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

    std::lock_guard lock(mutex_);
    byName_ = std::move(byName);
    byArenaId_ = std::move(byArenaId);
    status_ = code + " (" + std::to_string(byName_.size()) + " cards)";
}

KVCardRef KVCatalog::cardNamed(std::string_view name) const {
    const std::string key = KVCard::normalize(name);
    std::lock_guard lock(mutex_);
    const auto it = byName_.find(key);
    return it == byName_.end() ? nullptr : it->second;
}

KVCardRef KVCatalog::cardForArenaId(int64_t arenaId) const {
    std::lock_guard lock(mutex_);
    const auto it = byArenaId_.find(arenaId);
    return it == byArenaId_.end() ? nullptr : it->second;
}

std::vector<KVCardRef> KVCatalog::resolveIds(const std::vector<int64_t>& ids) const {
    std::vector<KVCardRef> out;
    out.reserve(ids.size());
    std::lock_guard lock(mutex_);
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
    std::lock_guard lock(mutex_);
    return byName_;
}

size_t KVCatalog::cardCount() const {
    std::lock_guard lock(mutex_);
    return byName_.size();
}

std::string KVCatalog::setCode() const {
    std::lock_guard lock(mutex_);
    return setCode_;
}

std::string KVCatalog::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::string KVCatalog::cachePath(std::string_view prefix) const {
    std::string name(prefix);
    {
        std::lock_guard lock(mutex_);
        name += "_" + setCode_ + ".json";
    }
    return KVJoinPath(KVConfig::cacheDir(), name);
}

std::optional<std::vector<KVJson>> KVCatalog::fetchSetCards(std::string_view code, KVError* error,
                                                            bool* complete) const {
    std::vector<KVJson> cards;
    bool whole = false;
    std::string url = scryfallBase_ + "/cards/search?q=" +
                      queryEncoded("e:" + KVLowercase(code) + " unique:prints") +
                      "&include_extras=true";
    for (int page = 0; page < kMaxSearchPages; ++page) {
        KVError failure;
        const auto body = scryfallGet(url, &failure);
        if (!body) {
            // Scryfall answers a search without matches, and the end of one, with 404.
            whole = isNotFound(failure);
            if (whole) {
                break;
            }
            if (complete != nullptr) {
                *complete = false;
            }
            if (error != nullptr) {
                *error = failure;
            }
            if (cards.empty()) {
                return std::nullopt;
            }
            return cards;
        }
        auto answer = KVJsonParse(*body, &failure);
        if (!answer || !answer->is_object()) {
            if (answer) {
                failure = {"KorvaneJSON", 1, "Scryfall's answer is not an object: " + url};
            }
            if (error != nullptr) {
                *error = failure;
            }
            break;
        }
        if (KVJson& data = (*answer)["data"]; data.is_array()) {
            for (KVJson& card : data) {
                cards.push_back(std::move(card));
            }
        }
        const KVJson& more = KVJsonAt(*answer, "has_more");
        const auto next = KVJsonString(KVJsonAt(*answer, "next_page"));
        if (!more.is_boolean() || !more.get<bool>()) {
            whole = true;
            break;
        }
        if (!next) {
            break; // more pages promised but no way to them
        }
        url = *next;
    }
    if (complete != nullptr) {
        *complete = whole;
    }
    return cards;
}

std::vector<std::string> KVCatalog::bonusSheets(std::string_view code, bool* listed) const {
    if (listed != nullptr) {
        *listed = false;
    }
    const auto body = scryfallGet(scryfallBase_ + "/sets", nullptr);
    if (!body) {
        return {};
    }
    // The list holds every set Scryfall knows; only three fields of each are wanted.
    const auto answer = KVJsonParseFiltered(*body, [](int depth, const std::string& key) {
        return depth == 1 ? key == "data"
                          : key == "code" || key == "parent_set_code" || key == "set_type";
    });
    if (!answer || !KVJsonAt(*answer, "data").is_array()) {
        return {};
    }
    const KVJson& data = KVJsonAt(*answer, "data");
    if (listed != nullptr) {
        *listed = true;
    }
    static constexpr std::array<std::string_view, 3> kBonusTypes = {"masterpiece", "spellbook",
                                                                    "draft_innovation"};
    const std::string parent = KVLowercase(code);
    std::vector<std::string> sheets;
    for (const KVJson& set : data) {
        const auto sheet = KVJsonString(KVJsonAt(set, "code"));
        const std::string type = KVJsonString(KVJsonAt(set, "set_type"), "");
        if (sheet && KVJsonString(KVJsonAt(set, "parent_set_code"), "") == parent &&
            std::find(kBonusTypes.begin(), kBonusTypes.end(), type) != kBonusTypes.end()) {
            sheets.push_back(*sheet);
        }
    }
    return sheets;
}

std::optional<std::string> KVCatalog::scryfallGet(const std::string& url, KVError* error) const {
    pacer().wait();
    return KVAPI::get(url, kRequestTimeout, error);
}

void KVCatalog::setStatus(std::string status) {
    std::lock_guard lock(mutex_);
    status_ = std::move(status);
}
