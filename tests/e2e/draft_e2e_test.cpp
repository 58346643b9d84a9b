// A new user's whole evening with korvane on a real X server, against the reference service:
// registering, a graded draft with stamps on the cards, the deck, the hot keys, quitting, and
// coming back while the service is down.
#include "../server/service_process.hpp"
#include "e2e/e2e_world.hpp"
#include "ui/drawing.hpp"
#include "x11_harness/fake_input.hpp"

#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace {

constexpr double kStartup = 30;     // a window or a line that follows a start
constexpr double kVisionWait = 120; // the first pack: the set's art is fetched and hashed first

// The sign-in window's controls, from its top-left corner.
constexpr QPoint kEmailField{200, 187};
constexpr QPoint kPasswordField{200, 261};
constexpr QPoint kCreateAccountToggle{298, 490};

// The panel's "Build my deck" button and nothing else on the screen is this gold.
constexpr QRgb kDeckButtonGold = qRgb(0xd4, 0xaf, 0x6a);

QRgb rgbOf(const KVColor& colour) {
    return qRgb(int(std::lround(colour.red * 255)), int(std::lround(colour.green * 255)),
                int(std::lround(colour.blue * 255)));
}

QImage qimageOf(const KVImage& image) {
    return QImage(image.rgba.data(), image.width, image.height, qsizetype(image.width) * 4,
                  QImage::Format_RGBA8888)
        .convertToFormat(QImage::Format_RGB32);
}

// The grades korvane gave each card, from the advice lines it logged after `from`.
std::map<std::string, std::string> loggedGrades(const std::string& log, size_t from) {
    std::map<std::string, std::string> grades;
    std::istringstream lines(log.substr(std::min(from, log.size())));
    const std::string marker = "[draft] advice ";
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(marker);
        const size_t equals = line.find(" = ", at);
        const size_t arrow = line.find(" -> slot", equals);
        if (at == std::string::npos || equals == std::string::npos || arrow == std::string::npos ||
            arrow == equals + 3) {
            continue; // not an advice line, or no grade yet
        }
        grades[line.substr(at + marker.size(), equals - at - marker.size())] =
            line.substr(equals + 3, arrow - equals - 3);
    }
    return grades;
}

// The badge of a card in `slot` of Arena's window, on the root.
QRect badgeOf(const KVNormRect& slot, const QRect& frame) {
    const double cx = frame.x() + slot.x * frame.width();
    const double cy = frame.y() + slot.y * frame.height();
    const double cw = slot.width * frame.width();
    const double ch = slot.height * frame.height();
    return QRectF(cx + std::max(0.04 * cw, 4.0), cy + 0.115 * ch, std::max(0.4 * cw, 40.0),
                  std::max(0.11 * ch, 20.0))
        .toAlignedRect();
}

// What the screen fails to show of the pack's grades logged after `from`, each named with what
// was wrong; empty when every card carries a badge in its grade's colour and, with `panel`, every
// grade given shows off the cards in its colour too: the panel lists every card with its grade.
// Colours are counted against what Arena's own picture has of them in the same place.
std::vector<std::string> gradesNotShown(KVE2EWorld& world, size_t from, bool panel) {
    const auto grades = loggedGrades(world.korvaneLog(), from);
    const KVArenaScreen& shown = world.shownScreen();
    const QRect frame = world.arenaFrame();
    QImage screen = world.screen().shot();
    QImage picture = qimageOf(shown.image);
    std::vector<std::string> wrong;
    std::set<std::string> given;
    for (size_t i = 0; i < shown.slots.size(); ++i) {
        const std::string name = KVDemoArt::card(world.shownPack().at(i)).name;
        const auto grade = grades.find(name);
        if (grade == grades.end()) {
            wrong.push_back(name + ": no grade logged");
            continue;
        }
        given.insert(grade->second);
        const QRect badge = badgeOf(shown.slots[i], frame).adjusted(-2, -2, 2, 2);
        const QRgb colour = rgbOf(KVGradeColor(grade->second));
        const int stamped = KVCountColour(screen, badge, colour, 10);
        const int underneath =
            KVCountColour(picture, badge.translated(-frame.topLeft()), colour, 10);
        if (stamped < 40 || stamped < underneath + 30) {
            wrong.push_back(name + " (" + grade->second + "): " + std::to_string(stamped) +
                            " badge pixels, " + std::to_string(underneath) + " in the art");
        }
    }
    if (!panel) {
        return wrong;
    }
    {
        QPainter onScreen(&screen);
        QPainter inPicture(&picture);
        for (const KVNormRect& slot : shown.slots) {
            const QRect card = QRectF(slot.x * frame.width(), slot.y * frame.height(),
                                      slot.width * frame.width(), slot.height * frame.height())
                                   .toAlignedRect();
            onScreen.fillRect(card.translated(frame.topLeft()), Qt::black);
            inPicture.fillRect(card, Qt::black);
        }
    }
    for (const std::string& grade : given) {
        const QRgb colour = rgbOf(KVGradeColor(grade));
        const int elsewhere = KVCountColour(screen, screen.rect(), colour, 10);
        const int own = KVCountColour(picture, picture.rect(), colour, 10);
        if (elsewhere < own + 15) {
            wrong.push_back("the panel's " + grade + ": " + std::to_string(elsewhere) +
                            " pixels, " + std::to_string(own) + " in Arena's picture");
        }
    }
    return wrong;
}

