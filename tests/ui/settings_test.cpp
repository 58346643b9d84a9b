#include "platform/fake/fake_platform.hpp"
#include "ui/overlay_window.hpp"
#include "ui/settings.hpp"

#include "offscreen_qt.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        OffscreenQt();
        settings = KVSettings::create();
        settings->onClose = [this] { calls.push_back("close"); };
        settings->onSignOut = [this] { calls.push_back("signOut"); };
        settings->onBuildDeck = [this] { calls.push_back("build"); };
        settings->onOpacity = [this](int percent) {
            calls.push_back("opacity " + std::to_string(percent));
        };
        settings->onClickThrough = [this](bool on) {
            calls.push_back(on ? "through on" : "through off");
        };
        settings->onHotkeys = [this](const std::string& a, const std::string& b) {
            calls.push_back("keys " + a + "/" + b);
        };
        settings->setHotkeys("s", "D");
    }

    KVScopedFakePlatform platform;
    std::shared_ptr<KVSettings> settings;
    std::vector<std::string> calls;
};

TEST_F(SettingsTest, ShortcutFieldsKeepOneLetterAndRefuseADuplicate) {
    EXPECT_EQ(settings->settingsKey()->text(), "S");
    const struct {
        const char* name;
        bool draftField;
        const char* typed;
        const char* settingsShows;
        const char* draftShows;
        std::vector<std::string> reported;
    } cases[] = {
        {"a letter is upper-cased", false, "q", "Q", "D", {"keys Q/D"}},
        {"a digit is no letter", false, "7", "", "D", {"keys /D"}},
        {"blanks are trimmed, the first letter kept", true, " xy", "", "X", {"keys /X"}},
        {"the same letter twice reports nothing", false, "x", "X", "X", {}},
        {"a letter outside A-Z is refused", true, "\xC3\xA9", "X", "", {"keys X/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls.clear();
        QLineEdit* field = c.draftField ? settings->draftKey() : settings->settingsKey();
        field->selectAll();
        // One key event carrying the text, as an input method would send "é".
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString::fromUtf8(c.typed),
                            Qt::NoModifier);
        EXPECT_EQ(settings->settingsKey()->text().toStdString(), c.settingsShows);
        EXPECT_EQ(settings->draftKey()->text().toStdString(), c.draftShows);
        EXPECT_EQ(calls, c.reported);
    }
}

TEST_F(SettingsTest, OpacityClickThroughAccountAndTheSealedButton) {
    settings->setOpacityPercent(30, true); // a stored 0.3
    EXPECT_EQ(settings->opacity()->value(), 50);
    EXPECT_EQ(settings->opacityValue()->text(), "50%");
    EXPECT_TRUE(settings->clickThrough()->isChecked());
    settings->setOpacityPercent(140, false);
    EXPECT_EQ(settings->opacity()->value(), 100);
    EXPECT_TRUE(calls.empty()) << "showing a value reports nothing";

    QTest::keyClick(settings->opacity(), Qt::Key_Left);
    EXPECT_EQ(settings->opacityValue()->text(), "99%");
    QTest::mouseClick(settings->clickThrough(), Qt::LeftButton);
    EXPECT_EQ(calls, (std::vector<std::string>{"opacity 99", "through on"}));

    const struct {
        const char* email;
        KVJson credits;
        const char* shows;
    } accounts[] = {{"ana@example.com", 12, "ana@example.com \u00B7 12 credits"},
                    {"ana@example.com", 2.5, "ana@example.com \u00B7 2.5 credits"},
                    {"ana@example.com", nullptr, "ana@example.com"},
                    {"", nullptr, ""}};
    for (const auto& account : accounts) {
        settings->setAccount(account.email, account.credits);
        EXPECT_EQ(settings->account()->text().toStdString(), account.shows);
    }

    QWidget* card = settings->window();
    EXPECT_FALSE(settings->deckButton()->isVisibleTo(card));
    settings->setSealed(true);
    ASSERT_TRUE(settings->deckButton()->isVisibleTo(card));
    calls.clear();
    QTest::mouseClick(settings->deckButton(), Qt::LeftButton);
    QTest::mouseClick(settings->signOut(), Qt::LeftButton);
    EXPECT_EQ(calls, (std::vector<std::string>{"build", "signOut"}));
    settings->setSealed(false);
    EXPECT_FALSE(settings->deckButton()->isVisibleTo(card));
}

TEST_F(SettingsTest, EscDoneReturnAndTheScrimEachCloseOnce) {
    const struct {
        const char* name;
        std::function<void()> act;
    } cases[] = {
        {"Esc in a shortcut field", [&] { QTest::keyClick(settings->draftKey(), Qt::Key_Escape); }},
        {"Esc on the card", [&] { QTest::keyClick(settings->window(), Qt::Key_Escape); }},
        {"Done", [&] { QTest::mouseClick(settings->done(), Qt::LeftButton); }},
        {"Return", [&] { QTest::keyClick(settings->settingsKey(), Qt::Key_Return); }},
        {"the scrim", [&] { QTest::mouseClick(settings->scrim(), Qt::LeftButton); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls.clear();
        settings->showOver({0, 0, 800, 600}, true);
        ASSERT_TRUE(settings->isVisible());
        c.act();
        EXPECT_EQ(calls, (std::vector<std::string>{"close"}));
        EXPECT_FALSE(settings->isVisible());
        EXPECT_FALSE(settings->scrim()->isVisible());
    }
    calls.clear();
    settings->window()->close(); // the window manager's close of a hidden card
    settings->showOver({}, false);
    settings->hide();
    EXPECT_EQ(calls.size(), 1u) << "hide() alone reports nothing";
}

TEST_F(SettingsTest, PlacementOverArenaAndWithoutIt) {
    const struct {
        const char* name;
        KVRect arena;
        KVRect card;
    } cases[] = {
        {"centred, its top a third of the way down",
         {100, 50, 1200, 900},
         {100 + 390, 50 + 900 - 300 - 470, 420, 470}},
        {"a small Arena: left edges meet, bottoms meet", {40, 30, 300, 400}, {40, 30, 420, 470}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings->showOver(c.arena, true);
        EXPECT_EQ(KVWindowScreenFrame(*settings->window()), c.card);
        EXPECT_EQ(KVWindowScreenFrame(*settings->scrim()), c.arena);
        EXPECT_TRUE(settings->scrim()->isVisible());
    }
    settings->showOver({}, false);
    EXPECT_FALSE(settings->scrim()->isVisible());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(settings->window()->geometry().center(), area.center());
}

} // namespace
