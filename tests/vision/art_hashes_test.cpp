#include "base/config.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/files.hpp"
#include "draft_screen/pictures.hpp"
#include "overlay_samples/sample_catalog.hpp"
#include "service/api.hpp"
#include "support/fake_http_server.hpp"
#include "support/test_environment.hpp"
#include "vision/art_hashes.hpp"
#include "vision/image_codec.hpp"
#include "vision/phash.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// A card-sized JPEG whose art differs for every `seed`.
std::string cardJPEG(uint32_t seed) {
    return KVEncodeJPEG(KVTexturedImage(244, 340, seed), 90).value_or("");
}

// An image host: /art/<n>.jpg is card art number n; /busy/<n>.jpg answers 503 the first time,
// /slow/<n>.jpg waits 1.5 s the first time; /missing/... answers 404, /flat/... is a uniform
// picture and /junk/... is not an image.
class ImageHost {
public:
    ImageHost()
        : server_([this](KVFakeHTTPServer::Routes& s) {
              s.Get(R"(/(art|busy|slow)/(\d+)\.jpg)",
                    [this](const httplib::Request& req, httplib::Response& res) {
                        if (req.matches[1] == "busy" && busyRefusals_++ == 0) {
                            res.status = 503;
                            return;
                        }
                        if (req.matches[1] == "slow" && slowAnswers_++ == 0) {
                            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                        }
                        res.set_content(cardJPEG(std::stoul(req.matches[2])), "image/jpeg");
                    });
              s.Get(R"(/missing/.*)",
                    [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
              s.Get(R"(/flat/.*)", [](const httplib::Request&, httplib::Response& res) {
                  KVImage flat = KVImage::blank(244, 340);
                  std::fill(flat.rgba.begin(), flat.rgba.end(), 200);
                  res.set_content(KVEncodePNG(flat).value_or(""), "image/png");
              });
              s.Get(R"(/junk/.*)", [](const httplib::Request&, httplib::Response& res) {
                  res.set_content("\xff\xd8 not really a jpeg", "image/jpeg");
              });
          }) {}

    std::string url(const std::string& path) const { return server_.base() + path; }
    size_t requestsFor(const std::string& path) const {
        size_t n = 0;
        for (const auto& r : server_.requests()) {
            n += r.path == path ? 1 : 0;
        }
        return n;
    }
    size_t requestCount() const { return server_.requests().size(); }

private:
    std::atomic<int> busyRefusals_{0};
    std::atomic<int> slowAnswers_{0};
    KVFakeHTTPServer server_;
};

using CardArts = std::vector<std::pair<std::string, std::vector<std::string>>>;

// `count` cards "Card <first + i>", card i drawn by /art/<perCard·i + k>.jpg for k < perCard.
CardArts numberedCards(int count, int first, int perCard = 1) {
    CardArts cards;
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> paths;
        for (int k = 0; k < perCard; ++k) {
            paths.push_back("/art/" + std::to_string(perCard * i + k) + ".jpg");
        }
        cards.emplace_back("Card " + std::to_string(first + i), paths);
    }
    return cards;
}

// A catalog of the given cards (name → art paths on the host), loaded from its cache file.
std::shared_ptr<KVCatalog> catalogOf(const ImageHost& host, const CardArts& cards) {
    KVJson printings = KVJson::array();
    int64_t id = 5000;
    for (const auto& [name, paths] : cards) {
        for (const std::string& path : paths) {
            printings.push_back(
                {{"name", name}, {"arena_id", ++id}, {"image_uris", {{"normal", host.url(path)}}}});
        }
    }
    return KVCatalogFromPrintings("TST", printings);
}

struct ArtHashesIntegration : ::testing::Test {
    KVScopedEnvironment env;
    ImageHost host;
};

KVArtHash expectedHash(uint32_t seed) {
    return *KVPHashOfArt(*KVImageFromData(cardJPEG(seed)));
}

TEST_F(ArtHashesIntegration, AFailedAddressStopsTheCardSoHashesStayPaired) {
    auto catalog = catalogOf(host, {{"First Fails", {"/missing/a.jpg", "/art/1.jpg"}},
                                    {"Second Fails", {"/art/2.jpg", "/junk/b.jpg"}},
                                    {"Flat", {"/flat/c.png"}}});
    KVArtHashes hashes(catalog);
    EXPECT_EQ(hashes.hashOne(catalog->cardNamed("First Fails")), 0u);
    EXPECT_EQ(host.requestsFor("/art/1.jpg"), 0u); // never reached
    EXPECT_EQ(hashes.hashOne(catalog->cardNamed("Second Fails")), 1u);
    EXPECT_EQ(catalog->cardNamed("Second Fails")->artHashes.at(0), expectedHash(2));
    EXPECT_EQ(hashes.hashOne(catalog->cardNamed("Flat")), 0u);

    // For good: a 404, an undecodable image and a flat one are not asked for again.
    const size_t asked = host.requestCount();
    for (const char* name : {"First Fails", "Second Fails", "Flat"}) {
        EXPECT_EQ(hashes.hashOne(catalog->cardNamed(name)), 0u);
    }
    EXPECT_EQ(host.requestCount(), asked);
    EXPECT_TRUE(hashes.isFailed(host.url("/junk/b.jpg")));
}

TEST_F(ArtHashesIntegration, PassingFailuresAreTriedAgainAfterABackOff) {
    auto catalog = catalogOf(host, {{"Slow", {"/slow/3.jpg"}}, {"Busy", {"/busy/4.jpg"}}});
    KVArtHashes::Options options;
    options.downloadTimeout = 0.5; // the slow host's first answer takes 1.5 s
    options.retryAfter = 2;        // long enough for the checks below even under a sanitizer
    KVArtHashes hashes(catalog, options);
    const auto slow = catalog->cardNamed("Slow");
    const auto busy = catalog->cardNamed("Busy");
    EXPECT_EQ(hashes.hashOne(slow), 0u);
    EXPECT_EQ(hashes.hashOne(busy), 0u);
    EXPECT_TRUE(hashes.isFailed(host.url("/slow/3.jpg")));
    EXPECT_EQ(hashes.hashOne(slow), 0u); // resting: not asked
    EXPECT_EQ(host.requestsFor("/slow/3.jpg"), 1u);

    auto loop = KVRunLoop::create();
    loop->runUntil(
        [&] {
            return !hashes.isFailed(host.url("/slow/3.jpg")) &&
                   !hashes.isFailed(host.url("/busy/4.jpg"));
        },
        10);
    EXPECT_EQ(hashes.hashOne(slow), 1u);
    EXPECT_EQ(hashes.hashOne(busy), 1u);
    EXPECT_EQ(busy->artHashes.at(0), expectedHash(4));
}

TEST_F(ArtHashesIntegration, TheCacheFileIsReadAsFarAsItCanBeTrusted) {
    auto catalog = catalogOf(host, {{"Opt", {"/art/1.jpg", "/art/2.jpg", "/art/3.jpg"}},
                                    {"Fire Bolt // Ice Shard", {"/art/4.jpg"}}});
    const std::string a = KVPHashToHex(expectedHash(1));
    const std::string b = KVPHashToHex(expectedHash(2));
    KVWriteTestFile(catalog->cachePath("phash_native2"),
                    KVJsonDump(KVJson{{"OPT", {a, "zz-not-a-hash", b}},
                                      {"Fire Bolt // Ice Shard", {a, b, a}}, // more than addresses
                                      {"Nobody", {a}},
                                      {"Shock", "not a list"}}));
    KVArtHashes hashes(catalog);
    EXPECT_EQ(hashes.loadArtHashes(), 3u);
    EXPECT_EQ(catalog->cardNamed("Opt")->artHashes,
              (std::vector<KVArtHash>{expectedHash(1), expectedHash(2)}));
    EXPECT_EQ(catalog->cardNamed("Fire Bolt")->artHashes.size(), 1u); // cut to its address
    EXPECT_EQ(hashes.hashOne(catalog->cardNamed("Fire Bolt")), 0u);   // nothing past the end
    EXPECT_EQ(hashes.hashOne(catalog->cardNamed("Opt")), 1u);         // only the missing one
    EXPECT_EQ(host.requestsFor("/art/3.jpg"), 1u);
    EXPECT_EQ(host.requestsFor("/art/1.jpg"), 0u);

    KVWriteTestFile(catalog->cachePath("phash_native2"), "[1,2]");
    EXPECT_EQ(hashes.loadArtHashes(), 0u);
    EXPECT_EQ(catalog->cardNamed("Opt")->artHashes.size(), 3u); // untouched
}

TEST_F(ArtHashesIntegration, TheWholeSetIsSavedEveryFortyHashes) {
    auto catalog = catalogOf(host, numberedCards(85, 1000));
    std::vector<size_t> saves;
    KVArtHashes::Options options;
    options.saved = [&saves](size_t written) { saves.push_back(written); };
    KVArtHashes hashes(catalog, options);

    EXPECT_EQ(hashes.downloadAllArtHashes([] { return true; }), 0u); // stopped at once
    EXPECT_TRUE(saves.empty());
    EXPECT_EQ(host.requestCount(), 0u);

    EXPECT_EQ(hashes.downloadAllArtHashes({}), 85u);
    EXPECT_EQ(saves, (std::vector<size_t>{40, 80, 85}));
    EXPECT_EQ(hashes.ensureArtHashesFor({catalog->cardNamed("Card 1000"), nullptr}), 0u);
    EXPECT_EQ(saves.size(), 3u); // complete cards: no download, no save

    KVArtHashes restarted(catalog);
    for (auto& [key, card] : catalog->cards()) {
        card->artHashes.clear();
    }
    EXPECT_EQ(restarted.loadArtHashes(), 85u);
    EXPECT_EQ(catalog->cardNamed("Card 1042")->artHashes.at(0), expectedHash(42));
}

TEST_F(ArtHashesIntegration, TheVisionQueueAndTheSetDownloadShareTheWork) {
    auto catalog = catalogOf(host, numberedCards(24, 100, 2));
    KVArtHashes hashes(catalog);
    std::vector<KVCardRef> pack;
    for (int i = 20; i >= 0; i -= 4) {
        pack.push_back(catalog->cardNamed("Card " + std::to_string(100 + i)));
    }
    std::thread background([&] { hashes.downloadAllArtHashes({}); });
    std::thread vision([&] {
        for (int round = 0; round < 5; ++round) {
            hashes.ensureArtHashesFor(pack);
            (void)hashes.candidates(pack);
        }
    });
    background.join();
    vision.join();
    hashes.downloadAllArtHashes({}); // whatever the other thread held when this one passed

    for (int i = 0; i < 24; ++i) {
        const auto card = catalog->cardNamed("Card " + std::to_string(100 + i));
        ASSERT_EQ(card->artHashes.size(), 2u) << card->name;
        EXPECT_EQ(card->artHashes[0], expectedHash(static_cast<uint32_t>(2 * i)));
        EXPECT_EQ(card->artHashes[1], expectedHash(static_cast<uint32_t>(2 * i + 1)));
    }
    for (int n = 0; n < 48; ++n) {
        EXPECT_EQ(host.requestsFor("/art/" + std::to_string(n) + ".jpg"), 1u) << n;
    }
    KVArtHashes reloaded(catalog);
    EXPECT_EQ(reloaded.loadArtHashes(), 48u); // the file is whole
}

TEST_F(ArtHashesIntegration, ASetSwitchStopsTheDownloadAndEachSetKeepsItsOwnFile) {
    auto catalog = catalogOf(host, numberedCards(10, 1000));
    // The next draft's set, with a hash file of its own that nothing here may touch.
    KVConfig::writeJSON(KVJson::array({{{"name", "Other Card"},
                                        {"arena_id", 7001},
                                        {"image_uris", {{"normal", host.url("/art/99.jpg")}}}}}),
                        KVJoinPath(KVConfig::cacheDir(), "scryfall3_TWO.json"));
    const std::string twoFile = KVJoinPath(KVConfig::cacheDir(), "phash_native2_TWO.json");
    const KVJson twoHashes = {{"Other Card", {KVPHashToHex(expectedHash(99))}}};
    KVConfig::writeJSON(twoHashes, twoFile);

    int fetched = 0;
    std::vector<size_t> saves;
    KVArtHashes::Options options;
    options.fetch = [&](const std::string& url, double timeout, KVError* error) {
        if (++fetched == 3) {
            EXPECT_TRUE(catalog->ensureSet("TWO", nullptr)); // the player moved on meanwhile
        }
        return KVAPI::get(url, timeout, error);
    };
    options.saved = [&saves](size_t written) { saves.push_back(written); };
    KVArtHashes hashes(catalog, options);

    EXPECT_EQ(hashes.downloadAllArtHashes({}), 3u);
    EXPECT_EQ(fetched, 3); // nothing more for a set no longer shown
    EXPECT_EQ(saves, std::vector<size_t>{3});
    const auto tst = KVConfig::readJSON(KVJoinPath(KVConfig::cacheDir(), "phash_native2_TST.json"));
    ASSERT_TRUE(tst && tst->is_object());
    EXPECT_EQ(tst->size(), 3u);
    EXPECT_EQ(KVJsonAt(*tst, "Card 1002"), KVJson::array({KVPHashToHex(expectedHash(2))}));
    EXPECT_EQ(KVConfig::readJSON(twoFile), twoHashes);

    // The new set's hashes are not loaded yet: a save then has nothing to write, which is no
    // reason to empty its file.
    hashes.saveArtHashes();
    EXPECT_EQ(KVConfig::readJSON(twoFile), twoHashes);
    EXPECT_EQ(hashes.loadArtHashes(), 1u);
    EXPECT_EQ(hashes.hashCachePath(), twoFile);
    EXPECT_EQ(catalog->cardNamed("Other Card")->artHashes.at(0), expectedHash(99));
}

} // namespace
