#include "ui/deck_rows.hpp"

#include "overlay_samples/sample_catalog.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

namespace {

using Rows = std::vector<KVDeckRow>;

TEST(DeckCosts, SymbolsAndManaValues) {
    const struct {
        const char* cost;
        std::vector<std::string> symbols;
        int64_t value;
    } cases[] = {
        {"{2}{W}{U}", {"2", "W", "U"}, 4},
        {"{X}{r}", {"X", "R"}, 1},
        {"{2/W}", {"2/W"}, 2},
        {"{W/U}{W/U}", {"W/U", "W/U"}, 2},
        {"{W/P}", {"W/P"}, 1},
        {"{1}{R} // {U}", {"1", "R", "U"}, 3}, // both faces of a split card
        {"{W{U}", {"U"}, 1},                   // a "{" inside a symbol restarts it
        {"{}{}G}{", {}, 0},
        {"", {}, 0},
        {"{99999999999999999999}{1}", {"99999999999999999999", "1"}, INT64_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseCost(c.cost), c.symbols) << c.cost;
        EXPECT_EQ(CostValue(c.cost), c.value) << c.cost;
    }
}

TEST(DeckContent, SortsSpellsCountsLandsAndFindsTheCuts) {
    KVScopedEnvironment env;
    // A loaded set whose cards have these mana costs; printings carry set and number.
    const auto catalog =
        KVCatalogFromPrintings("SOS", KVPrintingsOf({{"Fire // Ice", "{1}{R} // {1}{U}"},
                                                     {"zeal", "{R}"},
                                                     {"Apex", "{R}"},
                                                     {"Big Thing", "{X}{5}"},
                                                     {"Spare", "{2}"}},
                                                    "SOS", 5000));
    const KVJson answer = KVJson::parse(R"({
        "colors": ["U", "R"],
        "spells": [{"name": "Big Thing", "count": 1}, {"name": "zeal", "count": 3},
                   {"name": "Fire // Ice", "count": 1}, {"name": "Apex", "count": 0},
                   {"name": "Mystery", "count": 2}],
        "lands": {"R": 9, "U": 1, "G": 0, "B": -4, "W": "x"},
        "reasoning": "Fast red.", "howToPlay": 7})");
    const std::vector<std::string> pool = {"Fire",  "Zeal", "zeal", "Zeal",     "Spare",
                                           "Spare", "Apex", "Apex", "Big Thing"};
    const KVDeckContent content = KVDeckContentFrom(answer, pool, catalog.get());

    EXPECT_EQ(content.title, "UR deck");
    EXPECT_EQ(content.reasoning, "Fast red.");
    EXPECT_EQ(content.howToPlay, ""); // not a string
    // Unknown cards count 0; equal values by name ignoring case; count 0 shows as one card.
    const Rows maindeck = {{"Maindeck", "Head", std::nullopt},
                           {"2x Mystery", "Row", std::nullopt},
                           {"Apex", "Row", "{R}"},
                           {"3x zeal", "Row", "{R}"},
                           {"Fire // Ice", "Row", "{1}{R} // {1}{U}"},
                           {"Big Thing", "Row", "{X}{5}"},
                           {"Lands", "Head", std::nullopt},
                           {"1x Island", "Land", std::nullopt},
                           {"9x Mountain", "Land", std::nullopt}};
    EXPECT_EQ(content.maindeck, maindeck);
    // "Fire" is the split card's key; two Spares cut once with "2x"; one of two Apex cut.
    const Rows sideboard = {{"Take these 3 out of the deck", "Head", std::nullopt},
                            {"2x Spare", "Row", std::nullopt},
                            {"Apex", "Row", std::nullopt}};
    EXPECT_EQ(content.sideboard, sideboard);
    // The negative land count adds nothing, as its row is not shown.
    EXPECT_EQ(content.sub, "8 spells \xC2\xB7 10 lands \xC2\xB7 18 cards \xC2\xB7 3 to cut");
    EXPECT_EQ(content.arenaText, "Deck\n"
                                 "2 Mystery\n"
                                 "1 Apex (SOS) 3\n"
                                 "3 zeal (SOS) 2\n"
                                 "1 Fire // Ice (SOS) 1\n"
                                 "1 Big Thing (SOS) 4\n"
                                 "1 Island\n"
                                 "9 Mountain\n"
                                 "\n"
                                 "Sideboard\n"
                                 "2 Spare (SOS) 5\n"
                                 "1 Apex (SOS) 3\n");
}

TEST(DeckContent, WrongTypesAndHugeCountsGiveAnEmptyButSaneBuild) {
    for (const char* text : {R"({"spells": {}, "lands": [], "colors": "WU"})", "[]", "null",
                             R"({"spells": [{"name": 5, "count": 9223372036854775807},
                                            {"count": 9223372036854775807}, 3]})"}) {
        SCOPED_TRACE(text);
        const KVDeckContent content = KVDeckContentFrom(KVJson::parse(text), {"Owl"}, nullptr);
        EXPECT_EQ(content.title, "Recommended deck");
        ASSERT_FALSE(content.maindeck.empty());
        EXPECT_EQ(content.maindeck.front().text, "Maindeck");
        EXPECT_EQ(content.sideboard.size(), 2u);                            // the head and Owl
        EXPECT_EQ(content.sub.find('-'), std::string::npos) << content.sub; // nothing wrapped
    }
    const KVDeckContent none = KVDeckContentFrom(KVJson::object(), {}, nullptr);
    EXPECT_TRUE(none.sideboard.empty());
    EXPECT_EQ(none.sub, "0 spells \xC2\xB7 0 lands \xC2\xB7 0 cards");
    EXPECT_EQ(none.maindeck, (Rows{{"Maindeck", "Head", std::nullopt}})); // no "Lands" heading
}

} // namespace
