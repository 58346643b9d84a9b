#pragma once

#include "base/error.hpp"
#include "base/json.hpp"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Downloads a set's cards from Scryfall (every printing, all pages), at most ten requests a
// second across all callers, as Scryfall asks of its clients.
class KVSScryfallFetcher {
public:
    static constexpr auto kMinInterval = std::chrono::milliseconds(100);
    static constexpr int kMaxPages = 20;

    explicit KVSScryfallFetcher(std::string base = "https://api.scryfall.com");

    std::optional<std::vector<KVJson>> fetchSet(const std::string& setCode, KVError* error);

private:
    std::optional<std::string> get(const std::string& pathAndQuery, KVError* error);

    const std::string base_;
    std::mutex pace_;
    std::chrono::steady_clock::time_point last_{};
};
