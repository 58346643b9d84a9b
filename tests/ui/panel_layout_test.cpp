#include "base/utf8.hpp"
#include "draft/draft_session.hpp"
#include "overlay_samples/overlay_samples.hpp"
#include "ui/drawing.hpp"
#include "ui/panel_view.hpp"
#include "ui/qt_canvas.hpp"

#include "offscreen_qt.hpp"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <functional>

namespace {

// The view laid out on the recording canvas (painting pass included), as the panel shows it.
struct Laid {
    KVPanelView view;
    KVRecordingCanvas canvas;

    explicit Laid(std::shared_ptr<const KVDraftSession> session, bool inDraft = true,
                  std::string tab = "pack") {
        view.session = std::move(session);
        view.inDraft = inDraft;
        view.view = std::move(tab);
        view.drawRect(canvas);
    }

    const KVHit* hit(std::string_view action) const {
        for (const KVHit& h : view.hits) {
            if (h.action == action) {
                return &h;
            }
        }
        return nullptr;
    }
    bool shows(std::string_view part) const { return canvas.findText(part) != nullptr; }
    std::vector<const KVRecordingCanvas::Draw*> textsIn(double fontSize) const {
        std::vector<const KVRecordingCanvas::Draw*> found;
        for (const auto& draw : canvas.draws) {
            if (draw.kind == KVRecordingCanvas::Draw::textKind &&
                draw.attrs.font.size == fontSize) {
                found.push_back(&draw);
            }
        }
        return found;
    }
};

TEST(PanelLayoutTest, HeightsOfTheFrameStates) {
    struct Case {
        const char* name;
        std::function<void(KVPanelView&)> set;
        double height;
    };
    const Case cases[] = {
        {"minimised", [](KVPanelView& v) { v.minimized = true; }, 56},
        // status 20 + an empty 19-high note + 10, the footer 16, the margin 8.
        {"waiting", [](KVPanelView& v) { v.inDraft = false; }, 46 + 20 + 29 + 16 + 8},
        // The notice: the message in three lines of 15, no button.
        {"not installed",
         [](KVPanelView& v) {
             v.arenaRunning = false;
             v.arenaInstalled = false;
         },
         72 + 45 + 12 + 16 + 8},
    };
    for (const Case& c : cases) {
        KVPanelView view;
        c.set(view);
        KVRecordingCanvas canvas;
        view.drawRect(canvas);
        EXPECT_EQ(view.contentHeight, c.height) << c.name;
        EXPECT_EQ(view.hits.size(), 2u) << c.name << ": min and close only";
    }

    KVPanelView installed;
    installed.arenaRunning = false;
    installed.arenaInstalled = true;
    KVRecordingCanvas canvas;
    installed.drawRect(canvas);
    const KVHit& launch = installed.hits.back();
    EXPECT_EQ(launch.action, "launch");
    EXPECT_EQ(installed.contentHeight, launch.rect.y + 44 + 16 + 8);
    EXPECT_NE(canvas.findText("Detailed Logs"), nullptr);
    EXPECT_NE(canvas.findText("Alt+S settings · Alt+D draft data"), nullptr);
}

TEST(PanelLayoutTest, BodyStatesAndWhatDecidesThem) {
    struct Case {
        const char* name;
        std::function<void(KVDraftSession&)> set;
        bool inDraft;
        const char* status;
        const char* shown;
        bool build;
    };
    const Case cases[] = {
        {"locked mid-draft", [](KVDraftSession& s) { s.locked = true; }, true, "Locked",
         "Sign in and keep draft credits to see grades.", false},
        {"locked with a reason",
         [](KVDraftSession& s) {
             s.locked = true;
             s.lockedReason = "Out of credits.";
         },
         true, "Locked", "Out of credits.", false},
        {"complete with 20",
         [](KVDraftSession& s) {
             s.completed = true;
             s.pool.resize(20, s.pack[0]);
         },
         true, "Draft complete", "20 cards drafted. Build the 40 to register.", true},
        {"complete with 19 stays in the draft",
         [](KVDraftSession& s) {
             s.completed = true;
             s.pool.resize(19, s.pack[0]);
         },
         true, "Pack 1 · Pick 3", "TAKE", false},
        {"no draft", [](KVDraftSession&) {}, false, "Waiting for a draft", nullptr, false},
        {"pick 0 is shown as 1",
         [](KVDraftSession& s) {
             s.packNumber = 0;
             s.pickNumber = 0;
         },
         true, "Pack 1 · Pick 1", nullptr, false},
        {"reading",
         [](KVDraftSession& s) {
             s.analyzing = true;
             s.grades.clear();
         },
         true, "Reading the pack…", "Korvane is grading these cards…", false},
        {"analysing with grades stays graded", [](KVDraftSession& s) { s.analyzing = true; }, true,
         "Pack 1 · Pick 3", "TAKE", false},
        {"no grades", [](KVDraftSession& s) { s.analyzeError = "busy"; }, true, "Pack 1 · Pick 3",
         "Korvane couldn't grade this pack: busy. It will try again on the next pack.", false},
        {"best pick without a grade", [](KVDraftSession& s) { s.bestPick = "Not In The Pack"; },
         true, "Pack 1 · Pick 3", "Grades appear here when a pack opens.", false},
        {"empty pack", [](KVDraftSession& s) { s.pack.clear(); }, true, "Waiting for a draft",
         nullptr, false},
    };
    for (const Case& c : cases) {
        auto session = KVFullPackSession();
        c.set(*session);
        Laid laid(session, c.inDraft);
        EXPECT_TRUE(laid.shows(c.status)) << c.name;
        if (c.shown != nullptr) {
            EXPECT_TRUE(laid.shows(c.shown)) << c.name;
        }
        EXPECT_EQ(laid.hit("build") != nullptr, c.build) << c.name;
    }
}

TEST(PanelLayoutTest, TheCallNamesThePicks) {
    struct Case {
        const char* name;
        int64_t toPick;
        const char* second;
        const char* runnerUp;
        const char* label;
        const char* title;
        const char* next; // nullptr: no "Next:" line
    };
    const Case cases[] = {
        {"one pick", 1, "", "Stormcaller's Reach", "TAKE", "Sunfall Warden",
         "Next: Stormcaller's Reach — Removal that also draws a card."},
        {"two picks", 2, "Stormcaller's Reach", "", "TAKE TWO",
         "Sunfall Warden + Stormcaller's Reach", nullptr},
        {"two to pick, no second", 2, "", "", "TAKE", "Sunfall Warden", nullptr},
        {"runner-up is the best in other case", 1, "", "SUNFALL WARDEN", "TAKE", "Sunfall Warden",
         nullptr},
        {"runner-up without a reason", 1, "", "Unknown Card", "TAKE", "Sunfall Warden",
         "Next: Unknown Card"},
    };
    for (const Case& c : cases) {
        auto session = KVFullPackSession();
        session->numToPick = c.toPick;
        session->secondPick = c.second;
        session->runnerUp = c.runnerUp;
        Laid laid(session);
        const auto labels = laid.textsIn(9);
        ASSERT_FALSE(labels.empty()) << c.name;
        EXPECT_EQ(labels[0]->text, c.label) << c.name;
        const auto names = laid.textsIn(16);
        ASSERT_EQ(names.size(), 1u) << c.name;
        EXPECT_EQ(names[0]->text, c.title) << c.name;
        EXPECT_EQ(laid.canvas.findText("Next:") != nullptr, c.next != nullptr) << c.name;
        if (c.next != nullptr) {
            EXPECT_TRUE(laid.shows(c.next)) << c.name;
        }
        // The highlighted rows are the picks: bold names.
        int bold = 0;
        for (const auto* draw : laid.textsIn(12)) {
            bold += draw->attrs.font.bold && draw->rect.width == 288 - 4 - 52 ? 1 : 0;
        }
        EXPECT_EQ(bold, c.toPick) << c.name;
    }
}

TEST(PanelLayoutTest, RowsWhileReadingShowDotsAndNoHighlight) {
    auto session = KVFullPackSession();
    session->analyzing = true;
    session->grades.clear();
    Laid laid(session);
    int dots = 0;
    for (const auto* draw : laid.textsIn(11)) {
        dots += draw->text == "…" ? 1 : 0;
    }
    EXPECT_EQ(dots, 15);
    for (const auto* draw : laid.textsIn(12)) {
        EXPECT_FALSE(draw->attrs.font.bold) << draw->text;
    }
    EXPECT_FALSE(laid.shows("⚠")) << "the warning waits for the grades";
    EXPECT_FALSE(laid.shows("HOLE"));
}

TEST(PanelLayoutTest, ChipsWrapAndTheTabsFollowThem) {
    struct Case {
        const char* name;
        std::function<void(KVDraftSession&)> set;
        double tabsAt;
    };
    const Case cases[] = {
        {"no chips: no rows, no gap",
         [](KVDraftSession& s) {
             s.lane = KVJson::object();
             s.colorsOpen.clear();
         },
         46 + 18},
        {"one row", [](KVDraftSession&) {}, 46 + 18 + 26},
        {"a second row 23 lower",
         [](KVDraftSession& s) {
             s.lane["contested"] = {"U", "B", "R", "G"};
         },
         46 + 18 + 23 + 26},
        // Mend: a chip wider than the body stays on the first row, capped to the body.
        {"a chip wider than the body",
         [](KVDraftSession& s) {
             s.lane = {{"commitment", std::string(300, 'x')}};
             s.colorsOpen.clear();
         },
         46 + 18 + 26},
        {"an open commitment is no chip",
         [](KVDraftSession& s) {
             s.lane = {{"commitment", "open"}, {"colors", "WG"}};
             s.colorsOpen.clear();
         },
         46 + 18},
    };
    for (const Case& c : cases) {
        auto session = KVFullPackSession();
        c.set(*session);
        Laid laid(session);
        const KVHit* tab = laid.hit("tab:pack");
        ASSERT_NE(tab, nullptr) << c.name;
        EXPECT_EQ(tab->rect.y, c.tabsAt) << c.name;
        for (const auto& draw : laid.canvas.draws) {
            if (draw.kind == KVRecordingCanvas::Draw::roundedKind && draw.rect.height == 18) {
                EXPECT_LE(draw.rect.x + draw.rect.width, 16 + 288)
                    << c.name << ": chip past the body";
            }
        }
    }

    auto session = KVFullPackSession();
    session->lane["contested"] = {"U", "B", "R", "G"};
    Laid laid(session);
    const auto* cut = laid.canvas.findText("R cut");
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->rect.x, 16 + 8) << "the row starts again at the left edge";
    EXPECT_TRUE(laid.shows("leaning WG"));
    EXPECT_TRUE(laid.shows("WG open"));
}

