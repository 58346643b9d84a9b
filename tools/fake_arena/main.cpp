// fake-arena: Arena's stand-in for tests and demos. A window titled "MTGA" in a process named
// "MTGA.exe", showing a picture, driven by commands on standard input.
//
//   fake-arena [--x N] [--y N] [--width N] [--height N] [--title T] [--process NAME]
//              [--image PNG | --color RRGGBB] [--argb] [--dialog] [--no-pid]
//              [--log PLAYER_LOG --script LINES [--interval SECONDS]]
//
// Prints "ready <window id>" once shown; then answers each command with "ok" or "error <why>":
// move X Y, resize W H, raise, activate, fullscreen, unmap, map, image PNG, grab-pointer, close,
// and "log N": the next N script lines appended at once, for a driver keeping the screen and the
// log in step (with --interval 0 the script is only written on "log").
// Clicks and keys it receives are printed as "click X Y BUTTON" and "key KEYCODE STATE".
// Without --image the picture is a pattern whose pixel (x, y) is (x % 256, y % 256, (x ^ y) % 256).
#include "fake_window.hpp"

#include "base/files.hpp"
#include "vision/image_codec.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

KVImage pattern(int width, int height) {
    KVImage image = KVImage::blank(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = image.pixel(x, y);
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(x ^ y);
            p[3] = 255;
        }
    }
    return image;
}

KVImage filled(int width, int height, unsigned long rgb) {
    KVImage image = KVImage::blank(width, height);
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        image.rgba[i] = static_cast<uint8_t>(rgb >> 16);
        image.rgba[i + 1] = static_cast<uint8_t>(rgb >> 8);
        image.rgba[i + 2] = static_cast<uint8_t>(rgb);
        image.rgba[i + 3] = 255;
    }
    return image;
}

std::optional<KVImage> loadPng(const std::string& path, std::string& error) {
    KVError failure;
    auto bytes = KVReadFile(path, &failure);
    auto image = bytes ? KVImageFromData(*bytes, &failure) : std::nullopt;
    if (!image) {
        error = path + ": " + failure.message;
    }
    return image;
}

// Appends one script line to the log at each interval, as Arena writes its Player.log.
struct LogWriter {
    std::string log;
    std::vector<std::string> lines;
    size_t next = 0;
    double interval = 0.5;
    std::chrono::steady_clock::time_point due = std::chrono::steady_clock::now();

    int timeoutMs() const {
        if (log.empty() || next >= lines.size() || interval <= 0) {
            return -1;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            due - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(0, left.count()));
    }

    void tick() {
        if (log.empty() || next >= lines.size() || interval <= 0 ||
            std::chrono::steady_clock::now() < due) {
            return;
        }
        append(1);
        due += std::chrono::milliseconds(static_cast<long long>(interval * 1000));
    }

    // The next `count` lines in one write, so a reader never sees half of them.
    std::string append(size_t count) {
        if (log.empty()) {
            return "no --log";
        }
        if (count > lines.size() - next) {
            return "only " + std::to_string(lines.size() - next) + " lines left";
        }
        std::string text;
        for (size_t i = 0; i < count; ++i) {
            text += lines[next + i] + "\n";
        }
        FILE* file = std::fopen(log.c_str(), "ae");
        if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
            if (file != nullptr) {
                std::fclose(file);
            }
            return "cannot write " + log;
        }
        std::fclose(file);
        next += count;
        return "";
    }
};

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string run(FakeWindow& window, LogWriter& writer, const std::string& line, bool& done) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    int a = 0;
    int b = 0;
    if (command == "move" && in >> a >> b) {
        return window.move(a, b);
    }
    if (command == "resize" && in >> a >> b && a > 0 && b > 0) {
        return window.resize(a, b);
    }
    if (command == "raise") {
        return window.raise();
    }
    if (command == "activate") {
        return window.activate();
    }
    if (command == "fullscreen") {
        return window.fullscreen();
    }
    if (command == "unmap") {
        return window.unmap();
    }
    if (command == "map") {
        return window.map();
    }
    if (command == "grab-pointer") {
        return window.grabPointer();
    }
    if (command == "image") {
        std::string path;
        std::string error;
        in >> path;
        auto image = loadPng(path, error);
        return image ? window.show(*image) : error;
    }
    if (command == "log") {
        long count = 0;
        if (!(in >> count) || count < 0) {
            return "log needs a line count";
        }
        return writer.append(static_cast<size_t>(count));
    }
    if (command == "close") {
        done = true;
        return window.destroy();
    }
    return "unknown command: " + line;
}

} // namespace

