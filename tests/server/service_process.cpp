#include "service_process.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <regex>
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
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
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

// Runs `program` to its end, `input` on its standard input.
KVSProgramResult run(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input) {
    const Spawned child = spawn(program, args);
    if (!input.empty() && write(child.in, input.data(), input.size()) < 0) {
        ADD_FAILURE() << "cannot write to " << program;
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

} // namespace

KVSServiceProcess::KVSServiceProcess(const std::string& database,
                                     const std::vector<std::string>& args) {
    std::vector<std::string> all{"--db", database, "--listen", "127.0.0.1:0", "--test-fast-hash"};
    all.insert(all.end(), args.begin(), args.end());
    const Spawned child = spawn(KV_SERVICE_PROGRAM, all);
    close(child.in);
    pid_ = child.pid;
    const std::regex announced("listening on [^\n]*:([0-9]+)\n");
    std::string output;
    std::smatch match;
    for (std::string more; pid_ > 0 && !std::regex_search(output, match, announced);
         output += more) {
        if ((more = readSome(child.out, 30)).empty()) {
            break;
        }
    }
    close(child.out);
    if (match.empty()) {
        ADD_FAILURE() << "the service did not start: " << output;
        return;
    }
    port_ = std::stoi(match[1].str());
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
    return run(KV_SERVICE_PROGRAM, args, input);
}

std::string KVSCurl(const std::vector<std::string>& args) {
    std::vector<std::string> all{"-s"};
    all.insert(all.end(), args.begin(), args.end());
    return run("/usr/bin/curl", all, "").output;
}

KVSPage KVSCurlPage(std::vector<std::string> args) {
    args.insert(args.end(), {"-w", "\n%{http_code} %{redirect_url}"});
    const std::string out = KVSCurl(args);
    const size_t cut = out.rfind('\n');
    if (cut == std::string::npos) {
        ADD_FAILURE() << "curl printed no status: " << out;
        return {};
    }
    const size_t space = out.find(' ', cut);
    return {std::atoi(out.c_str() + cut + 1),
            space == std::string::npos ? "" : out.substr(space + 1), out.substr(0, cut)};
}

int64_t KVSQueryNumber(const std::string& database, const std::string& sql) {
    sqlite3* db = nullptr;
    int64_t number = -1;
    if (sqlite3_open(database.c_str(), &db) == SQLITE_OK) {
        sqlite3_exec(
            db, sql.c_str(),
            [](void* out, int, char** values, char**) {
                *static_cast<int64_t*>(out) = std::atoll(values[0]);
                return 0;
            },
            &number, nullptr);
    }
    sqlite3_close(db);
    return number;
}
