#include "base/config.hpp"

#include "base/arena_log_locator.hpp"
#include "base/environment.hpp"
#include "base/files.hpp"
#include "base/utf8.hpp"

#include <chrono>
#include <unistd.h>

namespace {

// Settings and caches are small; anything larger than this is not ours.
constexpr size_t kMaxJSONFileBytes = 256u << 20;

// Far longer than any write takes: a temporary this old belongs to no write still going on,
// even one by another instance that is just handing over to this one.
constexpr std::chrono::seconds kStaleTemporaryAge = std::chrono::minutes(10);

} // namespace

std::string KVConfig::dataDir() {
    const auto env = KVEnvironment::current();
    const std::string base =
        env->xdgDataHome.empty() ? KVJoinPath(env->home, ".local/share") : env->xdgDataHome;
    return KVJoinPath(base, "Korvane");
}

std::string KVConfig::cacheDir() {
    return KVJoinPath(dataDir(), "cache");
}

std::string KVConfig::settingsPath() {
    return KVJoinPath(dataDir(), "config.json");
}

std::string KVConfig::authPath() {
    return KVJoinPath(dataDir(), "auth.json");
}

std::string KVConfig::defaultLogPath() {
    const std::string home = KVEnvironment::current()->home;
    for (const std::string& candidate : KVArenaLogCandidates(home)) {
        if (KVFileExists(candidate)) {
            return candidate;
        }
    }
    return KVArenaLogFallback(home);
}

void KVConfig::ensureDirs() {
    KVMakeDirectories(cacheDir());
}

std::optional<KVJson> KVConfig::readJSON(const std::string& path) {
    const auto text = KVReadFile(path, nullptr, kMaxJSONFileBytes);
    if (!text) {
        return std::nullopt;
    }
    return KVJsonParse(*text);
}

void KVConfig::removeStaleTemporaries() {
    for (const std::string& dir : {dataDir(), cacheDir()}) {
        KVRemoveStaleTemporaries(dir, kStaleTemporaryAge);
    }
}

bool KVConfig::writeJSON(const KVJson& object, const std::string& path, KVFileAccess access) {
    ensureDirs();
    return KVWriteFileAtomically(path, KVJsonDump(object, 2) + "\n", nullptr, access);
}

bool KVConfig::isPackaged() {
    return KVEnvironment::current()->executablePath.find("/dist/") == std::string::npos;
}

std::string KVConfig::apiBase() {
    std::string fallback(kDefaultAPIBase);
    if (isPackaged()) {
        return fallback;
    }
    const auto& variable = KVEnvironment::current()->apiBase;
    if (!variable) {
        return fallback;
    }
    std::string_view base = KVTrimmed(*variable);
    if (base.empty()) {
        return fallback;
    }
    if (base.back() == '/') {
        base.remove_suffix(1);
    }
    return std::string(base);
}

KVJson KVConfig::load() {
    ensureDirs();
    KVJson settings = readJSON(settingsPath()).value_or(KVJson());
    if (!settings.is_object()) {
        settings = KVJson::object();
    }
    auto fill = [&settings](const char* key, auto&& makeDefault) {
        auto it = settings.find(key);
        if (it == settings.end() || it->is_null()) {
            settings[key] = makeDefault();
        }
    };
    fill("log_path", [] { return defaultLogPath(); });
    fill("panel_opacity", [] { return 1.0; });
    fill("click_through", [] { return false; });
    fill("telemetry_enabled", [] { return true; });
    fill("vision_enabled", [] { return true; });
    fill("key_settings", [] { return "S"; });
    fill("key_draft_data", [] { return "D"; });
    fill("key_screenshot", [] { return "P"; });
    fill("memory_limit_gb", [] { return 8; });
    settings["api_base_url"] = apiBase();
    return settings;
}

void KVConfig::save(const KVJson& settings) {
    const KVJson& logPath = KVJsonAt(settings, "log_path");
    if (logPath.is_string() && !KVFileExists(logPath.get<std::string>()) &&
        logPath.get<std::string>() == defaultLogPath()) {
        KVJson copy = settings;
        copy.erase("log_path");
        writeJSON(copy, settingsPath());
        return;
    }
    writeJSON(settings, settingsPath());
}

KVJson KVConfig::loadAuth() {
    auto auth = readJSON(authPath());
    return auth && auth->is_object() ? std::move(*auth) : KVJson::object();
}

void KVConfig::saveAuth(const KVJson& auth) {
    writeJSON(auth, authPath(), KVFileAccess::ownerOnly);
}

void KVConfig::clearAuth() {
    ::unlink(authPath().c_str());
}