int main(int argc, char** argv) {
    FakeWindow::Options options;
    std::string process = "MTGA.exe";
    std::string imagePath;
    std::optional<unsigned long> color;
    LogWriter writer;
    std::string script;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto number = [&] { return std::atoi(argv[++i]); };
        if (arg == "--x" && hasValue) {
            options.x = number();
        } else if (arg == "--y" && hasValue) {
            options.y = number();
        } else if (arg == "--width" && hasValue) {
            options.width = number();
        } else if (arg == "--height" && hasValue) {
            options.height = number();
        } else if (arg == "--title" && hasValue) {
            options.title = argv[++i];
        } else if (arg == "--process" && hasValue) {
            process = argv[++i];
        } else if (arg == "--image" && hasValue) {
            imagePath = argv[++i];
        } else if (arg == "--color" && hasValue) {
            color = std::strtoul(argv[++i], nullptr, 16);
        } else if (arg == "--log" && hasValue) {
            writer.log = argv[++i];
        } else if (arg == "--script" && hasValue) {
            script = argv[++i];
        } else if (arg == "--interval" && hasValue) {
            writer.interval = std::atof(argv[++i]);
        } else if (arg == "--argb") {
            options.argb = true;
        } else if (arg == "--dialog") {
            options.dialog = true;
        } else if (arg == "--no-pid") {
            options.pid = false;
        } else {
            std::fprintf(stderr, "fake-arena: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }
    if (options.width <= 0 || options.height <= 0) {
        std::fprintf(stderr, "fake-arena: the size must be positive\n");
        return 2;
    }
    // What the window list reads as the owner: Wine names Arena's process "MTGA.exe".
    ::prctl(PR_SET_NAME, process.c_str(), 0, 0, 0);

    std::string error;
    KVImage picture = pattern(options.width, options.height);
    if (!imagePath.empty()) {
        auto image = loadPng(imagePath, error);
        if (!image) {
            std::fprintf(stderr, "fake-arena: %s\n", error.c_str());
            return 1;
        }
        picture = std::move(*image);
    } else if (color) {
        picture = filled(options.width, options.height, *color);
    }
    if (!script.empty()) {
        auto text = KVReadFile(script);
        std::istringstream lines(text.value_or(""));
        for (std::string line; std::getline(lines, line);) {
            writer.lines.push_back(line);
        }
    }

    FakeWindow window;
    if (!window.open(options, picture, error)) {
        std::fprintf(stderr, "fake-arena: %s\n", error.c_str());
        return 1;
    }
    say("ready " + std::to_string(window.id()));

    std::string pending;
    bool done = false;
    while (!done) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0},
                         {xcb_get_file_descriptor(window.connection()), POLLIN, 0}};
        ::poll(fds, 2, writer.timeoutMs());
        writer.tick();
        while (xcb_generic_event_t* event = xcb_poll_for_event(window.connection())) {
            const std::string line = window.handle(event);
            std::free(event);
            if (!line.empty()) {
                say(line);
            }
        }
        if (xcb_connection_has_error(window.connection()) != 0) {
            return 1;
        }
        if ((fds[0].revents & (POLLIN | POLLHUP)) == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            break; // our driver is gone
        }
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; !done && (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            const std::string failure = run(window, writer, line, done);
            say(failure.empty() ? "ok" : "error " + failure);
        }
    }
    window.close();
    return 0;
}
