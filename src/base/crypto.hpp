#pragma once

#include "base/error.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Random values and message digests, as lowercase hexadecimal. OpenSSL stays behind these: the
// layers above never call it themselves.

// `bytes` bytes from the operating system's cryptographic generator, as 2 × `bytes` hex digits:
// for values an outsider must not guess (the sign-in state, session ids). "" when `bytes` is 0
// or the generator fails; callers take "" as "no value".
std::string KVRandomHex(size_t bytes);

// SHA-256 of `data`: 64 hex digits.
std::string KVSha256Hex(std::string_view data);

// SHA-256 of a regular file's contents, read in pieces so a large download costs no memory.
// Nothing, and a "KorvaneFile" error (errno as code), when the file can't be read or is not a
// regular file: a FIFO or a device is refused without reading from it.
std::optional<std::string> KVSha256HexOfFile(const std::string& path, KVError* error = nullptr);

// SHA-1 of `data`: 40 hex digits. For short stable names only, never for checking downloads.
std::string KVSha1Hex(std::string_view data);
