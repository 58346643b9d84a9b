// Where Arena is installed and how it is started: the disk-facing half of KVCapture.
#include "vision/capture.hpp"

#include "base/arena_log_locator.hpp"
#include "base/environment.hpp"
#include "base/files.hpp"
#include "base/platform_texts.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view kSteamPrefix = "/steamapps/compatdata/";
constexpr std::string_view kDriveC = "/drive_c/";

// The Steam libraries and Wine prefixes that the log search probes, read back from its list.
struct Places {
    std::vector<std::string> steamLibraries;
    std::vector<std::string> winePrefixes;
};

Places knownPlaces() {
    Places places;
    for (const std::string& log : KVArenaLogCandidates(KVEnvironment::current()->home)) {
        auto add = [](std::vector<std::string>& list, std::string place) {
            if (std::find(list.begin(), list.end(), place) == list.end()) {
                list.push_back(std::move(place));
            }
        };
        if (const size_t steam = log.find(kSteamPrefix); steam != std::string::npos) {
            add(places.steamLibraries, log.substr(0, steam));
        } else if (const size_t drive = log.find(kDriveC); drive != std::string::npos) {
            add(places.winePrefixes, log.substr(0, drive));
        }
    }
    return places;
}

bool endsWithExe(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".exe";
}

} // namespace

std::vector<std::string> KVCapture::arenaAppCandidates() {
    const Places places = knownPlaces();
    std::vector<std::string> candidates;
    for (const std::string& library : places.steamLibraries) {
        candidates.push_back(KVJoinPath(library, "steamapps/common/MTGA/MTGA.exe"));
    }
    for (const std::string& prefix : places.winePrefixes) {
        candidates.push_back(
            KVJoinPath(prefix, "drive_c/Program Files/Wizards of the Coast/MTGA/MTGA.exe"));
    }
    return candidates;
}

std::optional<std::string> KVCapture::arenaPath() {
    const auto env = KVEnvironment::current();
    if (env->arenaExe && !env->arenaExe->empty() && KVFileExists(*env->arenaExe)) {
        return *env->arenaExe;
    }
    for (const std::string& candidate : arenaAppCandidates()) {
        if (KVFileExists(candidate)) {
            return candidate;
        }
    }
    // Steam knows the game (its manifest is there) though it sits elsewhere or is being updated.
    for (const std::string& library : knownPlaces().steamLibraries) {
        const std::string manifest =
            KVJoinPath(library, "steamapps/appmanifest_" +
                                    std::string(KVPlatformTexts::kArenaSteamAppId) + ".acf");
        if (KVFileExists(manifest)) {
            return manifest;
        }
    }
    return std::nullopt;
}

bool KVCapture::launchArena() {
    const auto path = arenaPath();
    if (!path) {
        return false;
    }
    KVLauncher& launcher = *KVPlatform::current()->launcher;
    if (path->find("/steamapps/") != std::string::npos) {
        return launcher.openUrl("steam://rungameid/" +
                                std::string(KVPlatformTexts::kArenaSteamAppId));
    }
    if (endsWithExe(*path)) {
        std::vector<std::pair<std::string, std::string>> environment;
        if (const size_t drive = path->find(kDriveC); drive != std::string::npos) {
            environment.emplace_back("WINEPREFIX", path->substr(0, drive));
        }
        return launcher.launch({"wine", *path}, environment);
    }
    return launcher.launch({*path});
}
