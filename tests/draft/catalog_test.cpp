#include "draft/catalog.hpp"

#include "base/config.hpp"
#include "base/files.hpp"
#include "support/fake_http_server.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Pages = std::vector<std::vector<KVJson>>;

// What the fake Scryfall knows. Search pages link to each other by absolute URLs on the fake.
struct ScryfallData {
    std::map<std::string, Pages> search;          // lower-case set code → its result pages
    std::map<std::string, int> failing = {};      // set code → the page answered with HTTP 500
    std::optional<KVJson> sets = KVJson::array(); // the set list; none: "/sets" answers 500
};

// Called before a search page is answered, on the server's thread.
using SearchHook = std::function<void(const std::string& code, size_t page)>;

void answer(httplib::Response& res, int status, const KVJson& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

std::unique_ptr<KVFakeHTTPServer> serve(ScryfallData data, const SearchHook& onSearch = {}) {
    auto known = std::make_shared<const ScryfallData>(std::move(data));
    return std::make_unique<KVFakeHTTPServer>([known, onSearch](KVFakeHTTPServer::Routes& s) {
        s.Get("/cards/search", [known, onSearch](const httplib::Request& req,
                                                 httplib::Response& res) {
            const std::string query = req.get_param_value("q"); // "e:sos unique:prints"
            const std::string code = query.substr(2, query.find(' ') - 2);
            const size_t page = req.has_param("page") ? std::stoul(req.get_param_value("page")) : 1;
            if (onSearch) {
                onSearch(code, page);
            }
            if (const auto failing = known->failing.find(code);
                failing != known->failing.end() && failing->second == static_cast<int>(page)) {
                return answer(res, 500, {{"object", "error"}, {"status", 500}});
            }
            const auto pages = known->search.find(code);
            if (pages == known->search.end() || page > pages->second.size()) {
                return answer(res, 404, {{"object", "error"}, {"code", "not_found"}});
            }
            KVJson body = {{"object", "list"},
                           {"data", pages->second[page - 1]},
                           {"has_more", page < pages->second.size()}};
            if (page < pages->second.size()) {
                body["next_page"] =
                    "http://" + req.get_header_value("Host") +
                    "/cards/search?include_extras=true&page=" + std::to_string(page + 1) +
                    "&q=e%3A" + code + "%20unique%3Aprints";
            }
            answer(res, 200, body);
        });
        s.Get("/sets", [known](const httplib::Request&, httplib::Response& res) {
            if (!known->sets) {
                return answer(res, 500, {{"object", "error"}});
            }
            answer(res, 200, {{"object", "list"}, {"has_more", false}, {"data", *known->sets}});
        });
    });
}

// A printing as Scryfall sends it; arenaId 0 leaves "arena_id" out, "" leaves the images out.
KVJson printing(const std::string& name, int64_t arenaId, const std::string& image,
                const std::string& set = "sos") {
    KVJson card = {{"object", "card"},        {"name", name},        {"set", set},
                   {"mana_cost", "{1}{W}"},   {"cmc", 2.0},          {"colors", {"W"}},
                   {"color_identity", {"W"}}, {"type_line", "Bird"}, {"rarity", "common"}};
    if (arenaId != 0) {
        card["arena_id"] = arenaId;
    }
    if (!image.empty()) {
        card["image_uris"] = {{"small", image + "?small"}, {"normal", image}};
    }
    return card;
}

KVJson bonusSet(const std::string& code, const std::string& parent, const std::string& type) {
    return {{"object", "set"}, {"code", code}, {"parent_set_code", parent}, {"set_type", type}};
}

std::string cacheFile(const std::string& code) {
    return KVJoinPath(KVConfig::cacheDir(), "scryfall3_" + code + ".json");
}

std::vector<std::string> namesOf(const std::optional<KVJson>& printings) {
    std::vector<std::string> names;
    for (const KVJson& card : printings.value_or(KVJson::array())) {
        names.push_back(card.value("name", "?"));
    }
    return names;
}

const std::string kFirstSearch = "/cards/search?q=e:sos%20unique:prints&include_extras=true";

TEST(CatalogIntegration, ReadsEveryPageIndexesTheCardsAndCachesTheAnswerAsSent) {
    KVScopedEnvironment env;
    KVJson odd = printing("Lumen Owl", 90001, "https://img/owl.jpg");
    odd["future_field"] = {{"kept", true}};
    auto fake = serve({{{"sos",
                         {{odd, printing("Ember Fox", 90002, "https://img/fox.jpg")},
                          {printing("Tidal Crab", 90003, "https://img/crab.jpg")}}}}});
    KVCatalog catalog(fake->base());
    EXPECT_EQ(catalog.status(), "idle");
    KVError error;
    ASSERT_TRUE(catalog.ensureSet("sos", &error)) << error.message;
    EXPECT_EQ(catalog.setCode(), "SOS");
    EXPECT_EQ(catalog.status(), "SOS (3 cards)");

    const auto requests = fake->requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].path, kFirstSearch);
    EXPECT_EQ(requests[1].path,
              "/cards/search?include_extras=true&page=2&q=e%3Asos%20unique%3Aprints");
    EXPECT_EQ(requests[2].path, "/sets");
    EXPECT_EQ(requests[0].header("Accept"), "application/json");

    const auto crab = catalog.cardNamed("  TIDAL crab // ignored");
    ASSERT_NE(crab, nullptr);
    EXPECT_EQ(crab, catalog.cardForArenaId(90003));
    EXPECT_EQ(crab->setCode, "SOS");
    EXPECT_DOUBLE_EQ(crab->cmc, 2.0);
    EXPECT_EQ(crab->colors, std::vector<std::string>{"W"});
    EXPECT_EQ(crab->imageURI, "https://img/crab.jpg"); // "normal" before "small"
    EXPECT_EQ(crab->artURIs, std::vector<std::string>{"https://img/crab.jpg"});

    EXPECT_EQ(catalog.cachePath(KVCatalog::kCardCachePrefix), cacheFile("SOS"));
    const auto cached = KVConfig::readJSON(cacheFile("SOS"));
    EXPECT_EQ(namesOf(cached), (std::vector<std::string>{"Lumen Owl", "Ember Fox", "Tidal Crab"}));
    ASSERT_TRUE(cached && !cached->empty());
    EXPECT_EQ((*cached)[0], odd); // unknown fields too: the file is Scryfall's answer

    // Loaded already: no request. Cached: no server needed.
    EXPECT_TRUE(catalog.ensureSet("SoS", nullptr));
    EXPECT_EQ(fake->requests().size(), 3u);
    const std::string base = fake->base();
    fake.reset();
    KVCatalog second(base);
    ASSERT_TRUE(second.ensureSet("sos", &error)) << error.message;
    EXPECT_EQ(second.status(), "SOS (3 cards)");
    EXPECT_EQ(second.cardForArenaId(90003)->artURIs, crab->artURIs);
}

