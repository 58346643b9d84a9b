// The update's progress window as the Qt shell shows it, on Qt's offscreen platform.
#include "platform/linux/qt_desktop_shell.hpp"
#include "platform/linux/qt_progress_window.hpp"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Qt binds an application to one platform for life; this suite's is gone when it ends, so the
// X11 suites of this program can make theirs.
class QtProgressWindowTest : public ::testing::Test {
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

    // The progress windows that exist, shown or not.
    static std::vector<KVQtProgressWindow*> windows() {
        std::vector<KVQtProgressWindow*> found;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = dynamic_cast<KVQtProgressWindow*>(widget)) {
                found.push_back(window);
            }
        }
        return found;
    }

    static inline QApplication* app = nullptr;
};

TEST_F(QtProgressWindowTest, ShowsItsTextOverABarThatFillsOnceTheSizeIsKnown) {
    const auto shell = KVMakeQtDesktopShell();
    shell->showProgress("Updating Korvane", "Contacting api.korvane.app\u2026", std::nullopt);
    ASSERT_EQ(windows().size(), 1u);
    KVQtProgressWindow* window = windows()[0];
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->size(), QSize(380, 90));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window can be resized";
    EXPECT_EQ(window->windowTitle(), QString("Updating Korvane"));
    EXPECT_EQ(window->label()->text(), QString::fromUtf8("Contacting api.korvane.app\u2026"));
    // Qt counts from the top: the label's 20-high line sits above the bar.
    EXPECT_EQ(window->label()->geometry(), QRect(20, 20, 340, 20));
    EXPECT_EQ(window->bar()->geometry(), QRect(20, 50, 340, 20));
    EXPECT_EQ(window->bar()->maximum(), 0) << "the bar shows a fill before the size is known";
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // Centred, give or take the rounding of QRect's centres.
    EXPECT_LE((window->geometry().center() - screen.center()).manhattanLength(), 4);

    shell->showProgress("Updating Korvane", "Downloading Korvane\u2026 1.5 MB of 3.0 MB", 0.5);
    ASSERT_EQ(windows().size(), 1u) << "a second window for the same download";
    EXPECT_EQ(window->label()->text(),
              QString::fromUtf8("Downloading Korvane\u2026 1.5 MB of 3.0 MB"));
    EXPECT_EQ(window->bar()->maximum(), 100);
    EXPECT_EQ(window->bar()->value(), 50);
    shell->showProgress("Updating Korvane", "Downloading Korvane\u2026 3.0 MB of 3.0 MB", 1.0);
    EXPECT_EQ(window->bar()->value(), 100);
}

TEST_F(QtProgressWindowTest, StaysUpUntilTheDownloadEnds) {
    const auto shell = KVMakeQtDesktopShell();
    shell->showProgress("Updating Korvane", "Contacting api.korvane.app\u2026", std::nullopt);
    ASSERT_EQ(windows().size(), 1u);
    KVQtProgressWindow* window = windows()[0];
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
    window->close();
    EXPECT_TRUE(window->isVisible()) << "closed while the download runs";

    shell->hideProgress();
    EXPECT_FALSE(window->isVisible());
    shell->showProgress("Updating Korvane", "Contacting api.korvane.app\u2026", std::nullopt);
    EXPECT_TRUE(window->isVisible());
}

} // namespace
