#include "service/update_bundle.hpp"

#include "base/environment.hpp"
#include "base/files.hpp"
#include "base/log.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr std::string_view kReplacesVariable = "KORVANE_REPLACES_PID=";

std::string parentOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

bool isRealDirectory(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool writableByUs(const std::string& directory) {
    struct stat info {};
    return ::stat(directory.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) != 0 &&
           ::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

void fileError(KVError* error, int code, const std::string& what) {
    KVSetError(error, "KorvaneFile", code, what + ": " + std::strerror(code));
}

struct SpawnAttributes {
    posix_spawnattr_t attributes{};
    posix_spawn_file_actions_t actions{};
    SpawnAttributes() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnAttributes() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

} // namespace

bool KVIsBundle(const std::string& directory) {
    struct stat marker {};
    struct stat program {};
    const std::string executable = KVJoinPath(directory, "bin/korvane");
    return isRealDirectory(directory) &&
           ::lstat(KVJoinPath(directory, kKVBundleMarker).c_str(), &marker) == 0 &&
           S_ISREG(marker.st_mode) && ::stat(executable.c_str(), &program) == 0 &&
           S_ISREG(program.st_mode) && (program.st_mode & S_IXUSR) != 0;
}

std::string KVBundleOfExecutable(const std::string& executable) {
    const std::filesystem::path file(executable);
    if (file.filename() != "korvane" || file.parent_path().filename() != "bin") {
        return "";
    }
    std::string bundle = file.parent_path().parent_path().string();
    return KVIsBundle(bundle) ? bundle : "";
}

bool KVMayReplaceBundle(const std::string& bundle) {
    return !bundle.empty() && KVIsBundle(bundle) && writableByUs(bundle) &&
           writableByUs(parentOf(bundle));
}

bool KVRemoveTree(const std::string& path) {
    std::error_code failed;
    std::filesystem::remove_all(path, failed);
    struct stat info {};
    return ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

bool KVRemoveBundle(const std::string& path) {
    return KVIsBundle(path) && KVRemoveTree(path);
}

bool KVSwapBundle(const std::string& current, const std::string& replacement,
                  const KVRenameFunction& rename, KVError* error) {
    const std::string old = current + ".old";
    KVRemoveBundle(old); // anything else there makes the move aside fail below
    if (rename(current.c_str(), old.c_str()) != 0) {
        fileError(error, errno, "Could not move " + current + " aside");
        return false;
    }
    if (rename(replacement.c_str(), current.c_str()) != 0) {
        const int cause = errno;
        if (rename(old.c_str(), current.c_str()) != 0) {
            KVLog("Update: could not put %s back (%s)", current.c_str(), std::strerror(errno));
        }
        fileError(error, cause, "Could not move the update to " + current);
        return false;
    }
    return true;
}

bool KVStartDetached(const std::string& executable, pid_t replaces, pid_t* started,
                     KVError* error) {
    std::vector<std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with(kReplacesVariable)) {
            variables.emplace_back(*entry);
        }
    }
    variables.push_back(std::string(kReplacesVariable) + std::to_string(replaces));
    std::vector<char*> envp;
    for (auto& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::string program = executable;
    char* argv[] = {program.data(), nullptr};

    SpawnAttributes spawn;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&spawn.attributes, &none);
    posix_spawnattr_setsigdefault(&spawn.attributes, &all);
    posix_spawnattr_setflags(&spawn.attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // Our locks and sockets (the single-instance lock above all) must not live on in it.
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3);
    pid_t pid = 0;
    const int failed =
        posix_spawn(&pid, program.c_str(), &spawn.actions, &spawn.attributes, argv, envp.data());
    if (failed != 0) {
        fileError(error, failed, "Could not start " + executable);
        return false;
    }
    if (started != nullptr) {
        *started = pid;
    }
    return true;
}

bool KVWaitForProcessEnd(pid_t pid, double timeoutSeconds) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        return errno == ESRCH;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    int ready = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd watch{fd, POLLIN, 0};
        ready = ::poll(&watch, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready >= 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    return ready > 0;
}

void KVWaitForReplacedProcess(double timeoutSeconds) {
    const long pid = KVEnvironment::current()->replacesPid;
    if (pid <= 0 || pid == ::getpid()) {
        return;
    }
    if (!KVWaitForProcessEnd(static_cast<pid_t>(pid), timeoutSeconds)) {
        KVLog("Update: the copy this one replaces (pid %ld) is still running", pid);
    }
}
