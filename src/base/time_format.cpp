#include "base/time_format.hpp"

#include <cstdio>
#include <ctime>

std::string KVLocalTimestamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string KVLocalTimestamp() {
    return KVLocalTimestamp(std::chrono::system_clock::now());
}

std::string KVUTCTimestamp(std::chrono::system_clock::time_point when) {
    const auto sinceEpoch = when.time_since_epoch();
    auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds);
    const std::time_t whole = seconds.count();
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis.count()));
    return text;
}

std::optional<std::chrono::system_clock::time_point> KVParseLocalISO(std::string_view text) {
    // Digits at every place but the separators, which must be exactly these.
    constexpr std::string_view kShape = "0000-00-00T00:00:00";
    if (text.size() != kShape.size()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    const auto number = [&](size_t at, size_t length) {
        int value = 0;
        for (size_t i = at; i < at + length; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    std::tm local{};
    local.tm_year = number(0, 4) - 1900;
    local.tm_mon = number(5, 2) - 1;
    local.tm_mday = number(8, 2);
    local.tm_hour = number(11, 2);
    local.tm_min = number(14, 2);
    local.tm_sec = number(17, 2);
    local.tm_isdst = -1;
    const std::tm asWritten = local;
    const std::time_t seconds = std::mktime(&local);
    // mktime carries an impossible field into the next one: such a date does not exist.
    // A time skipped by a clock change moves too.
    if (seconds == -1 || local.tm_year != asWritten.tm_year || local.tm_mon != asWritten.tm_mon ||
        local.tm_mday != asWritten.tm_mday || local.tm_hour != asWritten.tm_hour ||
        local.tm_min != asWritten.tm_min || local.tm_sec != asWritten.tm_sec) {
        return std::nullopt;
    }
    return std::chrono::system_clock::from_time_t(seconds);
}
