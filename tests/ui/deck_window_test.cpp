#include "platform/fake/fake_platform.hpp"
#include "ui/deck_window.hpp"
#include "ui/drawing.hpp"

#include "offscreen_qt.hpp"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

namespace {

// A build of `spells` one-of spells named "Card 1"…, with 17 Plains; and a pool of such cards.
KVJson buildOf(int spells) {
    KVJson list = KVJson::array();
    for (int i = 1; i <= spells; ++i) {
        list.push_back({{"name", "Card " + std::to_string(i)}, {"count", 1}});
    }
    return {{"colors", {"W"}}, {"spells", list}, {"lands", {{"W", 17}}}};
}

std::vector<std::string> poolOf(int spells) {
    std::vector<std::string> pool;
    for (int i = 1; i <= spells; ++i) {
        pool.push_back("Card " + std::to_string(i));
    }
    return pool;
}

class DeckWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        OffscreenQt();
        deck = KVDeckWindow::create(std::make_shared<KVRecordingCanvas>());
    }

    // A release in the middle of `rect` with no drag before it.
    void tap(const KVRect& rect) {
        deck->view.mouseDown({500, 500});
        deck->view.mouseUp({rect.x + rect.width / 2, rect.y + rect.height / 2});
    }

    KVRecordingCanvas paint() {
        KVRecordingCanvas canvas;
        deck->view.drawRect(canvas);
        return canvas;
    }

    KVScopedFakePlatform platform;
    std::shared_ptr<KVDeckWindow> deck;
};

TEST_F(DeckWindowTest, BuildingAndErrorStatesHaveNoTabs) {
    const struct {
        const char* name;
        std::function<void()> set;
        const char* title;
        const char* sub;
    } cases[] = {
        {"building", [&] { deck->setBuilding(); }, "Building your deck\u2026",
         "Korvane is reading your pool."},
        {"error", [&] { deck->setError("Out of credits"); }, "Couldn't build the deck",
         "Out of credits"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        deck->setDeck(buildOf(3), poolOf(4), nullptr); // a build first: the state must clear it
        c.set();
        const KVRecordingCanvas canvas = paint();
        EXPECT_NE(canvas.findText(c.title), nullptr);
        EXPECT_NE(canvas.findText(c.sub), nullptr);
        EXPECT_EQ(canvas.findText("DECKLIST"), nullptr);
        EXPECT_EQ(canvas.findText("Copy for Arena"), nullptr);
        // The title (17.5, rounded up) at 42, the sub (15) and its 8 below, the 12 margin.
        EXPECT_DOUBLE_EQ(deck->view.contentHeight, 42 + 18 + 4 + 15 + 8 + 12);
        EXPECT_EQ(deck->frame().height, 120) << "never below 120";
    }
}

TEST_F(DeckWindowTest, RowsPipsAndTheEmptySideboard) {
    // Cards the catalog does not know carry no cost: set the rows as a build of known cards.
    deck->setDeck(buildOf(1), poolOf(1), nullptr);
    deck->view.content.maindeck = {{"Maindeck", "Head", std::nullopt},
                                   {"Odd One", "Row", "{2/W}{W/U}{X}{r}{12}"},
                                   {"17x Plains", "Land", std::nullopt}};
    deck->refit();
    KVRecordingCanvas canvas = paint();
    const double y = deck->view.deckTab.y + 34; // the first row's top
    // Texts of 15 are centred in their 18-high boxes; a heading takes 26, a row 20.
    const KVRecordingCanvas::Draw* row = canvas.findText("Odd One");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->rect, (KVRect{16, y + 26 + 1.5, 228, 15}));
    EXPECT_EQ(row->attrs.color, KVHex("#e6ebf2"));
    EXPECT_EQ(canvas.findText("17x Plains")->rect.y, y + 46 + 1.5);
    EXPECT_EQ(canvas.findText("17x Plains")->attrs.color, KVHex("#9aa4b2"));

    // Five pips, the last ending 2 inside the right margin.
    const KVColor fills[] = {KVHex("#FFFBD5"), KVHex("#AAE0FA"), KVHex("#CAC5C0"), KVHex("#F9AA8F"),
                             KVHex("#CAC5C0")};
    std::vector<KVRecordingCanvas::Draw> circles;
    for (const auto& draw : canvas.draws) {
        if (draw.kind == KVRecordingCanvas::Draw::roundedKind && draw.radius == 7.5) {
            circles.push_back(draw);
        }
    }
    ASSERT_EQ(circles.size(), 5u);
    for (size_t i = 0; i < circles.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(circles[i].rect, (KVRect{360 - 16 - 17 * 5 + 17.0 * double(i), y + 27, 15, 15}));
        EXPECT_EQ(circles[i].fill, fills[i]);
    }
    std::vector<std::string> letters;
    for (const auto& draw : canvas.draws) {
        if (draw.kind == KVRecordingCanvas::Draw::textKind && draw.attrs.font.size == 9) {
            letters.push_back(draw.text);
        }
    }
    EXPECT_EQ(letters, (std::vector<std::string>{"2", "W", "X", "R", "12"}));

    tap(deck->view.sideTab);
    EXPECT_EQ(deck->view.tab, "side");
    canvas = paint();
    EXPECT_NE(canvas.findText("Every card in the pool made the deck."), nullptr);
    EXPECT_EQ(canvas.findText("Copy for Arena"), nullptr) << "the footer is the decklist's";
    EXPECT_EQ(canvas.findText("SIDEBOARD")->attrs.color, KVHex("#e8d5a3"));
}