// The rows of the screen where the deck button's gold runs wider than any lettering.
QRect deckButton(const QImage& screen) {
    QRect button;
    for (int y = 0; y < screen.height(); ++y) {
        const QRect row(0, y, screen.width(), 1);
        if (KVCountColour(screen, row, kDeckButtonGold, 4) >= 150) {
            button = button.united(
                KVColourBounds(screen.copy(row), kDeckButtonGold, 4).translated(0, y));
        }
    }
    return button;
}

} // namespace

TEST(EndToEnd, ANewUserDraftsBuildsADeckAndComesBackWhileTheServiceIsDown) {
    KVE2EWorld world("draft");
    ASSERT_EQ(world.failure(), "");
    ASSERT_TRUE(world.startService());
    ASSERT_TRUE(world.startArena());
    ASSERT_TRUE(world.startKorvane());

    // Registering, typed into the real sign-in window.
    std::optional<QRect> signIn;
    ASSERT_TRUE(KVE2EWait(
        [&] { return (signIn = world.screen().findWindow("Sign in to Korvane")).has_value(); },
        kStartup));
    world.shot("sign-in");
    world.screen().input().click(signIn->x() + kCreateAccountToggle.x(),
                                 signIn->y() + kCreateAccountToggle.y());
    world.screen().input().click(signIn->x() + kEmailField.x(), signIn->y() + kEmailField.y());
    world.screen().input().type("new.player@example.org");
    world.screen().input().click(signIn->x() + kPasswordField.x(),
                                 signIn->y() + kPasswordField.y());
    world.screen().input().type("Correct-Horse-7");
    world.shot("registering");
    world.screen().key("Return");
    ASSERT_TRUE(KVE2EWait(
        [&] {
            return std::filesystem::exists(world.authFile()) &&
                   !world.screen().findWindow("Sign in to Korvane");
        },
        kStartup))
        << world.korvaneLog();
    world.shot("signed-in");

    // The first two packs: graded, and each card stamped with its own grade.
    for (size_t step = 0; step < 2; ++step) {
        const size_t from = world.korvaneLogSize();
        ASSERT_TRUE(world.playStep(step));
        std::vector<std::string> wrong;
        EXPECT_TRUE(KVE2EWait([&] { return (wrong = gradesNotShown(world, from, true)).empty(); },
                              step == 0 ? kVisionWait : kStartup))
            << world.steps()[step].name << ": " << testing::PrintToString(wrong) << "\n"
            << world.korvaneLog().substr(from);
        world.shot(world.steps()[step].name + "-stamped");
    }
    // The second pack has one card less: where the first pack's last card was, nothing is
    // left of its badge.
    {
        const auto first = world.art().screen(world.steps()[0].pack, KVE2EWorld::kArenaWidth,
                                              KVE2EWorld::kArenaHeight);
        ASSERT_TRUE(first.has_value());
        const QRect gone = badgeOf(first->slots.back(), world.arenaFrame());
        const QImage screen = world.screen().shot();
        const QImage picture = qimageOf(world.shownScreen().image);
        int differing = 0;
        for (int y = gone.top(); y <= gone.bottom(); ++y) {
            for (int x = gone.left(); x <= gone.right(); ++x) {
                const QPoint inPicture = QPoint(x, y) - world.arenaFrame().topLeft();
                differing += screen.pixel(x, y) != picture.pixel(inPicture) ? 1 : 0;
            }
        }
        EXPECT_LT(differing, gone.width() * gone.height() / 20)
            << "a stamp of the first pack is still drawn at " << gone.x() << "," << gone.y();
    }

    // The rest of the draft, then the deck.
    for (size_t step = 2; step < world.steps().size(); ++step) {
        ASSERT_TRUE(world.playStep(step));
    }
    ASSERT_TRUE(world.showNoPack());
    QRect button;
    ASSERT_TRUE(KVE2EWait([&] { return !(button = deckButton(world.screen().shot())).isEmpty(); },
                          kStartup))
        << world.korvaneLog();
    world.shot("draft-complete");
    const size_t beforeDeck = world.korvaneLogSize();
    world.screen().input().click(button.center().x(), button.center().y());
    ASSERT_TRUE(world.waitForLog("[draft] deck window: ", beforeDeck, kStartup));
    // The list is drawn once its tab's gold underline shows beside the panel's button.
    EXPECT_TRUE(KVE2EWait(
        [&] {
            const QImage screen = world.screen().shot();
            return KVCountColour(screen, screen.rect(), kDeckButtonGold, 4) >
                   KVCountColour(screen, button, kDeckButtonGold, 4) + 40;
        },
        kStartup));
    world.shot("deck");

    // The hot keys: Alt+S opens the settings, Ctrl+Alt+H hides the panel.
    ASSERT_TRUE(world.screen().key("alt+s"));
    EXPECT_TRUE(KVE2EWait([&] { return world.screen().findWindow("Korvane Settings").has_value(); },
                          kStartup));
    world.shot("settings");
    ASSERT_TRUE(world.screen().key("escape"));
    EXPECT_TRUE(
        KVE2EWait([&] { return !world.screen().findWindow("Korvane Settings"); }, kStartup));
    ASSERT_TRUE(world.screen().key("ctrl+alt+h"));
    EXPECT_TRUE(KVE2EWait(
        [&] { return KVCountColour(world.screen().shot(), button, kDeckButtonGold, 4) == 0; },
        kStartup));
    world.shot("panel-hidden");

    // Quitting: a clean stop, and the session's telemetry reached the service.
    EXPECT_EQ(world.stopKorvane(), 0);
    EXPECT_NE(world.korvaneLog().find("Korvane stopped"), std::string::npos);
    const std::string events = "SELECT COUNT(*) FROM telemetry WHERE json_extract(event, '$.type')";
    EXPECT_EQ(KVSQueryNumber(world.serviceDatabase(), events + " = 'session_start'"), 1);
    EXPECT_EQ(KVSQueryNumber(world.serviceDatabase(), events + " = 'deck_built'"), 1);

    // Back the next day with the service down: the sign-in is kept, and grades come once the
    // service answers again.
    const int port = world.servicePort();
    world.stopService();
    ASSERT_TRUE(world.startArena());
    const size_t beforeRestart = world.korvaneLogSize();
    ASSERT_TRUE(world.startKorvane());
    ASSERT_TRUE(world.waitForLog("keeping the stored sign-in", beforeRestart, kStartup))
        << world.korvaneLog().substr(beforeRestart);
    EXPECT_FALSE(world.screen().findWindow("Sign in to Korvane"));
    world.shot("service-down");
    ASSERT_TRUE(world.startService(port));
    const size_t beforePack = world.korvaneLogSize();
    ASSERT_TRUE(world.playStep(0));
    std::vector<std::string> wrong;
    EXPECT_TRUE(KVE2EWait(
        [&] { return (wrong = gradesNotShown(world, beforePack, false)).empty(); }, kVisionWait))
        << testing::PrintToString(wrong) << "\n"
        << world.korvaneLog().substr(beforePack);
    world.shot("service-back-graded");
    EXPECT_EQ(world.stopKorvane(), 0);
}
