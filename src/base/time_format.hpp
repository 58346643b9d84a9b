#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// "yyyy-MM-dd HH:mm:ss" in the user's time zone, 24-hour clock.
std::string KVLocalTimestamp(std::chrono::system_clock::time_point when);
std::string KVLocalTimestamp();

// "yyyy-MM-ddTHH:mm:ss.SSSZ" in UTC, milliseconds cut (not rounded).
std::string KVUTCTimestamp(std::chrono::system_clock::time_point when);

// The moment "yyyy-MM-ddTHH:mm:ss" names in the user's time zone; nothing for other text or a
// date that does not exist (February 30th, hour 24).
std::optional<std::chrono::system_clock::time_point> KVParseLocalISO(std::string_view text);
