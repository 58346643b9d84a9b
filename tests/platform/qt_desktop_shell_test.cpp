// The Qt desktop shell itself: alerts and the progress window on Qt's offscreen platform, and
// the tray and notifications against a real X server, with and without a tray host, with no
// session bus.
#include "platform/linux/qt_desktop_shell.hpp"
#include "platform/linux/qt_progress_window.hpp"
#include "x11_harness/xvfb.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace {

// One offscreen Qt application for the suite; other suites of this program bind Qt to X.
class QtDesktopShellTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "platform_tests";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete app;
        app = nullptr;
    }

    static inline QApplication* app = nullptr;
    std::shared_ptr<KVDesktopShell> shell = KVMakeQtDesktopShell();
};

TEST_F(QtDesktopShellTest, AnAlertReturnsTheButtonChosen) {
    const std::vector<std::string> offer = {"Update now", "Later"};
    const std::vector<std::string> mandatory = {"Update"};
    struct Case {
        const char* name;
        std::vector<std::string> buttons;
        QString choice; // empty: the alert is closed
        int expected;
    };
    const Case cases[] = {
        {"first", offer, "Update now", 0},
        {"second", offer, "Later", 1},
        // Closing an offer must never take it: it is the second button's answer.
        {"closed offer", offer, "", 1},
        {"only button", mandatory, "Update", 0},
        {"closed, one button", mandatory, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool shown = false;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            answer.stop();
            shown = true;
            EXPECT_EQ(box->windowTitle(), "Update available");
            EXPECT_EQ(box->informativeText(), "Korvane 0.2 is available.");
            EXPECT_EQ(box->buttons().size(), qsizetype(c.buttons.size()));
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == c.choice) {
                    button->click();
                }
            }
            if (c.choice.isEmpty()) {
                box->close();
            }
        });
        answer.start(10);
        EXPECT_EQ(shell->alert("Update available", "Korvane 0.2 is available.", c.buttons),
                  c.expected);
        EXPECT_TRUE(shown);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the alert stayed up";
    }
}

// The one visible progress window.
KVQtProgressWindow* progressWindow() {
    KVQtProgressWindow* found = nullptr;
    int visible = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = dynamic_cast<KVQtProgressWindow*>(widget);
            window && window->isVisible()) {
            found = window;
            ++visible;
        }
    }
    return visible == 1 ? found : nullptr;
}

TEST_F(QtDesktopShellTest, TheProgressWindowFollowsTheDownloadAndStaysUntilItEnds) {
    struct Step {
        const char* label;
        std::optional<double> fraction;
        int maximum; // 0: a busy bar
        int value;
    };
    const Step steps[] = {
        {"Contacting korvane.example\u2026", std::nullopt, 0, 0},
        {"Downloading Korvane\u2026 1.5 MB of 6.0 MB", 0.25, 100, 25},
        {"Downloading Korvane\u2026 6.0 MB of 6.0 MB", 1.0, 100, 100},
        {"Downloading Korvane\u2026 2.0 MB", std::nullopt, 0, 0},
    };
    KVQtProgressWindow* first = nullptr;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        shell->showProgress("Updating Korvane", step.label, step.fraction);
        KVQtProgressWindow* window = progressWindow();
        ASSERT_NE(window, nullptr) << "not exactly one progress window shown";
        first = first ? first : window;
        EXPECT_EQ(window, first) << "a second window for the same download";
        EXPECT_EQ(window->windowTitle(), "Updating Korvane");
        EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window can be resized";
        const auto* label = window->findChild<QLabel*>();
        const auto* bar = window->findChild<QProgressBar*>();
        ASSERT_TRUE(label && bar);
        EXPECT_EQ(label->text(), QString::fromUtf8(step.label));
        // Qt counts from the top: the label sits above the bar.
        EXPECT_LE(label->geometry().bottom(), bar->geometry().top());
        EXPECT_EQ(bar->maximum(), step.maximum);
        if (step.maximum > 0) {
            EXPECT_EQ(bar->value(), step.value);
        }
    }
    // Centred, give or take the rounding of QRect's centres.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((first->geometry().center() - screen.center()).manhattanLength(), 4);
    // The download goes on whatever the user does to its window, so the window stays until it
    // ends.
    EXPECT_FALSE(first->windowFlags() & Qt::WindowCloseButtonHint);
    first->close();
    EXPECT_EQ(progressWindow(), first) << "closed while the download runs";
    shell->hideProgress();
    EXPECT_EQ(progressWindow(), nullptr);
    shell->showProgress("Updating Korvane", "Again", std::nullopt);
    EXPECT_EQ(progressWindow(), first) << "a second window for the next download";
    shell->hideProgress();
    shell->hideProgress(); // twice, and before any show, is harmless
    KVMakeQtDesktopShell()->hideProgress();
}

TEST_F(QtDesktopShellTest, TheDrawnTrayIconReadsOnLightAndDarkTrays) {
    const QImage icon = KVDrawnTrayIcon("\u25C6");
    ASSERT_EQ(icon.size(), QSize(36, 36));
    for (const QColor tray : {QColor(0xdc, 0xdc, 0xd8), QColor(0x20, 0x20, 0x20)}) {
        SCOPED_TRACE(tray.name().toStdString());
        QImage shown(icon.size(), QImage::Format_RGB32);
        shown.fill(tray);
        QPainter(&shown).drawImage(0, 0, icon);
        // Pixels far from the tray's own lightness: the glyph's outline or its fill.
        int distinct = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                distinct += std::abs(qGray(shown.pixel(x, y)) - qGray(tray.rgb())) > 100;
            }
        }
        EXPECT_GT(distinct, 40) << "the glyph is lost on this tray";
    }
}

TEST(QtDesktopShellIntegration, TheTrayFollowsTheHostAndNotifyingNeedsNoBus) {
    for (const bool host : {false, true}) {
        SCOPED_TRACE(host ? "with a tray host" : "without a tray host");
        KVXvfb server;
        ASSERT_FALSE(server.display().empty()) << server.failure();
        const std::vector<std::string> environment = {
            "DISPLAY=" + server.display(), "QT_QPA_PLATFORM=xcb",
            // An address where no bus listens: the session bus is missing.
            "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/korvane-test-bus"};
        std::unique_ptr<KVChildProcess> tray;
        if (host) {
            tray = std::make_unique<KVChildProcess>(
                std::vector<std::string>{"trayer", "--edge", "top", "--align", "right"},
                environment);
        }
        std::vector<std::string> probe = {KV_QT_SHELL_PROBE};
        if (host) {
            probe.push_back("--wait-for-tray");
        }
        KVChildProcess shell(probe, environment);
        EXPECT_EQ(shell.readLine(30), host ? "tray 1" : "tray 0");
        EXPECT_EQ(shell.readLine(30), "notified");
    }
}

TEST(QtDesktopShellIntegration, WithoutATrayItemTheNotificationServiceGetsTheMessage) {
    KVChildProcess bus({"dbus-daemon", "--session", "--nofork", "--print-address"}, {});
    const std::string address = bus.readLine(10);
    ASSERT_FALSE(address.empty()) << "no session bus started";
    KVChildProcess shell({KV_QT_SHELL_PROBE, "--notifications"},
                         {"DBUS_SESSION_BUS_ADDRESS=" + address, "QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(shell.readLine(30), "Korvane|Korvane is still running|Click the tray icon to bring "
                                  "it back.|-1");
}

} // namespace
