#include "card_fixtures.hpp"
#include "server/deck_builder.hpp"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(ServerDeck, LargestRemainderSplitsExactly) {
    const std::tuple<std::vector<double>, int, std::vector<int>> cases[] = {
        {{10, 10}, 17, {9, 8}},     {{12, 4}, 17, {13, 4}}, {{1, 1, 1}, 17, {6, 6, 5}},
        {{20, 1}, 17, {16, 1}},     {{0, 5}, 17, {0, 17}},  {{0, 0}, 17, {0, 0}},
        {{2, 3, 5}, 10, {2, 3, 5}},
    };
    for (const auto& [weights, total, parts] : cases) {
        EXPECT_EQ(KVSDeckBuilder::largestRemainder(weights, total), parts);
    }
}

TEST(ServerDeck, BuildsOnTheDeepestTwoColoursWithBasicsByPips) {
    KVSCardIndex index;
    std::vector<KVSTestCard> cards;
    std::vector<std::string> pool;
    const auto add = [&](const KVSTestCard& card) {
        cards.push_back(card);
        pool.push_back(card.name);
    };
    for (int i = 0; i < 14; ++i) {
        add(KVSVanilla("White " + std::to_string(i), "W", 1 + i % 5));
    }
    for (int i = 0; i < 9; ++i) {
        add({"Blue " + std::to_string(i), "U", "uncommon", 2 + i % 4, "Creature — Bird", "Flying",
             2, 2});
    }
    for (int i = 0; i < 8; ++i) {
        add(KVSVanilla("Red " + std::to_string(i), "R", 6));
    }
    add({"Plains", "", "common", 0, "Basic Land — Plains", "", 0, 0});
    pool.emplace_back("White 0"); // a second copy
    KVSIndexOf(index, cards);

    const KVJson deck = KVSDeckBuilder(index).build(pool);
    EXPECT_EQ(deck["colors"], KVJson::array({"W", "U"}));
    EXPECT_EQ(KVSDeckSize(deck), 40);
    for (const KVJson& spell : deck["spells"]) {
        EXPECT_EQ(spell["name"].get<std::string>().rfind("Red", 0), std::string::npos);
        EXPECT_NE(spell["name"], "Plains");
    }
    // 15 white and 8 blue cards of one pip each: 17 × 15/23 = 11.09, 17 × 8/23 = 5.91.
    EXPECT_EQ(deck["lands"], (KVJson{{"W", 11}, {"U", 6}}));
    EXPECT_EQ(deck["spells"][0]["name"], "Blue 0") << "strongest first";
    EXPECT_FALSE(deck["reasoning"].get<std::string>().empty());
    EXPECT_FALSE(deck["howToPlay"].get<std::string>().empty());
}

// Over generated pools: 40 cards whenever the pool holds 23 non-lands, and the same pool in
// any order gives the same deck.
TEST(ServerDeck, EveryPoolWithTwentyThreeSpellsMakesFortyCards) {
    std::mt19937 random(23);
    for (int round = 0; round < 100; ++round) {
        KVSCardIndex index;
        std::vector<KVSTestCard> cards;
        std::vector<std::string> pool;
        const int spells = 23 + static_cast<int>(random() % 20);
        for (int i = 0; i < spells; ++i) {
            const std::string name = "Card " + std::to_string(i);
            const std::string color =
                random() % 6 == 0 ? "" : std::string(1, "WUBRG"[random() % 5]);
            cards.push_back(random() % 5 == 0
                                ? KVSRareRemoval(name, color, 1 + static_cast<int>(random() % 7))
                                : KVSVanilla(name, color, 1 + static_cast<int>(random() % 7)));
            pool.push_back(name);
        }
        for (int i = 0; i < 3; ++i) {
            pool.push_back("Unknown " + std::to_string(i));
        }
        KVSIndexOf(index, cards);
        const KVJson deck = KVSDeckBuilder(index).build(pool);
        EXPECT_EQ(KVSDeckSize(deck), 40) << "round " << round;
        // The reasoning names every colour the deck reaches into beyond its pair.
        const auto& colors = deck["colors"];
        for (size_t i = 2; i < colors.size(); ++i) {
            const std::string name = KVSColorName(colors[i].get<std::string>()[0]);
            EXPECT_NE(deck["reasoning"].get<std::string>().find(name), std::string::npos)
                << "round " << round << ": " << deck["reasoning"];
        }
        std::shuffle(pool.begin(), pool.end(), random);
        EXPECT_EQ(KVSDeckBuilder(index).build(pool), deck) << "round " << round;
    }
}

} // namespace
