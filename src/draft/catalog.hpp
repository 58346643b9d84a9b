#pragma once

#include "base/error.hpp"
#include "base/json.hpp"
#include "base/thread_annotations.hpp"
#include "draft/card.hpp"
#include "draft/scryfall.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The cards of one MTG Arena set at a time, indexed by normalised name and by Arena id. A set is
// downloaded once from Scryfall (through its own KVScryfall) and kept in the cache directory.
//
// Threads: ensureSet() runs on a background queue while the main thread and the vision queue
// look cards up. The maps, the cards' art lists, the set code and the status are guarded by
// one lock, never held across the network. Loads never overlap: a load waits for the one
// before it to finish, then finds its set already loaded or loads it.
class KVCatalog {
public:
    // The prefix of the card-data cache files; its number is the file format's version.
    static constexpr std::string_view kCardCachePrefix = "scryfall3";

    explicit KVCatalog(std::string scryfallBase = KVScryfall::defaultBase());
    KVCatalog(const KVCatalog&) = delete;
    KVCatalog& operator=(const KVCatalog&) = delete;

    // Makes `requested` the loaded set: from the cache file, else from Scryfall. True when at least
    // one card is indexed. Blocks on disk and network. The latest request wins: a load whose set
    // is no longer wanted stops between pages and returns false with a "KorvaneCatalog" error,
    // leaving the cache file alone unless its download was whole.
    bool ensureSet(std::string_view requested, KVError* error);

    KVCardRef cardNamed(std::string_view name) const;
    KVCardRef cardForArenaId(int64_t arenaId) const;
    // One card per id, in order; an id the set doesn't know gets a new placeholder card named
    // "Unknown <id>" (not stored).
    std::vector<KVCardRef> resolveIds(const std::vector<int64_t>& ids) const;

    // A copy of the name index, taken under the lock.
    std::map<std::string, KVCardRef> cards() const;

    // The set code and its cards, taken together under the lock, and the generation of the
    // index they came from (every load that replaces the cards starts a new one).
    struct Snapshot {
        std::string setCode;
        std::map<std::string, KVCardRef> cards;
        uint64_t generation = 0;
    };
    Snapshot snapshot() const;
    // Whether the cards of `generation` are still the loaded ones.
    bool isCurrent(uint64_t generation) const;
    size_t cardCount() const;
    std::string setCode() const;
    // The set the latest ensureSet() asked for: loaded, being loaded, or waiting its turn.
    std::string wantedSet() const;
    std::string status() const;

    // The cache directory's "<prefix>_<set code>.json", for the current set or for `code`.
    std::string cachePath(std::string_view prefix) const;
    static std::string cachePath(std::string_view prefix, std::string_view code);

    // Runs `work` under the catalog's lock: the cards' art lists are read and written only so.
    template <class Work> auto withLock(Work&& work) const EXCLUDES(mutex_) {
        KVMutexLock lock(mutex_);
        return work();
    }

private:
    struct Index {
        std::map<std::string, KVCardRef> byName;
        std::unordered_map<int64_t, KVCardRef> byArenaId;
    };

    // The set's printings from Scryfall, bonus sheets included; a whole download is also
    // written to `path`. Nothing, with the status and the error set, when the search failed.
    std::optional<KVJson> download(const std::string& code, const std::string& path,
                                   KVError* error);
    // True, with the error set, when a later ensureSet() wants another set than `code`.
    bool supersededBy(const std::string& code, KVError* error) const;
    // The cards of a list of printings; elements that are not cards are passed over.
    static Index indexOf(const KVJson& printings, const std::string& code);
    void install(Index index, const std::string& code) EXCLUDES(mutex_);
    void setStatus(std::string status) EXCLUDES(mutex_);

    const KVScryfall scryfall_;
    mutable KVMutex mutex_;
    KVMutex loadMutex_; // one load at a time
    std::string setCode_ GUARDED_BY(mutex_);
    std::string wanted_ GUARDED_BY(mutex_); // the set of the latest request
    uint64_t generation_ GUARDED_BY(mutex_) = 0;
    std::string status_ GUARDED_BY(mutex_) = "idle";
    std::map<std::string, KVCardRef> byName_ GUARDED_BY(mutex_);
    std::unordered_map<int64_t, KVCardRef> byArenaId_ GUARDED_BY(mutex_);
};
