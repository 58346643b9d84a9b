#include "korvane_program.hpp"

#include "base/files.hpp"
#include "base/platform_texts.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return text;
    }
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

} // namespace

KVProgramRun KVRunKorvane(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment, double seconds) {
    KVProgramRun run;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << errno;
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const std::string program = KV_KORVANE_PROGRAM;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> env = environment;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            env.push_back(std::string(name) + "=" + value);
        }
    }
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program;
        close(out[0]);
        close(err[0]);
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ADD_FAILURE() << "korvane still running after " << seconds << " s; killed";
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[8192];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return run;
}

std::string KVMaskReport(std::string text, const std::string& tempDir) {
    text = replaceAll(std::move(text), tempDir, "$TMP");
    text = replaceAll(std::move(text), KVPlatformTexts::operatingSystemName(), "<OS>");
    static const std::vector<std::pair<std::regex, std::string>> masks = {
        {std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "<TIME>"},
        {std::regex(R"(pid \d+)"), "pid <N>"},
        {std::regex(R"(pid=\d+)"), "pid=<N>"},
        {std::regex(R"(id=\d+)"), "id=<N>"},
        {std::regex(R"(size=\d+)"), "size=<N>"},
        {std::regex(R"(written \d+s ago)"), "written <N>s ago"},
        {std::regex(R"(in \d+\.\d\ds via)"), "in <N>s via"},
    };
    for (const auto& [pattern, replacement] : masks) {
        text = std::regex_replace(text, pattern, replacement);
    }
    return text;
}

void KVExpectGolden(const std::string& text, const std::string& name) {
    const std::string path = std::string(KV_FIXTURES_DIR) + "/run_modes/" + name;
    if (std::getenv("KV_UPDATE_GOLDEN")) {
        KVMakeDirectories(std::string(KV_FIXTURES_DIR) + "/run_modes");
        ASSERT_TRUE(KVWriteFileAtomically(path, text)) << path;
        return;
    }
    const auto golden = KVReadFile(path);
    ASSERT_TRUE(golden) << "no golden file " << path;
    EXPECT_EQ(text, *golden) << "differs from " << path;
}
