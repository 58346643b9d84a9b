#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A private X server for a test or a benchmark: Xvfb on a display it picks itself (-displayfd),
// optionally with openbox managing windows. Stopped, with what runs on it, when the object goes.
class KVXvfb {
public:
    struct Options {
        int width = 1920;
        int height = 1080;
        bool shm = true;            // false: the server lacks MIT-SHM
        bool windowManager = false; // openbox, running once the constructor returns
    };

    explicit KVXvfb(const Options& options);
    KVXvfb() : KVXvfb(Options{}) {}
    ~KVXvfb();
    KVXvfb(const KVXvfb&) = delete;
    KVXvfb& operator=(const KVXvfb&) = delete;

    // ":N", or "" when the server did not start (then `failure` says why).
    const std::string& display() const { return display_; }
    const std::string& failure() const { return failure_; }
    // The server process, for tests that make it stop answering.
    pid_t serverPid() const { return server_; }

private:
    bool waitForWindowManager();

    pid_t server_ = -1;
    pid_t windowManager_ = -1;
    std::string display_;
    std::string failure_;
};

// A child process with its standard input and output piped to us, read line by line.
class KVChildProcess {
public:
    KVChildProcess(const std::vector<std::string>& argv,
                   const std::vector<std::string>& environment);
    ~KVChildProcess();
    KVChildProcess(const KVChildProcess&) = delete;
    KVChildProcess& operator=(const KVChildProcess&) = delete;

    // The next line it prints, or "" after `seconds` or at its end.
    std::string readLine(double seconds = 10);
    void write(const std::string& text);
    // Sends `command` and returns the first line that answers it ("ok" or "error …"), passing
    // over what it printed meanwhile.
    std::string command(const std::string& command);
    pid_t pid() const { return pid_; }
    // Kills it and waits for its end.
    void kill();
    // Sends `signal` and waits up to `seconds` for its end: its exit status, 128 + the signal
    // that ended it, or -1 when it is still running (then it is left to `kill`).
    int stop(int signal, double seconds);

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffer_;
};

// fake-arena on `display`, shown: its window id, or 0 when it did not come up.
struct KVFakeArena {
    KVFakeArena(const std::string& display, const std::vector<std::string>& arguments);
    KVChildProcess process;
    unsigned window = 0;
};