TEST(CatalogIntegration, AnEmptySearchOrNoSetIsNotAnError) {
    KVScopedEnvironment env;
    auto fake = serve({{{"sos", {{printing("Lumen Owl", 90001, "")}}}}});
    KVCatalog catalog(fake->base());
    KVError error{"untouched", 7, ""};
    EXPECT_FALSE(catalog.ensureSet("zzz", &error));
    EXPECT_EQ(catalog.status(), "ZZZ (0 cards)");
    EXPECT_EQ(error.domain, "untouched");
    EXPECT_FALSE(KVFileExists(cacheFile("ZZZ")));

    ASSERT_TRUE(catalog.ensureSet("sos", nullptr));
    EXPECT_FALSE(catalog.ensureSet("", &error));
    EXPECT_EQ(catalog.status(), "no set");
    EXPECT_EQ(catalog.setCode(), "");
    EXPECT_TRUE(catalog.cards().empty());
    EXPECT_EQ(catalog.cardForArenaId(90001), nullptr);
    EXPECT_EQ(error.domain, "untouched");
}

TEST(CatalogIntegration, AFirstPageThatFailsLeavesNothingAndSaysWhy) {
    KVScopedEnvironment env;
    auto fake = serve({{{"sos", {{printing("Lumen Owl", 90001, "")}}}}, {{"sos", 1}}, {}});
    KVCatalog catalog(fake->base());
    KVError error;
    EXPECT_FALSE(catalog.ensureSet("SOS", &error));
    EXPECT_EQ(error.domain, "KorvaneAPI");
    EXPECT_EQ(error.code, 500);
    EXPECT_EQ(catalog.status(), "scryfall failed: HTTP 500 for " + fake->base() + kFirstSearch);
    EXPECT_EQ(fake->requests().size(), 1u); // no set list for a set that could not be had
    EXPECT_EQ(catalog.cardCount(), 0u);
    EXPECT_FALSE(KVFileExists(cacheFile("SOS")));

    const std::string base = fake->base();
    fake.reset();
    KVCatalog unreachable(base);
    EXPECT_FALSE(unreachable.ensureSet("SOS", &error));
    EXPECT_EQ(error.domain, "KorvaneNet");
    EXPECT_EQ(unreachable.status(), "scryfall failed: " + error.message);
}

