#pragma once

#include "base/error.hpp"
#include "base/json.hpp"
#include "server/card_index.hpp"
#include "server/options.hpp"
#include "server/store.hpp"

#include <string_view>
#include <vector>

// Fills the card index at start: the sets kept in the store from earlier fetches, every
// Scryfall JSON file of --cards DIR, the demo set with --demo, and the operator's --ratings.
// An unreadable directory or ratings file fails with a clear message; a single malformed card
// file is reported and skipped.
bool KVSLoadCards(const KVSOptions& options, KVSStore& store, KVSCardIndex& cards, KVError* error);

// The card objects of a Scryfall document: a list object's "data", or a plain array.
std::vector<KVJson> KVSScryfallCards(std::string_view text, KVError* error);
