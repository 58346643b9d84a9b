#include "demo_draft/demo_steps.hpp"
#include "server/demo_log.hpp"
#include "server/demo_set.hpp"

#include "base/files.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <sstream>

namespace {

std::string joined(const std::vector<KVDemoStep>& steps) {
    return std::accumulate(steps.begin(), steps.end(), std::string(),
                           [](std::string all, const KVDemoStep& step) { return all + step.text; });
}

TEST(DemoSteps, TheDemoDraftIsOnePackPerStepWithNothingLost) {
    KVTempDir dir;
    ASSERT_TRUE(KVSWriteDemoLog(dir.file("Player.log"), nullptr));
    const std::string log = KVReadFile(dir.file("Player.log")).value_or("");
    const auto steps = KVDemoSteps(log);

    EXPECT_EQ(joined(steps), log); // the program reads the same log, played back or not
    ASSERT_EQ(steps.size(), 43u);  // 3 × 14 packs, then the picks and the pool after the last
    EXPECT_TRUE(steps.back().pack.empty());
    EXPECT_NE(steps.front().text.find("EventJoin"), std::string::npos);
    EXPECT_EQ(steps.front().name, "P1p1");
    EXPECT_EQ(steps[14].name, "P2p1");
    EXPECT_EQ(steps[41].name, "P3p14");
    EXPECT_EQ(steps.back().name, "complete");

    // Played back line by line, the steps append the whole log and no more.
    std::istringstream in(log);
    size_t lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    EXPECT_EQ(
        std::accumulate(steps.begin(), steps.end(), size_t{0},
                        [](size_t sum, const KVDemoStep& step) { return sum + step.lines(); }),
        lines);
    for (size_t i = 0; i + 1 < steps.size(); ++i) {
        const auto& step = steps[i];
        // Each pack is one fewer than the last, and the step ends with the entry showing it, so
        // the program grades the pack the screen shows and not the one before.
        EXPECT_EQ(step.pack.size(), 14 - i % 14) << "step " << i;
        const size_t notify = step.text.rfind("Draft.Notify");
        ASSERT_NE(notify, std::string::npos) << "step " << i;
        EXPECT_EQ(step.text.find("[UnityCrossThreadLogger]", notify), std::string::npos)
            << "step " << i << " goes on past its pack";
        for (const int64_t id : step.pack) {
            EXPECT_GE(KVSDemoSet::indexOfArenaId(id), 0) << id;
        }
    }
}

TEST(DemoSteps, TextOutsideEntriesStaysWhereItWas) {
    const std::string notify = "[UnityCrossThreadLogger]12/7/2026 6:00:21 PM\nDraft.Notify\n"
                               "{\"draftId\":\"d\",\"SelfPack\":1,\"SelfPick\":1,"
                               "\"PackCards\":\"990001,990002\"}\n";
    const std::string log = "Mono path[0] = 'x'\n" + notify +
                            "a line that names [UnityCrossThreadLogger] inside\n" +
                            "[UnityCrossThreadLogger]no newline at the end";
    const auto steps = KVDemoSteps(log);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].pack, (std::vector<int64_t>{990001, 990002}));
    EXPECT_EQ(steps[0].text.substr(0, 19), "Mono path[0] = 'x'\n");
    EXPECT_EQ(joined(steps), log);
    EXPECT_TRUE(steps[1].pack.empty());
    EXPECT_EQ(steps[1].lines(), 1u); // unfinished, but still a line to play back

    EXPECT_TRUE(KVDemoSteps("").empty());
}

} // namespace