TEST(PanelLayoutTest, TabsSelectTheirContent) {
    auto session = KVFullPackSession();
    Laid table(session, true, "table");
    EXPECT_TRUE(table.shows("PACK 1  ·  FROM THE RIGHT  ·  WHEELS AT P9  ·  BOTS — WEAK EVIDENCE"));
    EXPECT_TRUE(table.shows("W: Sunfall Warden, Lanternwick Acolyte, Lanternwick Acolyte wheeled"
                            "  ·  G: Thornback Brute  ·  Your pack 1 cuts: red, blue"));
    EXPECT_TRUE(table.shows("4.2"));
    EXPECT_TRUE(table.shows("WIDE"));
    // The fills (the tracks are the body's width): the scale is the top score, or 1.0 when
    // that is lower; a score of 0 still shows 2 points.
    const double bw = 288 - 108;
    const auto fills = [bw](const Laid& laid) {
        std::vector<double> widths;
        for (const auto& draw : laid.canvas.draws) {
            if (draw.kind == KVRecordingCanvas::Draw::roundedKind && draw.rect.height == 6 &&
                draw.rect.width != bw) {
                widths.push_back(draw.rect.width);
            }
        }
        return widths;
    };
    const auto high = fills(table);
    ASSERT_EQ(high.size(), 4u) << "the top score fills its whole track";
    EXPECT_NEAR(high[0], 3.1 / 4.2 * bw, 1e-9);
    EXPECT_EQ(high.back(), 2);

    session->table["colours"] = {{{"colour", "W"}, {"score", 0.5}},
                                 {{"colour", "U"}, {"score", 0}}};
    session->table.erase("wheelsAt");
    Laid low(session, true, "table");
    EXPECT_TRUE(low.shows("NO WHEEL"));
    EXPECT_EQ(fills(low), (std::vector<double>{0.5 * bw, 2}));

    Laid deck(session, true, "deck");
    EXPECT_TRUE(deck.shows("9/23"));
    EXPECT_TRUE(deck.shows("Curve   1:0   2:2   3:3   4:2   5:0   6+:0"));
    EXPECT_TRUE(deck.shows("Short on two-drops, removal."));
    session->poolRead = {{"playables", 3}};
    Laid noTarget(session, true, "deck");
    EXPECT_TRUE(noTarget.shows("3/23"));
    EXPECT_TRUE(noTarget.shows("Nothing glaring missing."));
    session->poolRead = KVJson::object();
    Laid nothing(session, true, "deck");
    EXPECT_TRUE(nothing.shows("Nothing drafted yet."));
}

