// Drives an X server the way a user would, for live runs of the program on Xvfb:
//   x11-drive shot FILE.png      the root window's pixels as a PNG
//   x11-drive click X Y [N]      moves the pointer and clicks button N (1 unless given)
//   x11-drive type TEXT          types printable ASCII text
//   x11-drive key NAME           presses one key, modifiers joined by "+": Return, Tab, alt+s
//   x11-drive window TITLE [S]   waits up to S seconds (none by default) for a shown window
//                                titled TITLE; status 1 when none shows
// $DISPLAY names the server. Exit status 1 when the server or the request fails.
#include "x11_harness/fake_input.hpp"
#include "x11_harness/x11_screen.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

bool waitForWindow(KVX11Screen& screen, const std::string& title, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!screen.findWindow(title)) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: x11-drive shot FILE | click X Y [N] | type TEXT | key NAME | "
                             "window TITLE [S]\n");
        return 2;
    }
    KVX11Screen screen("");
    if (!screen.connected()) {
        std::fprintf(stderr, "x11-drive: no X server\n");
        return 1;
    }
    const std::string command = argv[1];
    bool done = false;
    if (command == "shot" && argc == 3) {
        const QImage shot = screen.shot();
        done = !shot.isNull() && shot.save(argv[2], "PNG");
    } else if (command == "click" && argc >= 4) {
        const auto button = static_cast<uint8_t>(argc > 4 ? std::atoi(argv[4]) : 1);
        screen.input().click(std::atoi(argv[2]), std::atoi(argv[3]), button);
        done = true;
    } else if (command == "type" && argc == 3) {
        done = screen.input().type(argv[2]);
    } else if (command == "key" && argc == 3) {
        done = screen.key(argv[2]);
    } else if (command == "window" && argc >= 3) {
        done = waitForWindow(screen, argv[2], argc > 3 ? std::atof(argv[3]) : 0);
    } else {
        std::fprintf(stderr, "x11-drive: unknown command %s\n", argv[1]);
        return 2;
    }
    return done ? 0 : 1;
}
