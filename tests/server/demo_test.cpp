// The offline demo's card set. The whole demo, served and read by the program, is
// ReplayIntegration's and the end-to-end draft's.
#include "server/demo_art.hpp"
#include "server/demo_set.hpp"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <set>

namespace {

// Names and ids must be distinct: the program's catalog merges cards by name, finds them by id.
TEST(ServerDemo, TheSetHasItsOwnIdsNamesAndArtForEachCard) {
    const auto cards = KVSDemoSet::cards("http://host/scryfall");
    ASSERT_EQ(cards.size(), static_cast<size_t>(KVSDemoSet::kSize));
    std::set<std::string> names;
    std::set<std::string> pictures;
    tjhandle decoder = tjInitDecompress();
    for (size_t i = 0; i < cards.size(); ++i) {
        const KVJson& card = cards[i];
        const int64_t id = card["arena_id"];
        EXPECT_EQ(KVSDemoSet::indexOfArenaId(id), static_cast<int>(i));
        const std::string color =
            card["colors"].empty() ? "" : card["colors"][0].get<std::string>();
        const std::string jpeg = KVSDemoArt::jpeg(static_cast<int>(i), color);
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        ASSERT_EQ(tjDecompressHeader3(decoder, reinterpret_cast<const unsigned char*>(jpeg.data()),
                                      jpeg.size(), &width, &height, &subsampling, &colorspace),
                  0);
        EXPECT_EQ(std::make_pair(width, height), std::make_pair(488, 680));
        EXPECT_EQ(KVSDemoArt::jpeg(static_cast<int>(i), color), jpeg)
            << "the same card always gets the same picture";
        pictures.insert(jpeg);
        names.insert(card["name"].get<std::string>());
    }
    tjDestroy(decoder);
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