TEST(PanelLayoutTest, HitsAreTheSameInBothPassesAndInOrder) {
    KVPanelView view;
    view.session = KVFullPackSession();
    view.inDraft = true;
    KVRecordingCanvas canvas;
    view.layout(canvas, false);
    const auto measured = view.hits;
    EXPECT_TRUE(canvas.draws.empty()) << "the measuring pass paints nothing";
    view.layout(canvas, true);
    ASSERT_EQ(view.hits.size(), measured.size());
    std::vector<std::string> actions;
    for (size_t i = 0; i < measured.size(); ++i) {
        EXPECT_EQ(view.hits[i].rect, measured[i].rect);
        actions.push_back(view.hits[i].action);
    }
    EXPECT_EQ(actions,
              (std::vector<std::string>{"min", "close", "tab:pack", "tab:table", "tab:deck"}));
    // The background is painted at the measured height.
    EXPECT_EQ(canvas.draws[0].rect.height, view.contentHeight - 1);
}

TEST(PanelLayoutTest, HostileSessionsAreLaidOutAndPainted) {
    OffscreenQt();
    std::vector<std::shared_ptr<KVDraftSession>> sessions;
    for (const std::string& bad :
         {std::string(10000, 'W'), std::string("Bad \xff\xfe bytes \xc3")}) {
        auto texts = KVFullPackSession();
        texts->summary = bad;
        texts->warning = bad;
        texts->bestPick = texts->pack[0]->name = bad;
        texts->pack[1]->name = bad;
        texts->grades[KVLowercase(bad)] = {bad, bad};
        texts->lane["hole"] = bad;
        texts->lane["commitment"] = bad;
        texts->table["from"] = bad;
        texts->analyzeError.clear();
        sessions.push_back(texts);
    }
    auto wrongTypes = KVFullPackSession();
    wrongTypes->lane = KVJson::array({1, 2});
    wrongTypes->table = {{"colours", {1, "x", KVJson::object(), {{"score", "high"}}}},
                         {"pack", {{"a", 1}}},
                         {"wheelsAt", "nine"},
                         {"cuts", 5}};
    wrongTypes->poolRead = {{"playables", {1, 2}}, {"curve", "flat"}, {"shortOn", 3}};
    wrongTypes->credits = KVJson::array();
    sessions.push_back(wrongTypes);
    auto noCards = KVFullPackSession();
    noCards->pack = {nullptr};
    noCards->grades.clear();
    sessions.push_back(noCards);

    for (const auto& session : sessions) {
        for (const char* tab : {"pack", "table", "deck"}) {
            Laid laid(session, true, tab);
            EXPECT_GT(laid.view.contentHeight, 56);
            QImage image(320, 2000, QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&image);
            KVQtCanvas canvas(&painter);
            laid.view.drawRect(canvas);
        }
    }
    Laid none(nullptr, true);
    EXPECT_TRUE(none.shows("Waiting for a draft")) << "no session reads as an empty one";
}

} // namespace
