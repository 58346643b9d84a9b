#include "base/arena_log_locator.hpp"

#include "base/files.hpp"
#include "base/platform_texts.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace {

constexpr std::string_view kLogInsideUser = "AppData/LocalLow/Wizards Of The Coast/MTGA/Player.log";

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Sub-directory names of `path`, sorted, without "." and "..".
std::vector<std::string> subdirectories(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && isDirectory(KVJoinPath(path, name))) {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string steamPrefixLog(const std::string& library) {
    return KVJoinPath(library, "steamapps/compatdata/" +
                                   std::string(KVPlatformTexts::kArenaSteamAppId) +
                                   "/pfx/drive_c/users/steamuser/" + std::string(kLogInsideUser));
}

// Logs of every Windows user of a Wine prefix (the folder holding drive_c).
void addPrefixUsers(const std::string& prefix, std::vector<std::string>& out) {
    const std::string users = KVJoinPath(prefix, "drive_c/users");
    for (const std::string& user : subdirectories(users)) {
        if (user != "Public") {
            out.push_back(KVJoinPath(KVJoinPath(users, user), kLogInsideUser));
        }
    }
}

} // namespace

std::vector<std::string> KVSteamLibraryPaths(const std::string& vdfText) {
    // The file is nested "key" "value" pairs; the libraries are the values of "path" keys.
    std::vector<std::string> tokens;
    for (size_t i = 0; i < vdfText.size(); ++i) {
        if (vdfText[i] != '"') {
            continue;
        }
        std::string token;
        for (++i; i < vdfText.size() && vdfText[i] != '"'; ++i) {
            if (vdfText[i] == '\\' && i + 1 < vdfText.size()) {
                ++i; // "\\" stands for one backslash, "\"" for a quote
            }
            token += vdfText[i];
        }
        tokens.push_back(std::move(token));
    }
    std::vector<std::string> paths;
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        std::string key = tokens[i];
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (key == "path" && !tokens[i + 1].empty()) {
            paths.push_back(tokens[i + 1]);
            ++i;
        }
    }
    return paths;
}

std::vector<std::string> KVArenaLogCandidates(const std::string& home) {
    std::vector<std::string> candidates;

    const std::vector<std::string> steamRoots = {
        KVJoinPath(home, ".steam/steam"),
        KVJoinPath(home, ".steam/root"),
        KVJoinPath(home, ".local/share/Steam"),
        KVJoinPath(home, ".var/app/com.valvesoftware.Steam/.local/share/Steam"),
        KVJoinPath(home, ".var/app/com.valvesoftware.Steam/data/Steam"),
        KVJoinPath(home, "snap/steam/common/.local/share/Steam"),
    };
    std::vector<std::string> libraries;
    auto addLibrary = [&libraries](const std::string& path) {
        const std::string real = canonical(path);
        if (isDirectory(real) &&
            std::find(libraries.begin(), libraries.end(), real) == libraries.end()) {
            libraries.push_back(real);
        }
    };
    for (const std::string& root : steamRoots) {
        if (!isDirectory(root)) {
            continue;
        }
        addLibrary(root);
        for (const char* vdf : {"steamapps/libraryfolders.vdf", "config/libraryfolders.vdf"}) {
            if (auto text = KVReadFile(KVJoinPath(root, vdf), nullptr, 1 << 20)) {
                for (const std::string& library : KVSteamLibraryPaths(*text)) {
                    addLibrary(library);
                }
            }
        }
    }
    candidates.reserve(libraries.size());
    for (const std::string& library : libraries) {
        candidates.push_back(steamPrefixLog(library));
    }

    // Every sub-directory of these is a prefix: Lutris-style games, then Bottles' bottles
    // (Flatpak, then native).
    for (const char* parent : {"Games", ".var/app/com.usebottles.bottles/data/bottles/bottles",
                               ".local/share/bottles/bottles"}) {
        const std::string prefixes = KVJoinPath(home, parent);
        for (const std::string& prefix : subdirectories(prefixes)) {
            addPrefixUsers(KVJoinPath(prefixes, prefix), candidates);
        }
    }
    addPrefixUsers(KVJoinPath(home, ".wine"), candidates);
    return candidates;
}

std::string KVFindArenaLog(const std::string& home) {
    std::string newest;
    struct timespec newestTime {};
    for (const std::string& candidate : KVArenaLogCandidates(home)) {
        struct stat st {};
        if (::stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        const struct timespec& written = st.st_mtim;
        if (newest.empty() || written.tv_sec > newestTime.tv_sec ||
            (written.tv_sec == newestTime.tv_sec && written.tv_nsec > newestTime.tv_nsec)) {
            newest = candidate;
            newestTime = written;
        }
    }
    return newest.empty() ? KVArenaLogFallback(home) : newest;
}

std::string KVArenaLogFallback(const std::string& home) {
    return steamPrefixLog(KVJoinPath(home, ".local/share/Steam"));
}
