#pragma once

#include "base/error.hpp"
#include "draft/card.hpp"
#include "draft/catalog.hpp"
#include "vision/candidate.hpp"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The perceptual hashes of a set's card art: downloaded once per image address, kept on the
// cards (hash k of a card always belongs to its address k) and in a per-set cache file.
//
// Two threads use it at once: the set-wide download in the background and the vision queue,
// which hashes the cards of the pack in front of the player first. Downloads and hashing run
// outside every lock; one thread at a time works on a card; hashes are appended and failures
// recorded briefly under the catalog's lock; one save at a time collects and writes the file.
class KVArtHashes {
public:
    static constexpr std::string_view kCachePrefix = "phash_native2";

    struct Options {
        // Fetches an image; the service client's plain GET unless a test stands in.
        std::function<std::optional<std::string>(const std::string& url, double timeout,
                                                 KVError* error)>
            fetch;
        double downloadTimeout = 20.0; // seconds per image
        // How long an address that failed for a passing reason (no connection, time-out, a
        // busy server) rests before it is tried again; doubled at each failure, up to the cap.
        double retryAfter = 30.0;
        double retryAfterCap = 600.0;
        // Told the number of hashes written after each save (tests watch the cadence).
        std::function<void(size_t hashesWritten)> saved;
    };

    explicit KVArtHashes(std::shared_ptr<KVCatalog> catalog);
    KVArtHashes(std::shared_ptr<KVCatalog> catalog, Options options);

    // The cache file of the catalog's current set.
    std::string hashCachePath() const;

    // Replaces the hash lists of the cards named in the cache file; returns how many hashes
    // were loaded. A list longer than its card's addresses is cut to them. The set's code,
    // cards and file are taken together, so a set switch meanwhile mixes nothing.
    size_t loadArtHashes();
    // Writes the current set's hash lists to its file. With no hash in memory (a set being
    // loaded, or whose hashes were not loaded yet) the file is left as it is.
    void saveArtHashes();

    // Hashes the card's next addresses in order until one fails or all are done; returns how
    // many hashes it added. Does nothing while another thread works on the same card.
    size_t hashOne(const KVCardRef& card);
    // Hashes the incomplete cards among `cards`, then saves if anything was added.
    size_t ensureArtHashesFor(const std::vector<KVCardRef>& cards);
    // Hashes every card of the set, saving every 40 new hashes and at the end; `stop` (may be
    // empty) is asked before each card. A download whose set is replaced meanwhile stops, and
    // saves what it made to its own set's file.
    size_t downloadAllArtHashes(const std::function<bool()>& stop);

    // The cards with their hash lists, copied under the catalog's lock: what identification
    // compares. One candidate per card, in order; a missing card gives one without hashes.
    std::vector<KVCandidate> candidates(const std::vector<KVCardRef>& cards) const;

    // Whether `url` failed and is not to be tried now.
    bool isFailed(const std::string& url) const;

private:
    using Clock = std::chrono::steady_clock;
    struct Failure {
        bool permanent = false;
        int attempts = 0;
        Clock::time_point retryAt;
    };

    // Downloads and hashes one image; nothing and `transient` set when it failed.
    std::optional<KVArtHash> hashImage(const std::string& url, bool* transient) const;
    void save(const KVCatalog::Snapshot& set);
    void recordFailure(const std::string& url, bool transient);
    bool claim(const KVCard* card);
    void release(const KVCard* card);

    const std::shared_ptr<KVCatalog> catalog_;
    const Options options_;

    mutable std::mutex stateMutex_; // the failures and the cards being worked on
    std::map<std::string, Failure> failed_;
    std::set<const KVCard*> inFlight_;

    std::mutex saveMutex_; // one save at a time, collecting and writing
};
