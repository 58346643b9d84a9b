#pragma once

#include "base/json.hpp"
#include "draft/catalog.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A catalog that knows one set without the network: `printings` (card objects in Scryfall's
// shape) are written as set `code`'s cache file and loaded from there. Throws when the set does
// not load, so a test fails on the spot instead of on a missing card.
std::shared_ptr<KVCatalog> KVCatalogFromPrintings(const std::string& code, const KVJson& printings);

// Creature printings of `cards` (name, mana cost) in set `code`, with collector numbers from 1
// and Arena ids from `firstId` + 1.
KVJson KVPrintingsOf(const std::vector<std::pair<std::string, std::string>>& cards,
                     const std::string& code, int64_t firstId);
