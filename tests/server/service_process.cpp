#include "service_process.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Spawned {
    pid_t pid = -1;
    int out = -1; // the child's stdout (and stderr)
    int in = -1;  // the child's stdin
};

Spawned spawn(const std::string& program, const std::vector<std::string>& args) {
    int out[2];
    int in[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << errno;
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    Spawned child;
    if (posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        ADD_FAILURE() << "cannot start " << program;
        child.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(in[0]);
    child.out = out[0];
    child.in = in[1];
    return child;
}

// Reads what is there within `seconds`; "" at the end or on time-out.
std::string readSome(int fd, int seconds) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, seconds * 1000) <= 0) {
        return {};
    }
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
}

int exitStatus(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

KVSServiceProcess::KVSServiceProcess(const std::string& database,
                                     const std::vector<std::string>& args) {
    std::vector<std::string> all{"--db", database, "--listen", "127.0.0.1:0", "--test-fast-hash"};
    all.insert(all.end(), args.begin(), args.end());
    const Spawned child = spawn(KV_SERVICE_PROGRAM, all);
    close(child.in);
    pid_ = child.pid;
    std::string line;
    const auto announced = [&line] {
        const size_t at = line.find("listening on");
        return at != std::string::npos && line.find('\n', at) != std::string::npos;
    };
    while (pid_ > 0 && !announced()) {
        const std::string more = readSome(child.out, 30);
        if (more.empty()) {
            break;
        }
        line += more;
    }
    close(child.out);
    if (!announced()) {
        ADD_FAILURE() << "the service did not start: " << line;
        return;
    }
    line = line.substr(0, line.find('\n', line.find("listening on")));
    const size_t colon = line.rfind(':');
    port_ = std::atoi(line.c_str() + colon + 1);
}

KVSServiceProcess::~KVSServiceProcess() {
    stop();
}

int KVSServiceProcess::stop() {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    const int status = exitStatus(pid_);
    pid_ = -1;
    port_ = 0;
    return status;
}

KVSProgramResult KVSRunServiceProgram(const std::vector<std::string>& args,
                                      const std::string& input) {
    const Spawned child = spawn(KV_SERVICE_PROGRAM, args);
    if (!input.empty() && write(child.in, input.data(), input.size()) < 0) {
        ADD_FAILURE() << "cannot write to the program";
    }
    close(child.in);
    KVSProgramResult result;
    for (std::string more; !(more = readSome(child.out, 60)).empty();) {
        result.output += more;
    }
    close(child.out);
    result.status = child.pid > 0 ? exitStatus(child.pid) : -1;
    return result;
}

std::string KVSCurl(const std::vector<std::string>& args) {
    std::vector<std::string> all{"-s"};
    all.insert(all.end(), args.begin(), args.end());
    const Spawned child = spawn("/usr/bin/curl", all);
    close(child.in);
    std::string output;
    for (std::string more; !(more = readSome(child.out, 60)).empty();) {
        output += more;
    }
    close(child.out);
    if (child.pid > 0) {
        exitStatus(child.pid);
    }
    return output;
}
