#include "server/scryfall_fetcher.hpp"

#include "base/utf8.hpp"
#include "server/card_sources.hpp"

#include <httplib.h>

#include <thread>

KVSScryfallFetcher::KVSScryfallFetcher(std::string base) : base_(std::move(base)) {}

std::optional<std::string> KVSScryfallFetcher::get(const std::string& pathAndQuery,
                                                   KVError* error) {
    {
        // Requests leave one at a time, spaced out; the answer is awaited outside the lock.
        std::lock_guard lock(pace_);
        const auto next = last_ + kMinInterval;
        if (std::chrono::steady_clock::now() < next) {
            std::this_thread::sleep_until(next);
        }
        last_ = std::chrono::steady_clock::now();
    }
    httplib::Client client(base_);
    client.set_connection_timeout(10);
    client.set_read_timeout(30);
    const httplib::Headers headers = {{"User-Agent", "korvane-service/0.1.38"},
                                      {"Accept", "application/json"}};
    const auto result = client.Get(pathAndQuery, headers);
    if (!result) {
        KVSetError(error, "KorvaneScryfall", 0,
                   "Scryfall could not be reached: " + httplib::to_string(result.error()));
        return std::nullopt;
    }
    if (result->status >= 400) {
        KVSetError(error, "KorvaneScryfall", result->status,
                   "Scryfall answered HTTP " + std::to_string(result->status));
        return std::nullopt;
    }
    return result->body;
}

std::optional<std::vector<KVJson>> KVSScryfallFetcher::fetchSet(const std::string& setCode,
                                                                KVError* error) {
    std::string code;
    for (const char c : KVLowercase(setCode)) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            code += c;
        }
    }
    if (code.empty()) {
        KVSetError(error, "KorvaneScryfall", 400, "No set code to fetch.");
        return std::nullopt;
    }
    std::vector<KVJson> cards;
    std::string path = "/cards/search?q=e%3A" + code + "+unique%3Aprints&include_extras=true";
    for (int page = 0; page < kMaxPages; ++page) {
        const auto body = get(path, error);
        if (!body) {
            return std::nullopt;
        }
        const auto answer = KVJsonParse(*body, error);
        if (!answer) {
            return std::nullopt;
        }
        auto read = KVSScryfallCards(*body, nullptr);
        cards.insert(cards.end(), std::make_move_iterator(read.begin()),
                     std::make_move_iterator(read.end()));
        const std::string next = KVJsonString(KVJsonAt(*answer, "next_page"), "");
        if (!KVJsonBool(KVJsonAt(*answer, "has_more"), false) ||
            next.compare(0, base_.size(), base_) != 0) {
            break;
        }
        path = next.substr(base_.size());
    }
    return cards;
}
