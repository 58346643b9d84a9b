// Asks the Qt desktop shell, on $DISPLAY over xcb, whether a tray host runs, then sends a
// notification and says it returned: "tray 0|1", then "notified". With "--wait-for-tray" it
// first waits up to 10 s for a tray host to appear (one started just before it may not have
// taken the tray's selection yet). Run by the tests with and without a host, and with no
// session bus.
#include "platform/linux/qt_desktop_shell.hpp"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const bool wait = argc > 1 && std::strcmp(argv[1], "--wait-for-tray") == 0;
    QApplication app(argc, argv);
    const auto shell = KVMakeQtDesktopShell();
    QDeadlineTimer deadline(wait ? 10000 : 0);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool available = shell->trayAvailable();
        if (!available && !deadline.hasExpired()) {
            return;
        }
        poll.stop();
        std::printf("tray %d\n", available ? 1 : 0);
        std::fflush(stdout);
        shell->notify("Korvane is still running", "Click the tray icon to bring it back.");
        std::printf("notified\n");
        std::fflush(stdout);
        app.quit();
    });
    poll.start(50);
    return app.exec();
}
