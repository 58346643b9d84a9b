#pragma once

#include "base/json.hpp"
#include "server/card_index.hpp"
#include "server/pack_grader.hpp"

// The read of which colours flow from the neighbours, from the packs seen so far: good cards
// still there late, and what came back round. The "table" answer object: "colours" (each
// {"colour", "score", "tier", "late", "wheeled"}, strongest first), "pack", "from",
// "wheelsAt", "bots", "cuts".
KVJson KVSReadTable(const KVSCardSnapshot& cards, const KVSDraftState& state);

// The tier of one colour in a table read ("unknown" when the read has no entry for it).
std::string KVSTableTier(const KVJson& table, char color);

// The "pool" answer object: playables against the 23 a deck needs, creatures, removal, picks
// left, tricks, fixing, the curve and what is short.
KVJson KVSReadPool(const std::vector<const KVSCardFacts*>& pool, const std::vector<char>& lane);
