#include "base/config.hpp"

#include "base/arena_log_locator.hpp"
#include "base/environment.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "base/utf8.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far longer than any write takes: a temporary this old belongs to no write still going on,
// even one by another instance that is just handing over to this one.
constexpr std::chrono::seconds kStaleTemporaryAge = std::chrono::minutes(10);

// A JSON file as read: its value, or whether something was there that could not be read.
struct JSONFile {
    std::optional<KVJson> value;
    bool present = false;
    std::string problem; // why a present file gave no value
};

JSONFile readJSONFile(const std::string& path, size_t maxBytes) {
    KVError error;
    const auto text = KVReadFile(path, &error, maxBytes);
    if (!text) {
        return {std::nullopt, error.code != ENOENT, error.message};
    }
    auto value = KVJsonParse(*text, &error);
    if (!value) {
        return {std::nullopt, true, error.message};
    }
    return {std::move(value), true, {}};
}

// Moves whatever is at the settings path aside as "<path>.bad" unless it reads as settings,
// so that the save about to replace it loses nothing. False when it had to move and could not.
bool keepUnreadableSettingsAside(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return true; // nothing there
    }
    const JSONFile file = readJSONFile(path, KVConfig::kMaxJSONFileBytes);
    if (file.value && file.value->is_object()) {
        return true;
    }
    const std::string kept = path + ".bad";
    if (::rename(path.c_str(), kept.c_str()) != 0) {
        KVLog("Settings not saved: %s does not hold settings and could not be kept as %s (%s)",
              path.c_str(), kept.c_str(), std::strerror(errno));
        return false;
    }
    KVLog("Settings: %s did not hold readable settings; it is kept as %s", path.c_str(),
          kept.c_str());
    return true;
}

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
    return KVFindArenaLog(KVEnvironment::current()->home);
}

void KVConfig::ensureDirs() {
    KVMakeDirectories(cacheDir());
}

std::optional<KVJson> KVConfig::readJSON(const std::string& path, size_t maxBytes) {
    return readJSONFile(path, maxBytes).value;
}

void KVConfig::removeStaleTemporaries() {
    for (const std::string& dir : {dataDir(), cacheDir()}) {
        KVRemoveStaleTemporaries(dir, kStaleTemporaryAge);
    }
}

bool KVConfig::writeJSON(const KVJson& object, const std::string& path, KVFileAccess access,
                         size_t maxBytes) {
    ensureDirs();
    const std::string text = KVJsonDump(object, 2) + "\n";
    if (text.size() > maxBytes) {
        KVLog("Not saved: %s would be %zu bytes, more than the %zu it may have", path.c_str(),
              text.size(), maxBytes);
        return false;
    }
    KVError error;
    if (!KVJsonParse(text, &error)) {
        KVLog("Not saved: %s would not read back (%s)", path.c_str(), error.message.c_str());
        return false;
    }
    if (!KVWriteFileAtomically(path, text, &error, access)) {
        KVLog("Not saved: %s", error.message.c_str());
        return false;
    }
    return true;
}

bool KVConfig::isPackaged() {
    return KVEnvironment::current()->executablePath.find("/dist/") == std::string::npos;
}

std::string KVConfig::baseURL(const std::optional<std::string>& variable,
                              std::string_view fallback) {
    if (!variable || isPackaged()) {
        return std::string(fallback);
    }
    std::string_view base = KVTrimmed(*variable);
    if (base.empty()) {
        return std::string(fallback);
    }
    if (base.back() == '/') {
        base.remove_suffix(1);
    }
    return std::string(base);
}

std::string KVConfig::apiBase() {
    return baseURL(KVEnvironment::current()->apiBase, kDefaultAPIBase);
}

KVJson KVConfig::load() {
    ensureDirs();
    const std::string path = settingsPath();
    JSONFile file = readJSONFile(path, kMaxJSONFileBytes);
    KVJson settings = KVJson::object();
    if (file.value && file.value->is_object()) {
        settings = std::move(*file.value);
    } else if (file.present) {
        KVLog("Settings: %s could not be read (%s); the defaults are used until the next save",
              path.c_str(), file.value ? "not a JSON object" : file.problem.c_str());
    }
    if (file.present && !file.value) {
        // The unreadable file may hold an opt-out; consent is never assumed from a file that
        // could not be read.
        settings["telemetry_enabled"] = false;
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
    if (!settings.is_object()) {
        KVLog("Settings not saved: they are a JSON %s, not an object", settings.type_name());
        return;
    }
    const std::string path = settingsPath();
    if (!keepUnreadableSettingsAside(path)) {
        return;
    }
    const KVJson& logPath = KVJsonAt(settings, "log_path");
    if (logPath.is_string() && !KVFileExists(logPath.get<std::string>()) &&
        logPath.get<std::string>() == defaultLogPath()) {
        KVJson copy = settings;
        copy.erase("log_path");
        writeJSON(copy, path);
        return;
    }
    writeJSON(settings, path);
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
