#pragma once

#include "base/error.hpp"

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Errors here are in domain "KorvaneFile" with the errno value as code.

// Writes `bytes` to `path` so that readers see the old file or the new one, never a part:
// a temporary file unique to this call in the same directory, flushed to disk, given `mode`,
// then renamed over the target. The previous file is untouched on failure.
bool KVWriteFileAtomically(const std::string& path, std::string_view bytes,
                           KVError* error = nullptr, mode_t mode = 0644);

// The whole file; nothing (and an error) when it can't be read or exceeds `maxBytes`.
std::optional<std::string> KVReadFile(const std::string& path, KVError* error = nullptr,
                                      size_t maxBytes = std::numeric_limits<size_t>::max());

// Creates `path` and every missing parent directory (mode 0755 before the umask).
bool KVMakeDirectories(const std::string& path, KVError* error = nullptr);

bool KVFileExists(const std::string& path);

// "a" + "/" + "b", without doubling a slash.
std::string KVJoinPath(std::string_view base, std::string_view component);
