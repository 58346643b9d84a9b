#include "app/gui_start.hpp"

#include "app/app.hpp"
#include "app/signal_pipe.hpp"
#include "base/config.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/environment.hpp"
#include "base/log.hpp"
#include "platform/linux/qt_desktop_shell.hpp"
#include "platform/linux/x11_hot_keys.hpp"
#include "platform/platform.hpp"
#include "platform/single_instance.hpp"

#include <QApplication>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>

int KVRunGUI() {
    if (KVEnvironment::current()->display.empty()) {
        std::fprintf(stderr, "korvane: no X display (DISPLAY is not set).\n");
        return 1;
    }
    // Arena runs as an X11 client, even on Wayland desktops: so do we.
    setenv("QT_QPA_PLATFORM", "xcb", 0);
    static int argc = 1;
    static char name[] = "korvane";
    static char* argv[] = {name, nullptr};
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    KVMain().forwardTo([](KVQueue::Work work) {
        QMetaObject::invokeMethod(qApp, std::move(work), Qt::QueuedConnection);
    });

    KVPlatform platform = *KVPlatform::current();
    platform.shell = KVMakeQtDesktopShell();
    // The grabs need Qt's own X connection, which exists only from here on.
    if (auto hotKeys = KVMakeX11HotKeys()) {
        platform.hotKeys = std::move(hotKeys);
    }
    KVPlatform::replace(std::move(platform));

    std::shared_ptr<KVApp> app;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    KVSingleInstance instance(runtime && *runtime == '/' ? runtime : KVConfig::dataDir(),
                              KVMain().shared_from_this(), [&app] {
                                  if (app) {
                                      app->handOver();
                                  }
                              });
    KVError error;
    switch (instance.acquire(&error)) {
    case KVSingleInstance::Outcome::handedOver:
        std::printf("%s\n", KVSingleInstance::kAlreadyRunning);
        KVMain().end();
        return 0;
    case KVSingleInstance::Outcome::failed:
        KVLog("single instance: %s", error.message.c_str());
        break;
    case KVSingleInstance::Outcome::first:
        break;
    }

    KVAppServices services = KVAppServices::standard();
    services.quit = [] {
        QMetaObject::invokeMethod(qApp, &QApplication::quit, Qt::QueuedConnection);
    };
    app = KVApp::create(std::move(services), std::make_shared<KVAppViews>());
    KVSignalPipe signalPipe([](int) { QApplication::quit(); });
    QMetaObject::invokeMethod(
        qApp, [&app] { app->applicationDidFinishLaunching(); }, Qt::QueuedConnection);
    QApplication::exec();
    app->applicationWillTerminate();
    KVMain().end();
    app.reset();
    return 0;
}
