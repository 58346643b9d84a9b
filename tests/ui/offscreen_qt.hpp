#pragma once

#include <QApplication>

#include <cstdlib>

// The one QApplication of a test program, on Qt's offscreen platform unless the test chose one:
// windows exist, nothing reaches a display.
inline QApplication& OffscreenQt() {
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Never destroyed: at exit, QTest's input devices would be torn down after the application
    // they belong to, and crash.
    static QApplication* const app = new QApplication(argc, argv);
    return *app;
}
