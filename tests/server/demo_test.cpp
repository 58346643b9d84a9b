// The offline demo: its card set, its art, its draft log, read by the program's own parts.
#include "arenalog/log_parser.hpp"
#include "base/files.hpp"
#include "draft/catalog.hpp"
#include "server/demo_art.hpp"
#include "server/demo_log.hpp"
#include "server/demo_set.hpp"
#include "service/api.hpp"
#include "service_process.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <set>

namespace {

// Distinct names show in the catalog's count below; distinct ids in their indexes here.
TEST(ServerDemo, TheSetHasItsOwnIdsAndArtForEachCard) {
    const auto cards = KVSDemoSet::cards("http://host/scryfall");
    ASSERT_EQ(cards.size(), static_cast<size_t>(KVSDemoSet::kSize));
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
    }
    tjDestroy(decoder);
    EXPECT_EQ(pictures.size(), cards.size());
    EXPECT_EQ(KVSDemoSet::indexOfArenaId(KVSDemoSet::kFirstArenaId - 1), -1);
    EXPECT_EQ(KVSDemoSet::indexOfArenaId(KVSDemoSet::kFirstArenaId + KVSDemoSet::kSize), -1);
}

TEST(ServerDemo, TheDemoLogIsAWholeDraftToTheProgramsParser) {
    KVTempDir dir;
    ASSERT_TRUE(KVSWriteDemoLog(dir.file("Player.log"), nullptr));
    const std::string log = KVReadFile(dir.file("Player.log")).value_or("");
    KVLogParser parser;
    KVDraftEvents events = parser.feed(log);
    for (auto& event : parser.flush()) {
        events.push_back(std::move(event));
    }
    std::map<std::string, int> kinds;
    std::set<int64_t> shown; // the pack in front of the player
    size_t poolSize = 0;
    for (const KVDraftEvent& event : events) {
        ++kinds[event.kind];
        if (event.kind == "pack") {
            const size_t count = event.payload["arena_ids"].size();
            EXPECT_EQ(count, static_cast<size_t>(15 - event.payload["pick"].get<int>()));
            shown.clear();
            for (const KVJson& id : event.payload["arena_ids"]) {
                EXPECT_GE(KVSDemoSet::indexOfArenaId(id.get<int64_t>()), 0);
                shown.insert(id.get<int64_t>());
            }
        }
        if (event.kind == "pick") {
            EXPECT_EQ(shown.count(event.payload["arena_ids"][0].get<int64_t>()), 1u)
                << "a pick comes from the pack shown";
        }
        if (event.kind == "complete") {
            poolSize = event.payload["arena_ids"].size(); // the answer's, which comes last
        }
    }
    EXPECT_EQ(kinds["event_join"], 1);
    EXPECT_EQ(kinds["pack"], 42);
    EXPECT_EQ(kinds["pick"], 42);
    EXPECT_EQ(kinds["complete"], 2) << "the request and its answer";
    EXPECT_EQ(poolSize, 42u);
}

TEST(ServerDemoIntegration, TheProgramsCatalogLoadsTheDemoSetFromTheService) {
    KVScopedEnvironment environment;
    KVTempDir dir;
    KVSServiceProcess service(dir.file("korvane.db"), {"--demo", "--offline"});
    ASSERT_TRUE(service.running());
    KVCatalog catalog(service.base() + "/scryfall");
    KVError error;
    ASSERT_TRUE(catalog.ensureSet("KVD", &error)) << error.message;
    EXPECT_EQ(catalog.cardCount(), static_cast<size_t>(KVSDemoSet::kSize));
    const KVCardRef card = catalog.cardForArenaId(KVSDemoSet::kFirstArenaId + 3);
    ASSERT_TRUE(card);
    ASSERT_FALSE(card->artURIs.empty());
    const auto art = KVAPI::get(card->artURIs.front(), 10, &error);
    ASSERT_TRUE(art) << error.message;
    EXPECT_EQ(art->substr(0, 3), "\xFF\xD8\xFF") << "a JPEG";

    KVAPI api(service.base(), "");
    const auto demo = api.login(KVSDemoSet::kDemoEmail, KVSDemoSet::kDemoPassword, &error);
    ASSERT_TRUE(demo) << error.message;
    const auto answer = api.analyzeDraft("demo-draft", {card->name, "Tide Drake"}, {}, 1, 1,
                                         "PremierDraft", "KVD", KVJson::array(), 1, &error);
    ASSERT_TRUE(answer) << error.message;
    for (const KVJson& pick : (*answer)["picks"]) {
        EXPECT_NE(pick["grade"], "?") << pick;
    }
    EXPECT_NE(KVCurl({service.base() + "/scryfall/cards/search?q=e%3Aabc"}).find("not_found"),
              std::string::npos);
}

} // namespace
