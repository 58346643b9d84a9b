#include "vision/art_hashes.hpp"

#include "base/config.hpp"
#include "service/api.hpp"
#include "vision/image_codec.hpp"
#include "vision/phash.hpp"

#include <algorithm>
#include <cmath>

namespace {

// Failures worth another try later: the network, or a server that is busy or broken for now.
bool isTransient(const KVError& error) {
    if (error.domain != KVAPIErrorDomain) {
        return true; // no answer at all: no connection, a time-out, TLS trouble
    }
    return error.code == 408 || error.code == 429 || error.code >= 500;
}

constexpr size_t kSaveEvery = 40;

} // namespace

KVArtHashes::KVArtHashes(std::shared_ptr<KVCatalog> catalog)
    : KVArtHashes(std::move(catalog), Options{}) {}

KVArtHashes::KVArtHashes(std::shared_ptr<KVCatalog> catalog, Options options)
    : catalog_(std::move(catalog)), options_([&options] {
          if (!options.fetch) {
              options.fetch = &KVAPI::get;
          }
          return std::move(options);
      }()) {}

std::string KVArtHashes::hashCachePath() const {
    return catalog_->cachePath(kCachePrefix);
}

size_t KVArtHashes::loadArtHashes() {
    const KVCatalog::Snapshot set = catalog_->snapshot();
    if (set.cards.empty()) {
        return 0; // no set, or one being loaded
    }
    const auto file = KVConfig::readJSON(KVCatalog::cachePath(kCachePrefix, set.setCode));
    if (!file || !file->is_object()) {
        return 0;
    }
    return catalog_->withLock([&] {
        size_t total = 0;
        for (const auto& [name, list] : file->items()) {
            const auto card = set.cards.find(KVCard::normalize(name));
            if (card == set.cards.end() || !list.is_array()) {
                continue;
            }
            std::vector<KVArtHash>& hashes = card->second->artHashes;
            hashes.clear();
            for (const KVJson& text : list) {
                if (const auto hash = KVPHashFromHex(KVJsonString(text, ""))) {
                    hashes.push_back(*hash);
                }
            }
            // Hash k belongs to address k: a list longer than the addresses can't be trusted
            // past them.
            hashes.resize(std::min(hashes.size(), card->second->artURIs.size()));
            total += hashes.size();
        }
        return total;
    });
}

void KVArtHashes::saveArtHashes() {
    save(catalog_->snapshot());
}

void KVArtHashes::save(const KVCatalog::Snapshot& set) {
    std::lock_guard save(saveMutex_);
    size_t written = 0;
    KVJson file = catalog_->withLock([&] {
        KVJson object = KVJson::object();
        for (const auto& [key, card] : set.cards) {
            if (card->artHashes.empty()) {
                continue;
            }
            KVJson list = KVJson::array();
            for (const KVArtHash& hash : card->artHashes) {
                list.push_back(KVPHashToHex(hash));
            }
            written += card->artHashes.size();
            object[card->name] = std::move(list);
        }
        return object;
    });
    if (written == 0) {
        return; // hashes only ever grow: an empty file would only lose what the file holds
    }
    KVConfig::writeJSON(file, KVCatalog::cachePath(kCachePrefix, set.setCode));
    if (options_.saved) {
        options_.saved(written);
    }
}

bool KVArtHashes::claim(const KVCard* card) {
    std::lock_guard lock(stateMutex_);
    return inFlight_.insert(card).second;
}

void KVArtHashes::release(const KVCard* card) {
    std::lock_guard lock(stateMutex_);
    inFlight_.erase(card);
}

bool KVArtHashes::isFailed(const std::string& url) const {
    std::lock_guard lock(stateMutex_);
    const auto it = failed_.find(url);
    return it != failed_.end() && (it->second.permanent || Clock::now() < it->second.retryAt);
}

void KVArtHashes::recordFailure(const std::string& url, bool transient) {
    std::lock_guard lock(stateMutex_);
    Failure& failure = failed_[url];
    failure.permanent = !transient;
    ++failure.attempts;
    const double wait =
        std::min(options_.retryAfterCap, options_.retryAfter * std::pow(2.0, failure.attempts - 1));
    failure.retryAt = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(wait));
}

std::optional<KVArtHash> KVArtHashes::hashImage(const std::string& url, bool* transient) const {
    *transient = false;
    KVError error;
    const auto bytes = options_.fetch(url, options_.downloadTimeout, &error);
    if (!bytes) {
        *transient = isTransient(error);
        return std::nullopt;
    }
    const auto image = KVImageFromData(*bytes);
    return image ? KVPHashOfArt(*image) : std::nullopt; // undecodable or flat: for good
}

size_t KVArtHashes::hashOne(const KVCardRef& card) {
    if (!card || !claim(card.get())) {
        return 0; // another thread is on it
    }
    size_t added = 0;
    for (;;) {
        std::string url;
        size_t position = 0;
        const bool more = catalog_->withLock([&] {
            position = card->artHashes.size();
            if (position >= card->artURIs.size()) {
                return false;
            }
            url = card->artURIs[position];
            return true;
        });
        if (!more || isFailed(url)) {
            break;
        }
        bool transient = false;
        const auto hash = hashImage(url, &transient);
        if (!hash) {
            recordFailure(url, transient);
            break; // later addresses wait, or hash k would not belong to address k
        }
        const bool appended = catalog_->withLock([&] {
            // A cache load may have replaced the list meanwhile: then this hash is not
            // known to belong to the list's next place.
            if (card->artHashes.size() != position) {
                return false;
            }
            card->artHashes.push_back(*hash);
            return true;
        });
        added += appended ? 1 : 0;
    }
    release(card.get());
    return added;
}

size_t KVArtHashes::ensureArtHashesFor(const std::vector<KVCardRef>& cards) {
    size_t total = 0;
    for (const KVCardRef& card : cards) {
        if (!card) {
            continue;
        }
        const bool incomplete =
            catalog_->withLock([&card] { return card->artHashes.size() < card->artURIs.size(); });
        if (incomplete) {
            total += hashOne(card);
        }
    }
    if (total > 0) {
        saveArtHashes();
    }
    return total;
}

size_t KVArtHashes::downloadAllArtHashes(const std::function<bool()>& stop) {
    // The set as it was at the start: its cards are hashed and saved to its own file, even if
    // the catalog moves to another set meanwhile.
    const KVCatalog::Snapshot set = catalog_->snapshot();
    size_t total = 0;
    size_t unsaved = 0;
    for (const auto& [key, card] : set.cards) {
        if ((stop && stop()) || !catalog_->isCurrent(set.generation)) {
            break;
        }
        const size_t added = hashOne(card);
        total += added;
        unsaved += added;
        if (unsaved >= kSaveEvery) {
            save(set);
            unsaved = 0;
        }
    }
    if (unsaved > 0) {
        save(set);
    }
    return total;
}

std::vector<KVCandidate> KVArtHashes::candidates(const std::vector<KVCardRef>& cards) const {
    return catalog_->withLock([&cards] {
        std::vector<KVCandidate> list;
        list.reserve(cards.size());
        for (const KVCardRef& card : cards) {
            list.push_back({card, card ? card->artHashes : std::vector<KVArtHash>{}});
        }
        return list;
    });
}
