#pragma once

#include "base/error.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

// What an update archive may unpack to at most. An archive that goes beyond is refused
// whole, however honest its first entries look.
struct KVZipLimits {
    uint64_t maxBytes = uint64_t{1} << 30;
    size_t maxEntries = 20000;
};

// Why an archive entry may not be unpacked, or "" when it may: a name that is absolute or
// climbs with "..", anything but a file, a directory or a symbolic link (devices, FIFOs,
// sockets, hard links), and a link that is not a relative path staying inside the app it
// belongs to. `type` is the entry's S_IFMT bits; `symlink` and `hardlink` are "" for
// entries that are neither.
std::string KVUpdateEntryRefusal(std::string_view path, mode_t type, std::string_view symlink,
                                 std::string_view hardlink);

// Unpacks the zip archive `archivePath` into the existing directory `directory`, which only we
// can write. Any refusal (not a zip, a damaged one, an entry above, the limits) fails the whole
// archive with code 1 "The update could not be unpacked." and its reason in the diagnostic
// log; what was written so far stays in `directory` for the caller to remove.
bool KVUnpackUpdateZip(const std::string& archivePath, const std::string& directory,
                       const KVZipLimits& limits, KVError* error);
