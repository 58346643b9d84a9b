#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

// Real zip archives, written with libarchive the way a release script would, and installed
// bundles on disk, for the updater's tests.
struct KVZipEntry {
    std::string path;
    mode_t type = S_IFREG;
    std::string data{};
    std::string symlink{};
    mode_t perm = 0644;
    // Written into the central directory over what libarchive wrote: types a zip writer
    // refuses to store (devices) but a hostile archive can claim. 0 leaves it alone.
    mode_t forcedMode = 0;
};

KVZipEntry KVZipFile(std::string path, std::string data, mode_t perm = 0644);
KVZipEntry KVZipLink(std::string path, std::string target);

// The entries of a good app directory `name` whose bin/korvane prints `version`.
std::vector<KVZipEntry> KVAppEntries(const std::string& name, const std::string& version);

void KVWriteZip(const std::string& path, const std::vector<KVZipEntry>& entries);

// Makes `directory` an installed bundle of `version` (bin/korvane is a shell script that
// prints it).
void KVMakeBundle(const std::string& directory, const std::string& version);

// The version the bundle at `directory` holds: its bin/korvane's text, or "" when none.
std::string KVBundleVersion(const std::string& directory);

// The names in `directory`, sorted.
std::vector<std::string> KVListDirectory(const std::string& directory);
