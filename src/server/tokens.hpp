#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Random values and the one-way form tokens are stored in. sodium_init() must have run.

// `bytes` random bytes as lower-case hex.
std::string KVSRandomHex(size_t bytes);

// A new access token: "kor_" followed by 64 lower-case hex digits (32 random bytes).
std::string KVSNewToken();

// SHA-256 of the token, as hex: what the store keeps, so a copy of the database signs no one in.
std::string KVSTokenHash(std::string_view token);
