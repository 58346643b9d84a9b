// Pack analysis and decks through the program's own client, against the real service.
#include "card_fixtures.hpp"
#include "service/api.hpp"
#include "service_process.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>

namespace {

// A service on a card folder of one hand-made set; `names` gets the card names.
struct DraftService {
    KVTempDir dir;
    std::vector<std::string> names;
    std::unique_ptr<KVSServiceProcess> service;

    explicit DraftService(int64_t credits) {
        KVJson cards = KVJson::array();
        for (int i = 0; i < 45; ++i) {
            names.push_back("Test Card " + std::to_string(i));
            const std::string color(1, "WUBRG"[i % 5]);
            cards.push_back((i % 9 == 0 ? KVSRareRemoval(names.back(), color)
                                        : KVSVanilla(names.back(), color, 1 + i % 6))
                                .json());
        }
        KVWriteTestFile(dir.file("cards/tst.json"), KVJsonDump({{"data", cards}}));
        service = std::make_unique<KVSServiceProcess>(
            dir.file("korvane.db"),
            std::vector<std::string>{"--cards", dir.file("cards"), "--offline", "--free-credits",
                                     std::to_string(credits)});
    }

    std::optional<KVJson> analyze(KVAPI& api, const std::string& draftId, KVError* error) {
        const std::vector<std::string> pack(names.begin(), names.begin() + 14);
        const std::vector<std::string> pool(names.begin() + 14, names.begin() + 20);
        return api.analyzeDraft(draftId, pack, pool, 1, 7, "PremierDraft", "TST", KVJson::array(),
                                1, error);
    }
};

TEST(ServerDraftIntegration, ChargesACreditPerNewDraftAndAnswersEveryKey) {
    DraftService draft(1);
    ASSERT_TRUE(draft.service->running());
    KVAPI api(draft.service->base(), "");
    ASSERT_TRUE(api.registerEmail("drafter@example.com", "password1", nullptr));

    KVError error;
    const auto first = draft.analyze(api, "draft-1", &error);
    ASSERT_TRUE(first) << error.message;
    for (const char* key : {"picks", "best", "runnerUp", "second", "warning", "summary",
                            "colorsOpen", "lane", "table", "pool", "credits"}) {
        EXPECT_TRUE(first->contains(key)) << key;
    }
    EXPECT_EQ((*first)["picks"].size(), 14u);
    const std::string best = (*first)["best"];
    EXPECT_TRUE(best == "Test Card 0" || best == "Test Card 9") << "a rare removal spell";
    EXPECT_EQ((*first)["credits"], 0);
    EXPECT_EQ((*first)["pool"]["target"], 23);

    const auto again = draft.analyze(api, "draft-1", &error);
    ASSERT_TRUE(again) << "the same draft is not charged twice: " << error.message;
    EXPECT_EQ((*again)["credits"], 0);

    EXPECT_FALSE(draft.analyze(api, "draft-2", &error));
    EXPECT_EQ(error.code, 402);
    EXPECT_EQ(error.message, "No draft credits remaining.");

    KVAPI stranger(draft.service->base(), "");
    EXPECT_FALSE(draft.analyze(stranger, "draft-1", &error));
    EXPECT_EQ(error.code, 401);
}

TEST(ServerDraftIntegration, TwentyConcurrentFirstRequestsPayOnce) {
    DraftService draft(5);
    ASSERT_TRUE(draft.service->running());
    KVAPI api(draft.service->base(), "");
    ASSERT_TRUE(api.registerEmail("racer@example.com", "password1", nullptr));

    // Every thread is released at once, when the last one is ready.
    std::mutex mutex;
    std::condition_variable ready;
    int waiting = 0;
    bool go = false;
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    threads.reserve(20);
    for (int i = 0; i < 20; ++i) {
        threads.emplace_back([&] {
            KVAPI client(draft.service->base(), api.token());
            {
                std::unique_lock lock(mutex);
                if (++waiting == 20) {
                    go = true;
                    ready.notify_all();
                }
                ready.wait(lock, [&] { return go; });
            }
            const auto answer = draft.analyze(client, "the-draft", nullptr);
            if (answer && (*answer)["credits"] == 4) {
                ++answered;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answered.load(), 20);
    const auto me = api.me(nullptr);
    ASSERT_TRUE(me);
    EXPECT_EQ((*me)["credits"], 4);
}

TEST(ServerDraftIntegration, BuildsDecksForFreeFromTwentyCardsUp) {
    DraftService draft(2);
    ASSERT_TRUE(draft.service->running());
    KVAPI api(draft.service->base(), "");
    ASSERT_TRUE(api.registerEmail("builder@example.com", "password1", nullptr));

    KVError error;
    const std::vector<std::string> small(draft.names.begin(), draft.names.begin() + 19);
    EXPECT_FALSE(api.buildDeck(small, "", "TST", "", &error));
    EXPECT_EQ(error.code, 400);
    EXPECT_EQ(error.message, "A deck needs a pool of at least 20 cards.");

    const std::vector<std::string> pool(draft.names.begin(), draft.names.begin() + 42);
    const auto deck = api.buildDeck(pool, "", "TST", "", &error);
    ASSERT_TRUE(deck) << error.message;
    int total = 0;
    for (const KVJson& spell : (*deck)["spells"]) {
        total += spell["count"].get<int>();
    }
    int lands = 0;
    for (const auto& [color, count] : (*deck)["lands"].items()) {
        lands += count.get<int>();
    }
    EXPECT_EQ(total, 23);
    EXPECT_EQ(lands, 17);
    EXPECT_EQ((*deck)["credits"], 2) << "decks are free";
}

} // namespace
