#include "card_fixtures.hpp"
#include "server/card_quality.hpp"
#include "server/pack_grader.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

namespace {

KVSDraftState stateOf(std::vector<std::string> pack, std::vector<std::string> pool = {},
                      int64_t picks = 1) {
    KVSDraftState state;
    state.pack = std::move(pack);
    state.pool = std::move(pool);
    state.picks = picks;
    state.format = "PremierDraft";
    return state;
}

std::string gradeOf(const KVJson& answer, const std::string& name) {
    for (const KVJson& pick : answer["picks"]) {
        if (pick["name"] == name) {
            return pick["grade"];
        }
    }
    return "missing";
}

TEST(ServerGrading, ScoresFallIntoTheThirteenGrades) {
    const std::pair<double, std::string> cases[] = {
        {5.0, "A+"}, {4.4, "A+"}, {4.39, "A"}, {3.8, "A-"}, {3.2, "B"}, {2.9, "B-"},
        {2.3, "C"},  {2.0, "C-"}, {1.0, "D-"}, {0.99, "F"}, {0.0, "F"}};
    for (const auto& [score, grade] : cases) {
        EXPECT_EQ(KVSGradeFor(score), grade) << score;
    }
}

TEST(ServerGrading, ReadsQualityFromTheCardsOwnData) {
    KVSCardIndex index;
    KVSIndexOf(index,
               {KVSVanilla("Bear", "G"),
                {"Flyer", "W", "common", 2, "Creature — Bird", "Flying", 2, 2},
                {"Big Bear", "G", "common", 2, "Creature — Bear", "", 3, 3},
                {"Weak Bear", "G", "common", 3, "Creature — Bear", "", 1, 1},
                {"Insight", "U", "common", 3, "Instant", "Draw two cards.", 0, 0},
                {"Shock", "R", "common", 1, "Instant", "Shock deals 2 damage to any target.", 0, 0},
                {"Forest", "", "common", 0, "Basic Land — Forest", "", 0, 0},
                {"Grove", "", "uncommon", 0, "Land", "{T}: Add {G} or {W}.", 0, 0}});
    const auto quality = [&index](const char* name) { return index.find(name)->quality; };
    EXPECT_GT(quality("Flyer"), quality("Bear")) << "evasion";
    EXPECT_GT(quality("Big Bear"), quality("Bear")) << "a bigger body for the mana";
    EXPECT_LT(quality("Weak Bear"), quality("Bear"));
    EXPECT_GT(quality("Insight"), quality("Bear")) << "card advantage";
    EXPECT_GT(quality("Shock"), quality("Flyer")) << "removal";
    EXPECT_LT(quality("Grove"), quality("Weak Bear")) << "lands low";
    EXPECT_LT(quality("Forest"), quality("Grove"));
    EXPECT_NE(index.find("shock")->reason.find("emoval"), std::string::npos);
}

// Analyses read the cards while a set is added or ratings change on another worker: what an
// analysis holds must neither change under it nor be freed while it reads.
TEST(ServerGrading, AnalysesKeepTheirCardsWhileSetsAndRatingsArrive) {
    KVSCardIndex index;
    KVSIndexOf(index, {KVSVanilla("White Bear", "W"), KVSVanilla("Red Bear", "R")});
    const auto before = index.snapshot();
    const KVSCardFacts* bear = before->find("  WHITE bear ");
    ASSERT_NE(bear, nullptr);
    const double computed = bear->quality;

    std::atomic<bool> done{false};
    std::atomic<int> graded{0};
    std::thread reader([&] {
        while (!done) {
            const KVJson answer = KVSAnalyzePack(index, stateOf({"White Bear", "Red Bear"}));
            graded += gradeOf(answer, "White Bear") != "?" && gradeOf(answer, "Red Bear") != "?";
        }
    });
    // The reader is at work before the cards change.
    EXPECT_TRUE(KVEventually([&] { return graded > 0; })) << "no analysis graded both known cards";
    for (int i = 0; i < 50; ++i) {
        KVSIndexOf(index, {KVSVanilla("Bear " + std::to_string(i), "G")});
        index.setRatings({{"White Bear", i % 2 == 0 ? 4.5 : 0.5}});
    }
    done = true;
    reader.join();

    EXPECT_EQ(bear->quality, computed) << "a snapshot does not see later ratings";
    EXPECT_EQ(before->find("Bear 0"), nullptr) << "nor later sets";
    EXPECT_EQ(index.find("White Bear")->quality, 0.5);
    EXPECT_NE(index.snapshot()->find("bear 49"), nullptr);
    EXPECT_EQ(index.size(), 52u);
}

// Over generated packs: whatever else is there, a rare removal spell beats a vanilla common
// of its colour and mana value.
TEST(ServerGrading, RareRemovalOutranksAVanillaCommonOfItsColour) {
    std::mt19937 random(17);
    const std::string colors = "WUBRG";
    for (int round = 0; round < 200; ++round) {
        const std::string color(1, colors[random() % 5]);
        const int cmc = 1 + static_cast<int>(random() % 5);
        KVSCardIndex index;
        std::vector<KVSTestCard> cards = {KVSRareRemoval("Kill", color, cmc),
                                          KVSVanilla("Body", color, cmc)};
        std::vector<std::string> pack = {"Body", "Kill"};
        for (int i = 0; i < 6; ++i) {
            const std::string name = "Filler " + std::to_string(i);
            cards.push_back(KVSVanilla(name, std::string(1, colors[random() % 5]),
                                       1 + static_cast<int>(random() % 6)));
            pack.push_back(name);
        }
        std::shuffle(pack.begin(), pack.end(), random);
        KVSIndexOf(index, cards);
        const KVJson answer = KVSAnalyzePack(index, stateOf(pack));
        EXPECT_EQ(answer["best"], "Kill") << "round " << round;
        EXPECT_LT(gradeOf(answer, "Kill"), gradeOf(answer, "Body"))
            << "letter grades sort A before B";
    }
}

TEST(ServerGrading, OffColourCardsFallOnceTheLaneIsSetAndUnknownOnesAreMarked) {
    KVSCardIndex index;
    std::vector<KVSTestCard> cards = {KVSVanilla("White Bear", "W"), KVSVanilla("Red Bear", "R")};
    std::vector<std::string> pool;
    for (int i = 0; i < 14; ++i) {
        const std::string name = "Pool " + std::to_string(i);
        cards.push_back(
            {name, i % 2 == 0 ? "W" : "U", "uncommon", 3, "Creature — Knight", "Flying", 2, 3});
        pool.push_back(name);
    }
    KVSIndexOf(index, cards);
    const std::vector<std::string> pack = {"Red Bear", "White Bear"};
    const KVJson early = KVSAnalyzePack(index, stateOf(pack));
    EXPECT_EQ(early["lane"]["commitment"], "open");
    EXPECT_EQ(gradeOf(early, "Red Bear"), gradeOf(early, "White Bear"));
    EXPECT_EQ(early["best"], "Red Bear") << "equal cards are ordered by name";

    const KVJson late = KVSAnalyzePack(index, stateOf(pack, pool));
    EXPECT_EQ(late["lane"]["commitment"], "committed");
    EXPECT_EQ(late["lane"]["colors"], "WU");
    EXPECT_EQ(late["best"], "White Bear");
    EXPECT_GT(gradeOf(late, "Red Bear"), gradeOf(late, "White Bear"));
    EXPECT_EQ(late["runnerUp"], "Red Bear");
    EXPECT_EQ(late["second"], "") << "one card is taken from this pack";
    EXPECT_EQ(KVSAnalyzePack(index, stateOf(pack, pool, 2))["second"], "Red Bear");
    // The pool holds as many white as blue cards: its order must not break the tie.
    std::mt19937 random(5);
    for (int i = 0; i < 20; ++i) {
        std::shuffle(pool.begin(), pool.end(), random);
        EXPECT_EQ(KVJsonDump(KVSAnalyzePack(index, stateOf(pack, pool))), KVJsonDump(late));
    }

    // A name the index does not know gets a question mark and a warning.
    const KVJson unknown = KVSAnalyzePack(index, stateOf({"Mystery Card", "White Bear"}));
    EXPECT_EQ(gradeOf(unknown, "Mystery Card"), "?");
    EXPECT_EQ(unknown["best"], "White Bear");
    EXPECT_NE(unknown["warning"].get<std::string>().find("1 card is missing"), std::string::npos);
    const KVJson empty = KVSAnalyzePack(index, stateOf({}));
    EXPECT_EQ(empty["best"], "");
    EXPECT_TRUE(empty["picks"].empty());
}

TEST(ServerGrading, TheTableReadsLateCardsAndWhatWheeled) {
    KVSCardIndex index;
    KVSIndexOf(index, {KVSRareRemoval("Late Kill", "B"), KVSRareRemoval("Early Kill", "R"),
                       KVSVanilla("Wheel Bear", "G"), KVSVanilla("Other", "W")});
    KVSDraftState state = stateOf({"Other"});
    state.packNumber = 1;
    state.pickNumber = 10;
    state.format = "QuickDraft_TST";
    state.seen = {{1, 1, {"Early Kill", "Wheel Bear", "Other"}},
                  {1, 7, {"Late Kill"}},
                  {1, 9, {"Wheel Bear"}}};
    const KVJson table = KVSAnalyzePack(index, state)["table"];
    EXPECT_EQ(table["wheelsAt"], 0) << "pick 10 of 14 never comes round again";
    EXPECT_EQ(table["bots"], true);
    EXPECT_EQ(table["from"], "right");
    std::map<std::string, KVJson> byColour;
    for (const KVJson& entry : table["colours"]) {
        byColour[entry["colour"]] = entry;
    }
    ASSERT_EQ(byColour.size(), 5u);
    EXPECT_EQ(byColour["B"]["late"], KVJson::array({"Late Kill"}));
    EXPECT_TRUE(byColour["R"]["late"].empty()) << "a first pick says nothing about the table";
    EXPECT_EQ(byColour["G"]["wheeled"], KVJson::array({"Wheel Bear"}));
    EXPECT_EQ(table["colours"][0]["colour"], "B") << "strongest colour first";
    EXPECT_EQ(byColour["U"]["tier"], "cut");
    state.seen.resize(1); // the first pick only: nothing is known of the table yet
    EXPECT_EQ(KVSAnalyzePack(index, state)["table"]["colours"][0]["tier"], "unknown");
    state.seen.clear();
    state.pickNumber = 3;
    const KVJson unknown = KVSAnalyzePack(index, state)["table"];
    EXPECT_TRUE(unknown["colours"].empty());
    EXPECT_EQ(unknown["wheelsAt"], 11);
}

} // namespace
