// Pack analysis and decks through the program's own client, against the real service.
#include "card_fixtures.hpp"
#include "service/api.hpp"
#include "service_process.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

namespace {

// One credit per account, and a card folder of one hand-made set of 45 cards: the case where
// a second charge for a draft shows at once as a refusal.
TEST(ServerDraftIntegration, ChargesEachDraftOnceUnderConcurrencyAndOverARestart) {
    KVTempDir dir;
    std::vector<std::string> names;
    KVJson cards = KVJson::array();
    for (int i = 0; i < 45; ++i) {
        names.push_back("Test Card " + std::to_string(i));
        const std::string color(1, "WUBRG"[i % 5]);
        cards.push_back((i % 9 == 0 ? KVSRareRemoval(names.back(), color)
                                    : KVSVanilla(names.back(), color, 1 + i % 6))
                            .json());
    }
    KVWriteTestFile(dir.file("cards/tst.json"), KVJsonDump({{"data", cards}}));
    const std::vector<std::string> args{"--cards", dir.file("cards"), "--offline", "--free-credits",
                                        "1"};
    auto service = std::make_unique<KVSServiceProcess>(dir.file("korvane.db"), args);
    ASSERT_TRUE(service->running());
    const auto analyze = [&names](KVAPI& api, const std::string& draftId, KVError* error) {
        const std::vector<std::string> pack(names.begin(), names.begin() + 14);
        const std::vector<std::string> pool(names.begin() + 14, names.begin() + 20);
        return api.analyzeDraft(draftId, pack, pool, 1, 7, "PremierDraft", "TST", KVJson::array(),
                                1, error);
    };
    KVAPI api(service->base(), "");
    ASSERT_TRUE(api.registerEmail("drafter@example.com", "password1", nullptr));

    KVError error;
    const auto first = analyze(api, "draft-1", &error);
    ASSERT_TRUE(first) << error.message;
    for (const char* key : {"picks", "best", "runnerUp", "second", "warning", "summary",
                            "colorsOpen", "lane", "table", "pool", "credits"}) {
        EXPECT_TRUE(first->contains(key)) << key;
    }
    EXPECT_EQ((*first)["picks"].size(), 14u);
    const std::string best = (*first)["best"];
    EXPECT_TRUE(best == "Test Card 0" || best == "Test Card 9") << "a rare removal spell";
    EXPECT_EQ((*first)["credits"], 0);
    EXPECT_FALSE(analyze(api, "draft-2", &error));
    EXPECT_EQ(error.code, 402);
    EXPECT_EQ(error.message, "No draft credits remaining.");
    KVAPI stranger(service->base(), "");
    EXPECT_FALSE(analyze(stranger, "draft-1", &error));
    EXPECT_EQ(error.code, 401);

    // Decks are free, from twenty cards up.
    EXPECT_FALSE(api.buildDeck({names.begin(), names.begin() + 19}, "", "TST", "", &error));
    EXPECT_EQ(error.code, 400);
    EXPECT_EQ(error.message, "A deck needs a pool of at least 20 cards.");
    const auto deck = api.buildDeck({names.begin(), names.begin() + 42}, "", "TST", "", &error);
    ASSERT_TRUE(deck) << error.message;
    EXPECT_EQ(KVSDeckSize(*deck), 40);
    EXPECT_EQ((*deck)["credits"], 0);

    // Twenty first requests for one draft, released at once when the last is ready: all are
    // answered, and the one credit pays for them.
    KVAPI racer(service->base(), "");
    ASSERT_TRUE(racer.registerEmail("racer@example.com", "password1", nullptr));
    std::latch ready(20);
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 20; ++i) {
        threads.emplace_back([&] {
            KVAPI client(service->base(), racer.token());
            ready.arrive_and_wait();
            const auto answer = analyze(client, "the-draft", nullptr);
            answered += answer && (*answer)["credits"] == 0 ? 1 : 0;
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answered.load(), 20);
    const auto me = racer.me(nullptr);
    ASSERT_TRUE(me);
    EXPECT_EQ((*me)["credits"], 0);

    // The charges are kept: after a restart, the paid draft is still paid.
    service.reset();
    service = std::make_unique<KVSServiceProcess>(dir.file("korvane.db"), args);
    ASSERT_TRUE(service->running());
    api.setBaseURL(service->base());
    const auto restarted = analyze(api, "draft-1", &error);
    ASSERT_TRUE(restarted) << error.message;
    EXPECT_EQ((*restarted)["credits"], 0);
}

} // namespace
