// Runs the Qt desktop shell against the desktop it is given, for the tests.
//
//   qt_shell_probe                    asks whether a tray host runs, then notifies:
//                                     prints "tray 0|1", then "notified" once notify returned
//   qt_shell_probe --wait-for-tray    the same, after waiting up to 10 s for a tray host (one
//                                     started just before may not have taken the tray yet)
//   qt_shell_probe --notifications    serves the desktop's notification service itself on the
//                                     session bus, notifies with no tray item and prints what
//                                     the service got: "app|summary|body|timeout", or "none"
#include "platform/linux/qt_desktop_shell.hpp"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QTimer>
#include <cstdio>
#include <cstring>

namespace {

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// org.freedesktop.Notifications as a desktop serves it: Notify answers with an id.
class NotificationService final : public QDBusVirtualObject {
public:
    QString received;

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Notify")) {
            return false;
        }
        const QList<QVariant> a = message.arguments();
        if (message.signature() == QLatin1String("susssasa{sv}i")) {
            received = a[0].toString() + '|' + a[3].toString() + '|' + a[4].toString() + '|' +
                       QString::number(a[7].toInt());
        } else {
            received = "signature " + message.signature();
        }
        connection.send(message.createReply(QVariant::fromValue(1u)));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

int notifications(QApplication& app, KVDesktopShell& shell) {
    // A connection of its own, as the desktop's service would have.
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "desktop");
    NotificationService service;
    if (!bus.registerVirtualObject("/org/freedesktop/Notifications", &service) ||
        !bus.registerService("org.freedesktop.Notifications")) {
        say("error: " + bus.lastError().message());
        return 1;
    }
    shell.notify("Korvane is still running", "Click the tray icon to bring it back.");
    QDeadlineTimer deadline(5000);
    while (service.received.isEmpty() && !deadline.hasExpired()) {
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    say(service.received.isEmpty() ? "none" : service.received);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    QApplication app(argc, argv);
    const auto shell = KVMakeQtDesktopShell();
    if (std::strcmp(mode, "--notifications") == 0) {
        return notifications(app, *shell);
    }
    QDeadlineTimer deadline(std::strcmp(mode, "--wait-for-tray") == 0 ? 10000 : 0);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool available = shell->trayAvailable();
        if (!available && !deadline.hasExpired()) {
            return;
        }
        poll.stop();
        say(available ? "tray 1" : "tray 0");
        shell->notify("Korvane is still running", "Click the tray icon to bring it back.");
        say("notified");
        app.quit();
    });
    poll.start(50);
    return app.exec();
}