TEST_F(DeckWindowTest, ThirtyRowsScrollInA640HighWindowBackToTheTopOnATabSwitch) {
    deck->showAt({100, 900});
    deck->setDeck(buildOf(30), poolOf(35), nullptr);
    EXPECT_EQ(deck->frame(), (KVRect{100, 900 - 640, 360, 640})) << "the top edge stays";
    EXPECT_EQ(deck->window()->height(), 640);
    QScrollBar* bar = deck->scrollArea()->verticalScrollBar();
    EXPECT_GT(deck->scrollArea()->widget()->height(), 640);
    EXPECT_EQ(bar->maximum(), deck->scrollArea()->widget()->height() - 640);
    bar->setValue(200);
    tap(deck->view.sideTab);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(deck->frame().height, deck->view.contentHeight) << "five cut cards fit";
    EXPECT_EQ(bar->maximum(), 0);
    tap(deck->view.deckTab);
    EXPECT_EQ(deck->frame(), (KVRect{100, 900 - 640, 360, 640}));
}

// Where a press turns into a drag is the panel's test; here the window follows every step and
// the release that ends the drag closes nothing.
TEST_F(DeckWindowTest, ADragMovesTheWindowByEveryStep) {
    deck->setDeck(buildOf(2), poolOf(2), nullptr);
    deck->showAt({100, 900});
    const KVRect start = deck->frame();
    const KVRect close = deck->view.closeRect;
    deck->view.mouseDown({500, 500});
    deck->view.mouseDragged({500, 497});
    deck->view.mouseDragged({480, 1400});
    deck->view.mouseUp({close.x + 5, close.y + 5});
    EXPECT_TRUE(deck->isVisible());
    // No clamping: the window may leave the screen.
    EXPECT_EQ(deck->frame().x, start.x - 20);
    EXPECT_EQ(deck->frame().y, start.y + 900);
}

TEST_F(DeckWindowTest, CopyForArenaPutsTheImportTextOnTheClipboard) {
    deck->setDeck(buildOf(2), {"Card 1", "Card 2", "Spare"}, nullptr);
    const KVRect copy = deck->view.copyRect;
    ASSERT_GT(copy.height, 0);
    // A real click through the widget, scrolled content coordinates and all.
    QWidget* widget = deck->scrollArea()->widget();
    QTest::mouseClick(widget, Qt::LeftButton, {},
                      QPoint(int(copy.x + copy.width / 2), int(copy.y + copy.height / 2)));
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              "Deck\n1 Card 1\n1 Card 2\n17 Plains\n\nSideboard\n1 Spare\n");
    EXPECT_NE(paint().findText(KVDeckView::kCopiedTitle), nullptr);
    deck->setDeck(buildOf(2), poolOf(2), nullptr);
    EXPECT_NE(paint().findText(KVDeckView::kCopyTitle), nullptr) << "a new build, a new copy";
}

} // namespace
