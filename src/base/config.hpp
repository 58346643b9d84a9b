#pragma once

#include "base/build_settings.hpp"
#include "base/files.hpp"
#include "base/json.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The program's places on disk and its two JSON files: the settings (config.json) and the
// stored sign-in (auth.json). Stateless; paths come from the environment in force.
class KVConfig {
public:
    // The service the program talks to unless a development build is pointed elsewhere; set
    // when the program is configured (KV_DEFAULT_API_BASE).
    static constexpr std::string_view kDefaultAPIBase = kKVBuildAPIBase;

    static std::string dataDir();  // $XDG_DATA_HOME/Korvane, else ~/.local/share/Korvane
    static std::string cacheDir(); // dataDir()/cache
    static std::string settingsPath();
    static std::string authPath();

    // The most recently written Arena log among the Wine and Proton prefixes, else where
    // Steam would put it. Only fills a missing "log_path": a path the user set stays.
    static std::string defaultLogPath();

    // Creates the cache directory and its parents; errors are ignored.
    static void ensureDirs();

    // Removes what writes cut short by an earlier run left in the data and cache directories.
    // Called once as the program starts.
    static void removeStaleTemporaries();

    // Settings, sign-in and caches are small (a set's cards, the largest, a few megabytes); a
    // file larger than this is not ours.
    static constexpr size_t kMaxJSONFileBytes = size_t{32} << 20;

    // The file's JSON value; nothing when it can't be read, is larger than `maxBytes` or is
    // not JSON.
    static std::optional<KVJson> readJSON(const std::string& path,
                                          size_t maxBytes = kMaxJSONFileBytes);

    // Pretty-printed and written atomically; false when that failed. What readJSON with the
    // same `maxBytes` would refuse (too large, nested too deeply) is not written, so a save
    // never replaces a readable file with one that reads as nothing.
    static bool writeJSON(const KVJson& object, const std::string& path,
                          KVFileAccess access = KVFileAccess::shared,
                          size_t maxBytes = kMaxJSONFileBytes);

    // False for a program running from a "dist" build directory (a development build).
    static bool isPackaged();

    // The service's base URL: KORVANE_API_BASE, trimmed and without one trailing "/", in
    // development builds when set; otherwise the default.
    static std::string apiBase();
    // A service address from the environment: `variable` trimmed and without one trailing "/",
    // in development builds only; else, or when it is unset or blank, `fallback`.
    static std::string baseURL(const std::optional<std::string>& variable,
                               std::string_view fallback);

    // The settings with defaults filled in for missing or null keys, and "api_base_url" set
    // to apiBase(). A missing or corrupt file gives the defaults, except that a file that is
    // there but can't be read or parsed turns telemetry off: it may hold an opt-out. Nothing
    // is written.
    static KVJson load();

    // Writes the whole settings object. A "log_path" that is only the probed default of an
    // Arena that is not installed yet is left out, so a later start probes again. Whatever is
    // at the settings path and does not read as settings is first kept as "config.json.bad";
    // settings that are not an object, or would not read back, are not written.
    static void save(const KVJson& settings);

    // The stored sign-in object, or an empty object.
    static KVJson loadAuth();
    // Stored readable by the user alone: it holds an access token.
    static void saveAuth(const KVJson& auth);
    static void clearAuth();
};
