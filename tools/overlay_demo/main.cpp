// kv_overlay_demo: the overlay panel and grade stamps, live on $DISPLAY, driven by commands on
// standard input, for the X11 tests, the gallery's screenshots and the idle measurement.
//
//   kv_overlay_demo
//
// Prints "ready" once Qt runs; then answers each command with "ok …" or "error <why>":
//   panel SAMPLE X Y      renders a sample state (see KVPanelSamples) with its top-left corner at
//                         desktop pixel (X, Y) and shows the panel
//   stamps X Y W H pending|graded
//                         lays the stamps over that desktop rectangle, over a rendered 15-card
//                         draft screen of that size (the one `kv_draft_screen` draws), and shows
//                         them
//   raise                 floats both windows over everything again
//   clickthrough 0|1      the panel lets clicks through or takes them
//   ontop 0|1             the panel's always-on-top switch
//   ids                   "ok PANEL STAMPS": the X window ids
//   hide                  hides both windows
//   quit
// Taps on the panel are printed as "tap ACTION".
#include "base/dispatch/run_loop.hpp"
#include "draft_screen/arena_screen.hpp"
#include "overlay_samples/overlay_samples.hpp"
#include "ui/overlay_window.hpp"
#include "ui/panel.hpp"
#include "ui/stamps.hpp"

#include <QApplication>
#include <QMetaObject>
#include <QScreen>
#include <QSocketNotifier>
#include <QWidget>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

double primaryHeight() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen == nullptr ? 0 : screen->geometry().height() * screen->devicePixelRatio();
}

struct Demo {
    std::shared_ptr<KVPanel> panel = KVPanel::create();
    KVStamps stamps;

    std::string run(const std::string& line, bool& done) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "panel") {
            std::string name;
            double x = 0;
            double y = 0;
            if (!(in >> name >> x >> y)) {
                return "error usage: panel SAMPLE X Y";
            }
            for (const KVPanelSample& sample : KVPanelSamples()) {
                if (sample.name == name) {
                    panel->view.view = sample.view;
                    panel->view.minimized = sample.minimized;
                    panel->setInDraft(sample.inDraft);
                    panel->setArenaRunning(sample.arenaRunning, sample.arenaInstalled);
                    panel->renderSession(sample.session);
                    panel->moveTo({x, primaryHeight() - y});
                    panel->show();
                    return "ok";
                }
            }
            return "error no sample " + name;
        }
        if (command == "stamps") {
            double x = 0, y = 0, width = 0, height = 0;
            std::string state;
            if (!(in >> x >> y >> width >> height >> state) || width < 1 || height < 1) {
                return "error usage: stamps X Y W H pending|graded";
            }
            const KVArenaScreenSpec spec = KVSampleScreenSpec(int(width), int(height));
            const std::vector<KVNormRect> slots = KVArenaScreenSlots(spec);
            stamps.setFrame({x, primaryHeight() - y - height, width, height});
            const bool pending = state == "pending";
            stamps.setPack(KVSampleAdvice(!pending), slots, pending, 1, "Stormcaller's Reach");
            stamps.show();
            // The panel stays above the stamps it may overlap.
            panel->floatOver();
            return "ok";
        }
        if (command == "raise") {
            KVFloatOverEverything(*stamps.window());
            panel->floatOver();
            return "ok";
        }
        if (command == "clickthrough" || command == "ontop") {
            int flag = 0;
            in >> flag;
            if (command == "clickthrough") {
                panel->setClickThrough(flag != 0);
            } else {
                panel->setAlwaysOnTop(flag != 0);
            }
            return "ok";
        }
        if (command == "ids") {
            return "ok " + std::to_string(panel->window()->winId()) + " " +
                   std::to_string(stamps.window()->winId());
        }
        if (command == "hide") {
            panel->hide();
            stamps.hide();
            return "ok";
        }
        if (command == "quit") {
            done = true;
            return "ok";
        }
        return "error unknown command: " + line;
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The pulse and other main-queue work run on Qt's event loop.
    KVMain().forwardTo([](KVQueue::Work work) {
        QMetaObject::invokeMethod(qApp, std::move(work), Qt::QueuedConnection);
    });
    Demo demo;
    for (const auto& [action, name] : {std::pair{&demo.panel->onHide, "close"},
                                       {&demo.panel->onBuild, "build"},
                                       {&demo.panel->onLaunchArena, "launch"},
                                       {&demo.panel->onMoved, "moved"}}) {
        *action = [name = std::string(name)] { say("tap " + name); };
    }

    std::string buffer;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            app.quit();
            return;
        }
        buffer.append(chunk, size_t(got));
        for (size_t end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
            const std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            bool done = false;
            say(demo.run(line, done));
            if (done) {
                app.quit();
            }
        }
    });
    say("ready");
    const int status = app.exec();
    KVMain().end();
    return status;
}
