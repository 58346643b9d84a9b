#pragma once

#include <chrono>
#include <string>

// "yyyy-MM-dd HH:mm:ss" in the user's time zone, 24-hour clock.
std::string KVLocalTimestamp(std::chrono::system_clock::time_point when);
std::string KVLocalTimestamp();
