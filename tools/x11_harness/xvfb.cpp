#include "x11_harness/xvfb.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

// Starts `argv` with `extra` added to our environment; stdin/stdout to the given fds when >= 0.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
            int stdinFd = -1, int stdoutFd = -1, int keepFd = -1) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('=') + 1);
        bool replaced = false;
        for (const std::string& added : extra) {
            replaced = replaced || added.rfind(name, 0) == 0;
        }
        if (!replaced) {
            variables.push_back(variable);
        }
    }
    variables.insert(variables.end(), extra.begin(), extra.end());
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& variable : variables) {
        envp.push_back(const_cast<char*>(variable.c_str()));
    }
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A test killed on its time-out takes its server and programs with it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (stdinFd >= 0) {
            ::dup2(stdinFd, STDIN_FILENO);
        }
        if (stdoutFd >= 0) {
            ::dup2(stdoutFd, STDOUT_FILENO);
        }
        if (keepFd >= 0) {
            ::fcntl(keepFd, F_SETFD, 0);
        }
        ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

void stop(pid_t& pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

} // namespace

KVXvfb::KVXvfb(const Options& options) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        failure_ = "no pipe";
        return;
    }
    std::vector<std::string> argv = {"Xvfb",
                                     "-displayfd",
                                     std::to_string(pipe[1]),
                                     "-screen",
                                     "0",
                                     std::to_string(options.width) + "x" +
                                         std::to_string(options.height) + "x24",
                                     "-nolisten",
                                     "tcp",
                                     "-noreset",
                                     "-br"};
    if (!options.shm) {
        argv.insert(argv.end(), {"-extension", "MIT-SHM"});
    }
    server_ = spawn(argv, {}, -1, -1, pipe[1]);
    ::close(pipe[1]);
    // The server writes its display number once it accepts connections.
    std::string number;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    for (;;) {
        pollfd in{pipe[0], POLLIN, 0};
        if (::poll(&in, 1, millisecondsUntil(deadline)) != 1) {
            break;
        }
        char c = 0;
        if (::read(pipe[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    ::close(pipe[0]);
    if (number.empty()) {
        failure_ = "Xvfb did not start";
        stop(server_);
        return;
    }
    display_ = ":" + number;
    if (options.windowManager) {
        windowManager_ = spawn({"openbox", "--sm-disable"}, {"DISPLAY=" + display_});
        if (!waitForWindowManager()) {
            failure_ = "openbox did not start";
            display_.clear();
        }
    }
}

bool KVXvfb::waitForWindowManager() {
    xcb_connection_t* connection = xcb_connect(display_.c_str(), nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    auto* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    const xcb_atom_t check = atom != nullptr ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(atom);
    // The property is the window manager's last word on starting; wait for it to appear.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    bool ready = false;
    while (!ready && Clock::now() < deadline) {
        auto* reply = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, root, check, XCB_ATOM_WINDOW, 0, 1),
            nullptr);
        ready = reply != nullptr && xcb_get_property_value_length(reply) == 4;
        std::free(reply);
        if (!ready) {
            pollfd in{xcb_get_file_descriptor(connection), POLLIN, 0};
            ::poll(&in, 1, millisecondsUntil(deadline));
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                std::free(event);
            }
        }
    }
    // Setting the property is not yet handling requests, and openbox drops a window mapped in
    // its first moments: have it manage one of ours first, asking again each second.
    if (ready) {
        const xcb_window_t probe = xcb_generate_id(connection);
        const uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, probe, root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &structure);
        xcb_map_window(connection, probe);
        xcb_flush(connection);
        bool mapped = false;
        while (!mapped && Clock::now() < deadline) {
            pollfd in{xcb_get_file_descriptor(connection), POLLIN, 0};
            if (::poll(&in, 1, 1000) == 0) {
                xcb_map_window(connection, probe);
                xcb_flush(connection);
            }
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                mapped = mapped || (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                std::free(event);
            }
        }
        ready = mapped;
        xcb_destroy_window(connection, probe);
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }
    xcb_disconnect(connection);
    return ready;
}

KVXvfb::~KVXvfb() {
    stop(windowManager_);
    stop(server_);
}

KVChildProcess::KVChildProcess(const std::vector<std::string>& argv,
                               const std::vector<std::string>& environment) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = spawn(argv, environment, in[0], out[1]);
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    out_ = out[0];
}

KVChildProcess::~KVChildProcess() {
    kill();
    if (in_ >= 0) {
        ::close(in_);
    }
    if (out_ >= 0) {
        ::close(out_);
    }
}

void KVChildProcess::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

int KVChildProcess::stop(int signal, double seconds) {
    if (pid_ <= 0) {
        return -1;
    }
    // A descriptor of the process becomes readable when it ends: a deadline without polling.
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    ::kill(pid_, signal);
    if (handle >= 0) {
        pollfd ended{handle, POLLIN, 0};
        ::poll(&ended, 1, static_cast<int>(seconds * 1000));
        ::close(handle);
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) {
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string KVChildProcess::readLine(double seconds) {
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    for (;;) {
        if (const size_t end = buffer_.find('\n'); end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        pollfd fd{out_, POLLIN, 0};
        if (out_ < 0 || ::poll(&fd, 1, millisecondsUntil(deadline)) != 1) {
            return "";
        }
        char chunk[512];
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) {
            return "";
        }
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

void KVChildProcess::write(const std::string& text) {
    size_t done = 0;
    while (in_ >= 0 && done < text.size()) {
        const ssize_t n = ::write(in_, text.data() + done, text.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

std::string KVChildProcess::command(const std::string& command) {
    write(command + "\n");
    for (;;) {
        std::string line = readLine();
        if (line.empty() || line == "ok" || line.rfind("error", 0) == 0) {
            return line;
        }
    }
}

KVFakeArena::KVFakeArena(const std::string& display, const std::vector<std::string>& arguments)
    : process(
          [&] {
              std::vector<std::string> argv = {KV_FAKE_ARENA};
              argv.insert(argv.end(), arguments.begin(), arguments.end());
              return argv;
          }(),
          {"DISPLAY=" + display}) {
    const std::string line = process.readLine(30);
    if (line.rfind("ready ", 0) == 0) {
        window = static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 10));
    }
}
