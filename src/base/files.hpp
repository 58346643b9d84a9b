#pragma once

#include "base/error.hpp"

#include <chrono>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Errors here are in domain "KorvaneFile" with the errno value as code.

// Who may read a file the program writes.
enum class KVFileAccess {
    shared,    // read-write for the user, readable by others as the user's umask allows
    ownerOnly, // exactly 0600, whatever the umask: the sign-in file holds an access token
};

// Writes `bytes` to `path` so that readers see the old file or the new one, never a part:
// a temporary file unique to this call ("<name>.tmp.<6 letters or digits>") beside the
// target, flushed to disk, then renamed over the target and the directory flushed too. A
// symbolic link at `path` is followed and its final target replaced, so the link stays; a
// link that leads to something other than a regular file (a device, a FIFO) is replaced
// itself, never what it leads to.
// The previous file is untouched on failure.
bool KVWriteFileAtomically(const std::string& path, std::string_view bytes,
                           KVError* error = nullptr, KVFileAccess access = KVFileAccess::shared);

// Removes the temporaries that KVWriteFileAtomically left in `directory` when it was cut
// short (a crash, a kill, a power loss): regular files named like them and not modified for
// `olderThan`, so that a write still going on is never disturbed. Not recursive.
void KVRemoveStaleTemporaries(const std::string& directory, std::chrono::seconds olderThan);

// The whole file; nothing (and an error) when it can't be read, is not a regular file or
// exceeds `maxBytes`. Never blocks on a FIFO or reads a device.
std::optional<std::string> KVReadFile(const std::string& path, KVError* error = nullptr,
                                      size_t maxBytes = std::numeric_limits<size_t>::max());

// Creates `path` and every missing parent directory (mode 0755 before the umask).
bool KVMakeDirectories(const std::string& path, KVError* error = nullptr);

bool KVFileExists(const std::string& path);

// "a" + "/" + "b", without doubling a slash.
std::string KVJoinPath(std::string_view base, std::string_view component);

// Writes every byte to `fd`, resuming after interruptions and short writes. False when the
// descriptor refuses more (a full disk, a closed pipe).
bool KVWriteAll(int fd, std::string_view bytes);