TEST(CatalogIntegration, BonusSheetsFollowTheSetInTheSetListsOrder) {
    KVScopedEnvironment env;
    KVJson sets = {
        bonusSet("zzz", "sos", "masterpiece"),      bonusSet("spg", "sos", "spellbook"),
        bonusSet("tsos", "sos", "token"),           bonusSet("mom", "mom", "expansion"),
        bonusSet("big", "other", "masterpiece"),    {{"code", "nul"}, {"parent_set_code", "sos"}},
        bonusSet("sta", "sos", "draft_innovation"), "not a set"};
    auto fake = serve({{{"sos", {{printing("Lumen Owl", 90001, "https://img/owl.jpg")}}},
                        {"sta",
                         {{printing("Lumen Owl", 95001, "https://img/owl-sta.jpg", "sta"),
                           printing("Ancient Sphinx", 95002, "", "sta")}}},
                        {"spg", {{printing("Sky Titan", 96001, "", "spg")}}},
                        {"tsos", {{printing("Bird Token", 97001, "", "tsos")}}},
                        {"big", {{printing("Other Set Card", 98001, "", "big")}}}},
                       {},
                       sets});
    KVCatalog catalog(fake->base());
    bool listed = false;
    EXPECT_EQ(KVScryfall(fake->base()).bonusSheets("SOS", &listed),
              (std::vector<std::string>{"zzz", "spg", "sta"}));
    EXPECT_TRUE(listed);

    ASSERT_TRUE(catalog.ensureSet("SOS", nullptr));
    EXPECT_EQ(catalog.status(), "SOS (3 cards)");
    // "zzz" found nothing (404): an empty sheet, not a failure, so the download is cached.
    EXPECT_EQ(namesOf(KVConfig::readJSON(cacheFile("SOS"))),
              (std::vector<std::string>{"Lumen Owl", "Sky Titan", "Lumen Owl", "Ancient Sphinx"}));
    const auto sphinx = catalog.cardNamed("Ancient Sphinx");
    ASSERT_NE(sphinx, nullptr);
    EXPECT_EQ(sphinx->setCode, "STA");
    const auto owl = catalog.cardForArenaId(95001);
    EXPECT_EQ(owl, catalog.cardNamed("Lumen Owl"));
    ASSERT_NE(owl, nullptr);
    EXPECT_EQ(owl->setCode, "SOS"); // the set's own printing came first
    EXPECT_EQ(owl->artURIs,
              (std::vector<std::string>{"https://img/owl.jpg", "https://img/owl-sta.jpg"}));
    EXPECT_EQ(catalog.cardNamed("Bird Token"), nullptr);
}

