#pragma once

#include "draft/card.hpp"

#include <vector>

// A card that may be on screen, with its art hashes as they were when identification began.
// The catalog's own lists grow while art downloads run, so identification works on this copy
// (KVArtHashes::candidates takes it under the catalog's lock).
struct KVCandidate {
    KVCardRef card;
    std::vector<KVArtHash> artHashes;
};
