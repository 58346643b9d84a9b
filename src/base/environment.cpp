#include "base/environment.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

std::mutex& environmentMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

std::shared_ptr<const KVEnvironment>& environmentSlot() {
    static auto* slot = new std::shared_ptr<const KVEnvironment>();
    return *slot;
}

} // namespace

KVEnvironment KVEnvironment::fromProcess() {
    KVEnvironment env;
    if (auto home = variable("HOME"); home && !home->empty()) {
        env.home = *home;
    } else {
        passwd entry{};
        passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) {
            env.home = found->pw_dir;
        }
    }
    if (auto data = variable("XDG_DATA_HOME"); data && !data->empty() && data->front() == '/') {
        env.xdgDataHome = *data;
    }
    env.apiBase = variable("KORVANE_API_BASE");
    env.scryfallBase = variable("KORVANE_SCRYFALL_BASE");
    env.arenaExe = variable("KORVANE_ARENA_EXE");
    env.display = variable("DISPLAY").value_or("");
    env.draftDebug = variable("KORVANE_DRAFT_DEBUG").has_value();
    env.visionDebug = variable("KORVANE_VISION_DEBUG").has_value();
    if (auto pid = variable("KORVANE_REPLACES_PID")) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(pid->c_str(), &end, 10);
        if (errno == 0 && end != pid->c_str() && *end == '\0' && value > 0) {
            env.replacesPid = value;
        }
    }
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        env.executablePath.assign(exe, static_cast<size_t>(n));
    }
    return env;
}

std::shared_ptr<const KVEnvironment> KVEnvironment::current() {
    std::lock_guard lock(environmentMutex());
    auto& slot = environmentSlot();
    if (!slot) {
        slot = std::make_shared<const KVEnvironment>(fromProcess());
    }
    return slot;
}

std::shared_ptr<const KVEnvironment> KVEnvironment::replace(KVEnvironment environment) {
    auto previous = current();
    std::lock_guard lock(environmentMutex());
    environmentSlot() = std::make_shared<const KVEnvironment>(std::move(environment));
    return previous;
}

void KVEnvironment::restore(std::shared_ptr<const KVEnvironment> previous) {
    std::lock_guard lock(environmentMutex());
    environmentSlot() = std::move(previous);
}