// Whatever part of a download fails, the cards read so far are used but not cached: the file
// never expires, so the rest of the set would be missing for good.
TEST(CatalogIntegration, APartialDownloadIsUsedButNeverCached) {
    const Pages sos = {{printing("Lumen Owl", 90001, "")}, {printing("Ember Fox", 90002, "")}};
    const Pages sta = {{printing("Sky Titan", 95001, "", "sta")}};
    const KVJson bonus = KVJson::array({bonusSet("sta", "sos", "draft_innovation")});
    const struct {
        const char* what;
        ScryfallData data;
    } cases[] = {
        {"a later page fails", {{{"sos", sos}}, {{"sos", 2}}}},
        {"a bonus sheet fails", {{{"sos", {sos[0]}}, {"sta", sta}}, {{"sta", 1}}, bonus}},
        {"the set list fails", {{{"sos", {sos[0]}}, {"sta", sta}}, {}, std::nullopt}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KVScopedEnvironment env;
        auto fake = serve(c.data);
        KVCatalog catalog(fake->base());
        EXPECT_TRUE(catalog.ensureSet("SOS", nullptr));
        EXPECT_EQ(catalog.status(), "SOS (1 cards)");
        EXPECT_NE(catalog.cardForArenaId(90001), nullptr);
        EXPECT_FALSE(KVFileExists(cacheFile("SOS")));
        bool listed = true;
        KVScryfall(fake->base()).bonusSheets("sos", &listed);
        EXPECT_EQ(listed, c.data.sets.has_value());
    }

    // The same when the server is gone by the second page.
    KVScopedEnvironment env;
    const std::string gone = serve({})->base() + "/cards/search?page=2";
    KVFakeHTTPServer cut([gone](KVFakeHTTPServer::Routes& s) {
        s.Get("/cards/search", [gone](const httplib::Request&, httplib::Response& res) {
            answer(res, 200,
                   {{"data", {printing("Ember Fox", 90002, "")}},
                    {"has_more", true},
                    {"next_page", gone}});
        });
    });
    KVCatalog cutShort(cut.base());
    EXPECT_TRUE(cutShort.ensureSet("SOS", nullptr));
    EXPECT_NE(cutShort.cardForArenaId(90002), nullptr);
    EXPECT_FALSE(KVFileExists(cacheFile("SOS")));
    KVError error;
    bool complete = true;
    EXPECT_EQ(KVScryfall(cut.base()).fetchSetCards("sos", &error, &complete)->size(), 1u);
    EXPECT_FALSE(complete);
    EXPECT_EQ(error.domain, "KorvaneNet");
}

TEST(CatalogIntegration, ACacheFileWithoutCardsIsReplaced) {
    // Not a list, an empty one, or a list that names no card: each would leave the set empty
    // for good, since the file never expires.
    for (const std::string stale : {"[]", "{}", "garbage", "", "[1,", "[1]", "[{}]",
                                    R"([null, {"name": ""}, {"arena_id": 5}, ["Owl"]])"}) {
        SCOPED_TRACE(stale);
        KVScopedEnvironment env;
        KVWriteTestFile(cacheFile("SOS"), stale);
        auto fake = serve({{{"sos", {{printing("Lumen Owl", 90001, "")}}}}});
        KVCatalog catalog(fake->base());
        EXPECT_TRUE(catalog.ensureSet("SOS", nullptr));
        EXPECT_EQ(catalog.status(), "SOS (1 cards)");
        ASSERT_FALSE(fake->requests().empty());
        EXPECT_EQ(fake->requests().front().path, kFirstSearch);
        EXPECT_EQ(namesOf(KVConfig::readJSON(cacheFile("SOS"))),
                  std::vector<std::string>{"Lumen Owl"});
    }
}

TEST(CatalogIntegration, ArenaPrintingsShareOneCardAndCollectTheirArt) {
    KVScopedEnvironment env;
    auto fake = serve({{{"sos",
                         {{printing("Lumen Owl", 90001, "https://img/a.jpg"),
                           printing("Lumen Owl", 90002, "https://img/b.jpg"),
                           printing("Lumen Owl", 0, "https://img/paper.jpg"),
                           printing("Lumen Owl", 90002, "https://img/a.jpg"),
                           // Paper first: the image stays the card's, the art is the game's.
                           printing("Ember Fox", 0, "https://img/fox-paper.jpg"),
                           printing("Ember Fox", 91001, "https://img/fox.jpg")}}}}});
    KVCatalog catalog(fake->base());
    ASSERT_TRUE(catalog.ensureSet("SOS", nullptr));
    EXPECT_EQ(catalog.cards().size(), 2u);
    const auto owl = catalog.cardNamed("Lumen Owl");
    ASSERT_NE(owl, nullptr);
    EXPECT_EQ(catalog.cardForArenaId(90001), owl);
    EXPECT_EQ(catalog.cardForArenaId(90002), owl);
    EXPECT_EQ(owl->arenaId, 90001);
    EXPECT_EQ(owl->imageURI, "https://img/a.jpg");
    EXPECT_EQ(owl->artURIs, (std::vector<std::string>{"https://img/a.jpg", "https://img/b.jpg"}));

    const auto fox = catalog.cardForArenaId(91001);
    ASSERT_NE(fox, nullptr);
    EXPECT_EQ(fox->arenaId, 91001);
    EXPECT_EQ(fox->imageURI, "https://img/fox-paper.jpg");
    EXPECT_EQ(fox->artURIs, std::vector<std::string>{"https://img/fox.jpg"});

    // Ids the set doesn't know: a new placeholder each time, never stored.
    const auto resolved = catalog.resolveIds({91234, 90002, 91234});
    ASSERT_EQ(resolved.size(), 3u);
    EXPECT_EQ(resolved[0]->name, "Unknown 91234");
    EXPECT_EQ(resolved[0]->arenaId, 91234);
    EXPECT_EQ(resolved[1], owl);
    EXPECT_NE(resolved[0], resolved[2]); // a grade given to one stays on that one
    EXPECT_EQ(catalog.cardForArenaId(91234), nullptr);
    EXPECT_EQ(catalog.cardNamed("Unknown 91234"), nullptr);
}

TEST(CatalogIntegration, TwoFacedPaperOnlyAndMalformedPrintings) {
    KVScopedEnvironment env;
    const KVJson twoFaced = KVJson::parse(R"({"name": "Dawn Herald // Dusk Herald",
        "arena_id": 90010, "card_faces": [
          {"mana_cost": "{2}{W}", "image_uris": {"large": "https://img/dawn-large.jpg"}},
          {"mana_cost": "", "image_uris": {"normal": "https://img/dusk.jpg"}}]})");
    KVJson paper = printing("Old Relic", 0, "");
    paper["image_uris"] = {{"small", "https://img/relic-small.jpg"}};
    const KVJson mistyped = KVJson::parse(R"({"name": "Odd Shape", "arena_id": "90020",
        "set": 5, "mana_cost": 3, "cmc": "3", "colors": ["W", 5, "U"], "color_identity": "W",
        "type_line": ["Bird"], "image_uris": "x"})");
    const KVJson junk = KVJson::parse(R"([42, "card", null, [], {"arena_id": 90030},
        {"name": "", "arena_id": 90031}, {"name": 7, "arena_id": 90032}])");
    KVJson page = KVJson::array({twoFaced, paper, mistyped});
    page.insert(page.end(), junk.begin(), junk.end());
    auto fake = serve({{{"sos", {page.get<std::vector<KVJson>>()}}}});
    KVCatalog catalog(fake->base());
    ASSERT_TRUE(catalog.ensureSet("SOS", nullptr));
    EXPECT_EQ(catalog.status(), "SOS (3 cards)");

    const auto herald = catalog.cardNamed("dawn herald");
    ASSERT_NE(herald, nullptr);
    EXPECT_EQ(herald, catalog.cardForArenaId(90010));
    EXPECT_EQ(herald->name, "Dawn Herald // Dusk Herald");
    EXPECT_EQ(herald->manaCost, "{2}{W}");
    EXPECT_EQ(herald->imageURI, "https://img/dawn-large.jpg");
    EXPECT_EQ(herald->setCode, "SOS"); // no "set": the set being loaded

    const auto relic = catalog.cardNamed("Old Relic");
    ASSERT_NE(relic, nullptr);
    EXPECT_EQ(relic->arenaId, 0);
    EXPECT_EQ(catalog.cardForArenaId(0), nullptr);
    EXPECT_EQ(relic->artURIs, std::vector<std::string>{"https://img/relic-small.jpg"});

    const auto odd = catalog.cardNamed("Odd Shape");
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->arenaId, 0); // a string is not an Arena id
    EXPECT_EQ(odd->setCode, "SOS");
    EXPECT_EQ(odd->manaCost, "");
    EXPECT_EQ(odd->cmc, 0);
    EXPECT_EQ(odd->colors, (std::vector<std::string>{"W", "U"}));
    EXPECT_TRUE(odd->colorIdentity.empty());
    EXPECT_EQ(odd->typeLine, "");
    EXPECT_FALSE(odd->imageURI.has_value());
    EXPECT_TRUE(odd->artURIs.empty());
    for (const int64_t id : {90020, 90030, 90031, 90032}) {
        EXPECT_EQ(catalog.cardForArenaId(id), nullptr) << id;
    }
}

