// The offline demo's card set. The whole demo, served and read by the program, is
// ReplayIntegration's and the end-to-end draft's.
#include "server/demo_art.hpp"
#include "server/demo_set.hpp"

#include <gtest/gtest.h>

#include <set>

namespace {

// Names and ids must be distinct: the program's catalog merges cards by name, finds them by id.
TEST(ServerDemo, TheSetHasItsOwnIdsNamesAndArtForEachCard) {
    const auto cards = KVSDemoSet::cards("http://host/scryfall");
    ASSERT_EQ(cards.size(), static_cast<size_t>(KVSDemoSet::kSize));
    std::set<std::string> names;
    std::set<std::string> pictures;
    for (size_t i = 0; i < cards.size(); ++i) {
        const KVJson& card = cards[i];
        EXPECT_EQ(KVSDemoSet::indexOfArenaId(card["arena_id"]), static_cast<int>(i));
        const std::string color =
            card["colors"].empty() ? "" : card["colors"][0].get<std::string>();
        pictures.insert(KVSDemoArt::jpeg(static_cast<int>(i), color));
        names.insert(card["name"].get<std::string>());
    }
    EXPECT_EQ(names.size(), cards.size());
    EXPECT_EQ(pictures.size(), cards.size());
    EXPECT_EQ(KVSDemoSet::indexOfArenaId(KVSDemoSet::kFirstArenaId - 1), -1);
    EXPECT_EQ(KVSDemoSet::indexOfArenaId(KVSDemoSet::kFirstArenaId + KVSDemoSet::kSize), -1);
}

// The service's Scryfall stand-in answers with the demo set only when a query asks for it.
TEST(ServerDemo, OnlyAQueryForTheSetItselfGetsIt) {
    EXPECT_TRUE(KVSDemoSet::isAskedFor("e:kvd unique:prints"));
    EXPECT_TRUE(KVSDemoSet::isAskedFor("unique:prints E:KVD"));
    EXPECT_FALSE(KVSDemoSet::isAskedFor("e:kvdx unique:prints"));
    EXPECT_FALSE(KVSDemoSet::isAskedFor("e:blb unique:prints"));
    EXPECT_FALSE(KVSDemoSet::isAskedFor("name:e:kvd"));
    EXPECT_FALSE(KVSDemoSet::isAskedFor(""));
}

} // namespace
