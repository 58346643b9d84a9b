#include "app/quiet_qt.hpp"

#include "base/environment.hpp"

#include <QApplication>

#include <cstdlib>

std::unique_ptr<QApplication> KVStartQuietQt(bool offscreen) {
    if (QApplication::instance()) {
        return nullptr;
    }
    if (offscreen || KVEnvironment::current()->display.empty()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    } else {
        setenv("QT_QPA_PLATFORM", "xcb", 0);
    }
    // Qt keeps a reference to the argument count for the application's whole life.
    static int argc = 1;
    static char name[] = "korvane";
    static char* argv[] = {name, nullptr};
    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return app;
}