TEST(CatalogIntegration, ConcurrentLoadsEndWithOneWholeSet) {
    KVScopedEnvironment env;
    auto fake =
        serve({{{"aaa",
                 {{printing("Owl", 1, "", "aaa"), printing("Fox", 2, "", "aaa"),
                   printing("Crab", 3, "", "aaa")}}},
                {"bbb", {{printing("Bat", 4, "", "bbb"), printing("Eel", 5, "", "bbb")}}}}});
    {
        // A load that waited for the same set finds it loaded.
        KVCatalog catalog(fake->base());
        std::thread a([&] { EXPECT_TRUE(catalog.ensureSet("aaa", nullptr)); });
        EXPECT_TRUE(catalog.ensureSet("AAA", nullptr));
        a.join();
        EXPECT_EQ(fake->requests().size(), 2u); // one search, one set list
    }
    // Later rounds read both sets from the cache files, so the loads overlap more.
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        KVCatalog catalog(fake->base());
        std::atomic<bool> done{false};
        std::thread reader([&] {
            while (!done) {
                const std::string status = catalog.status();
                EXPECT_FALSE(status.empty());
                catalog.cards();
                catalog.cardForArenaId(4);
            }
        });
        std::thread a([&] { catalog.ensureSet("aaa", nullptr); });
        std::thread b([&] { catalog.ensureSet("bbb", nullptr); });
        a.join();
        b.join();
        done = true;
        reader.join();

        const std::string code = catalog.setCode();
        ASSERT_TRUE(code == "AAA" || code == "BBB") << code;
        const auto cards = catalog.cards();
        EXPECT_EQ(cards.size(), code == "AAA" ? 3u : 2u);
        EXPECT_EQ(catalog.status(), code + " (" + std::to_string(cards.size()) + " cards)");
        for (const auto& [name, card] : cards) {
            EXPECT_EQ(card->setCode, code) << name;
        }
        EXPECT_EQ(catalog.cardForArenaId(code == "AAA" ? 4 : 1), nullptr);
    }
}

