#include "support/program_run.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

KVSpawnedProgram KVSpawnProgram(const std::string& program, const std::vector<std::string>& args) {
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
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    KVSpawnedProgram child;
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

std::string KVReadSome(int fd, int seconds) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, seconds * 1000) <= 0) {
        return {};
    }
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
}

int KVWaitForExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

KVProgramResult KVRunChildProgram(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& input) {
    const KVSpawnedProgram child = KVSpawnProgram(program, args);
    if (!input.empty() && write(child.in, input.data(), input.size()) < 0) {
        ADD_FAILURE() << "cannot write to " << program;
    }
    close(child.in);
    KVProgramResult result;
    for (std::string more; !(more = KVReadSome(child.out, 60)).empty();) {
        result.output += more;
    }
    close(child.out);
    result.status = child.pid > 0 ? KVWaitForExit(child.pid) : -1;
    return result;
}

std::string KVCurl(const std::vector<std::string>& args) {
    std::vector<std::string> all{"-s", "--noproxy", "*", "--max-time", "60"};
    all.insert(all.end(), args.begin(), args.end());
    return KVRunChildProgram("/usr/bin/curl", all).output;
}

KVCurlAnswer KVCurlPage(std::vector<std::string> args) {
    args.insert(args.end(), {"-w", "\n%{http_code} %{redirect_url}"});
    const std::string out = KVCurl(args);
    const size_t cut = out.rfind('\n');
    if (cut == std::string::npos) {
        ADD_FAILURE() << "curl printed no status: " << out;
        return {};
    }
    const size_t space = out.find(' ', cut);
    return {std::atoi(out.c_str() + cut + 1),
            space == std::string::npos ? "" : out.substr(space + 1), out.substr(0, cut)};
}
