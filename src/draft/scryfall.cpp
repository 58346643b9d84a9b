#include "draft/scryfall.hpp"
#include "base/ascii.hpp"
#include "base/config.hpp"
#include "base/environment.hpp"
#include "base/utf8.hpp"
#include "service/api.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

constexpr double kRequestTimeout = 30;
// A set with every extra printing fits in a handful of pages; the cap only stops a search
// whose next_page never ends.
constexpr int kMaxSearchPages = 40;
// Scryfall asks for no more than ten requests a second from one client.
constexpr auto kRequestSpacing = std::chrono::milliseconds(100);

// Spaces the requests of every client in the process: each caller books the next free slot
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

// Percent-encodes a query value; ':' is left readable as Scryfall's own links write it.
std::string queryEncoded(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain =
            KVIsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == ':';
        if (plain) {
            out += c;
        } else {
            out += '%';
            KVAppendHex(out, std::span<const uint8_t>(&byte, 1), /*upper=*/true);
        }
    }
    return out;
}

// A search that matched nothing, as opposed to a request that went wrong.
bool isNotFound(const KVError& error) {
    return error.domain == KVAPIErrorDomain && error.code == 404;
}

} // namespace

std::string KVScryfall::defaultBase() {
    return KVConfig::baseURL(KVEnvironment::current()->scryfallBase, kBase);
}

KVScryfall::KVScryfall(std::string base) : base_(std::move(base)) {}

std::optional<std::vector<KVJson>>
KVScryfall::fetchSetCards(std::string_view code, KVError* error, bool* complete,
                          const std::function<bool()>& giveUp) const {
    std::vector<KVJson> cards;
    bool whole = false;
    std::string url =
        base_ + "/cards/search?q=" + queryEncoded("e:" + KVLowercase(code) + " unique:prints") +
        "&include_extras=true";
    for (int page = 0; page < kMaxSearchPages; ++page) {
        if (page > 0 && giveUp && giveUp()) {
            break;
        }
        KVError failure;
        const auto body = get(url, &failure);
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

std::vector<std::string> KVScryfall::bonusSheets(std::string_view code, bool* listed) const {
    if (listed != nullptr) {
        *listed = false;
    }
    const auto body = get(base_ + "/sets", nullptr);
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

std::optional<std::string> KVScryfall::get(const std::string& url, KVError* error) const {
    pacer().wait();
    return KVAPI::get(url, kRequestTimeout, error);
}