// A request held on the server until the test lets it go; opening it twice is harmless.
struct Gate {
    std::promise<void> reached;
    std::promise<void> opened;
    std::shared_future<void> open = opened.get_future().share();
    std::once_flag once;

    void holdHere() {
        reached.set_value();
        open.wait();
    }
    void letGo() {
        std::call_once(once, [this] { opened.set_value(); });
    }
};

TEST(CatalogIntegration, ALoadGivesWayToALaterSetBetweenPages) {
    KVScopedEnvironment env;
    auto gate = std::make_shared<Gate>();
    auto reached = gate->reached.get_future();
    ScryfallData data{{{"aaa",
                        {{printing("Owl", 1, "", "aaa")},
                         {printing("Fox", 2, "", "aaa")},
                         {printing("Crab", 3, "", "aaa")}}},
                       {"ccc", {{printing("Bat", 4, "", "ccc")}}}}};
    auto fake = serve(data, [gate](const std::string& code, size_t page) {
        if (code == "aaa" && page == 2) {
            gate->holdHere();
        }
    });
    const auto letGo = std::shared_ptr<void>(nullptr, [gate](void*) { gate->letGo(); });
    KVCatalog catalog(fake->base());

    // Each later request waits for the load before it; by its turn, "bbb" is stale too.
    std::map<std::string, std::pair<bool, KVError>> outcome;
    std::mutex outcomeMutex;
    const auto load = [&](const std::string& code) {
        return std::thread([&, code] {
            KVError error;
            const bool loaded = catalog.ensureSet(code, &error);
            std::lock_guard lock(outcomeMutex);
            outcome[code] = {loaded, error};
        });
    };
    std::thread first = load("aaa");
    ASSERT_EQ(reached.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(catalog.wantedSet(), "AAA");
    std::thread second = load("bbb");
    EXPECT_TRUE(KVEventually([&] { return catalog.wantedSet() == "BBB"; }));
    std::thread third = load("ccc");
    EXPECT_TRUE(KVEventually([&] { return catalog.wantedSet() == "CCC"; }));
    gate->letGo();
    for (std::thread* t : {&first, &second, &third}) {
        t->join();
    }

    EXPECT_FALSE(outcome["aaa"].first);
    EXPECT_EQ(outcome["aaa"].second.domain, "KorvaneCatalog");
    EXPECT_EQ(outcome["aaa"].second.message, "Loading AAA gave way to CCC");
    EXPECT_FALSE(outcome["bbb"].first);
    EXPECT_EQ(outcome["bbb"].second.message, "Loading BBB gave way to CCC");
    EXPECT_TRUE(outcome["ccc"].first);
    EXPECT_EQ(catalog.setCode(), "CCC");
    EXPECT_EQ(catalog.status(), "CCC (1 cards)");
    EXPECT_EQ(catalog.cardForArenaId(2), nullptr);
    for (const auto& request : fake->requests()) {
        EXPECT_EQ(request.path.find("page=3"), std::string::npos) << request.path;
        EXPECT_EQ(request.path.find("bbb"), std::string::npos) << request.path;
    }
    EXPECT_FALSE(KVFileExists(cacheFile("AAA"))); // two pages of three: not the whole set
}

TEST(CatalogIntegration, RequestsFromEveryCatalogShareOnePace) {
    KVScopedEnvironment env;
    auto fake = serve(
        {{{"sos", {{printing("A", 1, "")}, {printing("B", 2, "")}, {printing("C", 3, "")}}}}});
    KVScryfall one(fake->base());
    KVScryfall two(fake->base());
    const auto start = std::chrono::steady_clock::now();
    std::thread other([&] { EXPECT_EQ(two.fetchSetCards("sos", nullptr)->size(), 3u); });
    EXPECT_EQ(one.fetchSetCards("sos", nullptr)->size(), 3u);
    other.join();
    // Six requests at no more than ten a second take at least half a second.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST(Catalog, DevelopmentBuildsMayPointAtAnotherScryfall) {
    const auto baseWith = [](std::optional<std::string> variable, const std::string& program) {
        KVScopedEnvironment env([&](KVEnvironment& e) {
            e.scryfallBase = variable;
            e.executablePath = program;
        });
        return KVScryfall::defaultBase();
    };
    const std::string dev = "/src/korvane/build/dist/bin/korvane";
    const std::string packaged = "/opt/korvane/bin/korvane";
    // How the address is trimmed is the service address's rule, tested with the settings.
    EXPECT_EQ(baseWith(" http://127.0.0.1:9/\n", dev), "http://127.0.0.1:9");
    EXPECT_EQ(baseWith(std::nullopt, dev), KVScryfall::kBase);
    EXPECT_EQ(baseWith("http://127.0.0.1:9", packaged), KVScryfall::kBase);
}

} // namespace
