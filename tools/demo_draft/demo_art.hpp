#pragma once

#include "draft_screen/arena_screen.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A card of the demo set, as a player reading the draft screen knows it.
struct KVDemoCard {
    int64_t arenaId = 0;
    std::string name;
    std::string colour; // first colour letter, "" when colourless
};

// Arena's draft screen at its default layout, `width` × `height`, for a pack of fifteen.
KVArenaScreenSpec KVDemoScreenSpec(int width, int height);

// The demo set's card art as the service hands it out, decoded once per card (cards come round
// again pack after pack), and the draft screens drawn from it.
class KVDemoArt {
public:
    // The demo set's card with this Arena id (a card with id 0 when there is none).
    static KVDemoCard card(int64_t arenaId);

    // The card's art, or nullptr when the set has no such card or its picture does not decode.
    // The image stays valid as long as this cache.
    const KVImage* of(int64_t arenaId);

    // The draft screen of `pack` at KVDemoScreenSpec(width, height), slot i showing pack[i];
    // nullopt when a card has no art, `error` then naming it.
    std::optional<KVArenaScreen> screen(const std::vector<int64_t>& pack, int width, int height,
                                        uint32_t seed = 1, std::string* error = nullptr);

private:
    std::map<int64_t, KVImage> decoded_;
};
