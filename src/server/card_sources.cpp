#include "server/card_sources.hpp"

#include "base/files.hpp"
#include "server/demo_set.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

// Card files are large (a whole set of Scryfall objects), and are read once at start.
constexpr size_t kMaxCardFileBytes = 256u << 20;

bool loadRatings(const std::string& path, KVSStore& store, KVError* error) {
    KVError failure;
    const auto text = KVReadFile(path, &failure, kMaxCardFileBytes);
    const auto json = text ? KVJsonParse(*text, &failure) : std::nullopt;
    if (!json || !json->is_object()) {
        KVSetError(error, "KorvaneService", 1,
                   "cannot read the ratings " + path + ": " +
                       (json ? "it must be an object from card name to a score of 0 to 5"
                             : failure.message));
        return false;
    }
    std::map<std::string, double> ratings;
    for (const auto& [name, score] : json->items()) {
        if (score.is_number()) {
            ratings[name] = score.get<double>();
        }
    }
    return store.putRatings(ratings);
}

} // namespace

std::vector<KVJson> KVSScryfallCards(std::string_view text, KVError* error) {
    auto json = KVJsonParse(text, error);
    if (!json) {
        return {};
    }
    KVJson& list = json->is_object() ? (*json)["data"] : *json;
    std::vector<KVJson> cards;
    if (list.is_array()) {
        for (KVJson& card : list) {
            if (card.is_object()) {
                cards.push_back(std::move(card));
            }
        }
    }
    return cards;
}

bool KVSLoadCards(const KVSOptions& options, KVSStore& store, KVSCardIndex& cards, KVError* error) {
    if (!options.ratingsFile.empty() && !loadRatings(options.ratingsFile, store, error)) {
        return false;
    }
    cards.setRatings(store.ratings());
    if (!options.cardsDir.empty()) {
        std::error_code failure;
        std::filesystem::directory_iterator entries(options.cardsDir, failure);
        if (failure) {
            KVSetError(error, "KorvaneService", 1,
                       "cannot read the card folder " + options.cardsDir + ": " +
                           failure.message());
            return false;
        }
        std::vector<std::string> files;
        for (const auto& entry : entries) {
            if (entry.path().extension() == ".json") {
                files.push_back(entry.path().string());
            }
        }
        std::sort(files.begin(), files.end()); // the first printing of a name wins
        for (const std::string& file : files) {
            KVError problem;
            const auto text = KVReadFile(file, &problem, kMaxCardFileBytes);
            auto read = text ? KVSScryfallCards(*text, &problem) : std::vector<KVJson>{};
            if (read.empty()) {
                std::fprintf(stderr, "korvane-service: skipping %s: %s\n", file.c_str(),
                             problem.message.empty() ? "no cards in it" : problem.message.c_str());
            }
            cards.add(read);
        }
    }
    if (options.demo) {
        cards.add(KVSDemoSet::cards(""));
        cards.markSet(KVSDemoSet::kCode);
    }
    return true;
}
