#include "demo_draft/demo_steps.hpp"

#include <gtest/gtest.h>

namespace {

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
    EXPECT_EQ(steps[0].text + steps[1].text, log);
    EXPECT_TRUE(steps[1].pack.empty());
    EXPECT_EQ(steps[1].lines(), 1u); // unfinished, but still a line to play back

    EXPECT_TRUE(KVDemoSteps("").empty());
}

} // namespace
