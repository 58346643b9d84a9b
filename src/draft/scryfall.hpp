#pragma once

#include "base/error.hpp"
#include "base/json.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Scryfall's card data over HTTP: the paged set search and the set list. Every client in the
// process shares one pace, so no more than ten requests a second leave it, whichever catalog
// asks. Safe to use from any thread; calls block on the network.
class KVScryfall {
public:
    static constexpr std::string_view kBase = "https://api.scryfall.com";

    // Scryfall's address: the public API, or KORVANE_SCRYFALL_BASE in development builds.
    static std::string defaultBase();

    explicit KVScryfall(std::string base = defaultBase());

    // Every printing of a set (search pages in order), or nothing and an error when the first
    // page could not be had. A search that finds nothing (HTTP 404) is an empty list.
    // `complete` tells whether every page was read. `giveUp` (may be empty) is asked before
    // each page after the first; true ends the search there, incomplete.
    std::optional<std::vector<KVJson>>
    fetchSetCards(std::string_view code, KVError* error, bool* complete = nullptr,
                  const std::function<bool()>& giveUp = {}) const;
    // The codes of the set's bonus sheets, in Scryfall's order. `listed` is false when the set
    // list could not be read.
    std::vector<std::string> bonusSheets(std::string_view code, bool* listed = nullptr) const;

private:
    // One paced GET.
    std::optional<std::string> get(const std::string& url, KVError* error) const;

    const std::string base_;
};
