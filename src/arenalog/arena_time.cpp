#include "arenalog/arena_time.hpp"

#include "base/ascii.hpp"

#include "arenalog/log_header.hpp"

#include <cstdio>

namespace {

// Reads the digits at `pos` up to the next non-digit; advances past the following separator.
int number(std::string_view text, size_t& pos) {
    int value = 0;
    while (pos < text.size() && KVIsAsciiDigit(text[pos])) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    ++pos;
    return value;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

} // namespace

std::string KVIsoFromArena(std::string_view arenaTime) {
    if (arenaTime.empty() || KVArenaTimestampLength(arenaTime) != arenaTime.size()) {
        return std::string(arenaTime);
    }
    size_t pos = 0;
    const int month = number(arenaTime, pos);
    const int day = number(arenaTime, pos);
    const int year = number(arenaTime, pos);
    int hour = number(arenaTime, pos);
    const int minute = number(arenaTime, pos);
    const int second = number(arenaTime, pos);
    const bool pm = arenaTime[pos] == 'P';
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour < 1 ||
        hour > 12 || minute > 59 || second > 59) {
        return std::string(arenaTime);
    }
    hour = hour % 12 + (pm ? 12 : 0); // 12 AM is midnight, 12 PM is noon
    char iso[80];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute,
                  second);
    return iso;
}
