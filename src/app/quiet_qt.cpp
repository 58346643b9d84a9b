#include "app/quiet_qt.hpp"

#include "base/environment.hpp"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

std::unique_ptr<QApplication> KVStartQuietQt(bool offscreen) {
    if (QApplication::instance()) {
        return nullptr;
    }
    if (offscreen || KVEnvironment::current()->display.empty()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The offscreen platform's notes on what it cannot do (masks, raising) and Qt's on the
        // session it found say nothing about the program: standard error keeps our own lines.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg) {
                std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
            }
        });
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
