#include "draft/draft_session.hpp"
#include "overlay_samples/overlay_samples.hpp"
#include "platform/fake/fake_platform.hpp"
#include "ui/panel.hpp"

#include "offscreen_qt.hpp"

#include <gtest/gtest.h>

namespace {

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        OffscreenQt();
        panel = KVPanel::create(std::make_shared<KVRecordingCanvas>());
        panel->onHide = [this] { calls.emplace_back("hide"); };
        panel->onBuild = [this] { calls.emplace_back("build"); };
        panel->onLaunchArena = [this] { calls.emplace_back("launch"); };
        panel->onMoved = [this] { calls.emplace_back("moved"); };
    }

    void gesture(KVPoint from, const std::vector<KVPoint>& steps, KVPoint viewPoint) {
        panel->view.mouseDown(from);
        for (const KVPoint& step : steps) {
            panel->view.mouseDragged(step);
        }
        panel->view.mouseUp(viewPoint);
    }

    KVScopedFakePlatform platform;
    std::shared_ptr<KVPanel> panel;
    std::vector<std::string> calls;
};

TEST_F(PanelTest, FitsToItsContentKeepingTheTopEdge) {
    EXPECT_EQ(panel->frame(), (KVRect{100, 100, 320, 200}));
    const KVPoint top = panel->topLeft();
    panel->fitToHeight(40);
    EXPECT_EQ(panel->size().y, 60) << "never below 60";
    panel->fitToHeight(300.4);
    EXPECT_EQ(panel->size().y, 300.4);
    panel->fitToHeight(300.8);
    EXPECT_EQ(panel->size().y, 300.4) << "a change of 0.4 leaves the window alone";
    panel->fitToHeight(301);
    EXPECT_EQ(panel->size().y, 301);
    EXPECT_EQ(panel->topLeft(), top);

    panel->view.inDraft = true;
    panel->renderSession(KVFullPackSession());
    EXPECT_EQ(panel->size().y, panel->view.contentHeight);
    EXPECT_EQ(panel->topLeft(), top);
    panel->tapped("min");
    EXPECT_EQ(panel->size().y, 60) << "a minimised panel is 56 high, the window at least 60";
}

TEST_F(PanelTest, ArenaQuittingBetweenRendersRefitsForTheNotice) {
    panel->setInDraft(false);
    panel->renderSession(std::make_shared<KVDraftSession>(nullptr));
    const double waiting = panel->size().y;
    panel->setArenaRunning(false, true);
    EXPECT_GT(panel->size().y, waiting);
    EXPECT_EQ(panel->size().y, panel->view.contentHeight);
    bool launch = false;
    for (const KVHit& hit : panel->view.hits) {
        launch = launch || (hit.action == "launch" && hit.rect.y + 34 <= panel->size().y);
    }
    EXPECT_TRUE(launch) << "the launch button lies inside the window";
    panel->setArenaRunning(true, true);
    EXPECT_EQ(panel->size().y, waiting);
}

TEST_F(PanelTest, TapsAndDragsAreToldApartAtThreePoints) {
    panel->renderSession(std::make_shared<KVDraftSession>(nullptr));
    const KVPoint close{320 - 40 + 5, 12 + 5};
    struct Case {
        const char* name;
        std::vector<KVPoint> steps;
        std::vector<std::string> calls;
        KVPoint moved;
    };
    const Case cases[] = {
        {"still", {}, {"hide"}, {0, 0}},
        {"two points is a tap", {{502, 498}, {498, 502}}, {"hide"}, {0, 0}},
        {"three points drags", {{503, 500}}, {"moved"}, {3, 0}},
        {"a drag keeps going below the threshold", {{500, 497}, {501, 496}}, {"moved"}, {1, -4}},
    };
    for (const Case& c : cases) {
        calls.clear();
        const KVRect before = panel->frame();
        gesture({500, 500}, c.steps, close);
        EXPECT_EQ(calls, c.calls) << c.name;
        EXPECT_EQ(panel->frame().x - before.x, c.moved.x) << c.name;
        EXPECT_EQ(panel->frame().y - before.y, c.moved.y) << c.name;
        EXPECT_FALSE(panel->dragging) << c.name;
    }
    calls.clear();
    gesture({0, 0}, {}, {200, 500});
    EXPECT_TRUE(calls.empty()) << "a release outside every hit does nothing";
}

TEST_F(PanelTest, DragsStayInsideArena) {
    panel->setArenaRect({0, 0, 1000, 800});
    panel->moveTo({500, 500});
    struct Case {
        KVPoint delta;
        KVRect frame;
    };
    const Case cases[] = {{{5000, 0}, {680, 300, 320, 200}},
                          {{0, 5000}, {680, 600, 320, 200}},
                          {{-9000, -9000}, {0, 0, 320, 200}},
                          {{10, 10}, {10, 10, 320, 200}}};
    for (const Case& c : cases) {
        panel->dragBy(c.delta);
        EXPECT_EQ(panel->frame(), c.frame);
    }
    panel->setArenaRect({50, 60, 200, 100}); // smaller than the panel: pinned to its origin
    panel->dragBy({30, 30});
    EXPECT_EQ(panel->frame().x, 50);
    EXPECT_EQ(panel->frame().y, 60);
}

TEST_F(PanelTest, TapActionsAndTabs) {
    for (const char* action : {"close", "build", "launch", "nonsense", "tab"}) {
        panel->tapped(action);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"hide", "build", "launch"}));

    panel->tapped("tab:deck");
    EXPECT_EQ(panel->view.view, "deck") << "selected even before any session";
    EXPECT_EQ(panel->view.contentHeight, 0) << "but nothing drawn until the next render";
    panel->cycleView();
    EXPECT_EQ(panel->view.view, "pack");
    panel->cycleView();
    EXPECT_EQ(panel->view.view, "table");

    panel->setOpacity(0.1);
    EXPECT_NEAR(panel->opacity(), 0.3, 0.01);
    panel->setOpacity(2);
    EXPECT_NEAR(panel->opacity(), 1.0, 0.01);
    panel->setOpacity(0.75);
    EXPECT_NEAR(panel->opacity(), 0.75, 0.01);
}

} // namespace
