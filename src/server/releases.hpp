#pragma once

#include "base/error.hpp"

#include <optional>
#include <string>
#include <vector>

// One downloadable build, as listed in "releases.json" of the --releases folder:
// [{"version", "platform", "arch", "file", "notes", "mandatory"}, ...]. The file sits in the
// same folder.
struct KVSRelease {
    std::string version;
    std::string platform;
    std::string arch;
    std::string file;
    std::string notes;
    bool mandatory = false;
};

class KVSReleases {
public:
    // Reads the folder's list afresh (the operator may add a release at any time). Entries
    // whose file name is unsafe or missing are left out; a missing or malformed list gives
    // nothing and an error.
    static std::optional<std::vector<KVSRelease>> read(const std::string& dir, KVError* error);

    // The newest release for the platform and processor, or nothing.
    static std::optional<KVSRelease> latest(const std::vector<KVSRelease>& releases,
                                            const std::string& platform, const std::string& arch);

    // True when version a is newer than b, reading each as up to four numbers.
    static bool isNewer(const std::string& a, const std::string& b);

    // SHA-256 of a file as hex, or "" when it cannot be read.
    static std::string sha256(const std::string& path);
};
