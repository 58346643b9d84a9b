#include "base/json.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view skipSpace(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

// The decimal number at the start of `text` after white space, or 0 when there is none.
double leadingNumber(std::string_view text) {
    std::string_view s = skipSpace(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    // Only plain decimal forms: from_chars would also take "inf", "nan" and hex digits.
    const bool startsNumber =
        !s.empty() && ((s.front() >= '0' && s.front() <= '9') ||
                       (s.front() == '.' && s.size() > 1 && s[1] >= '0' && s[1] <= '9'));
    if (!startsNumber) {
        return 0.0;
    }
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(s.data(), s.data() + s.size(), value,
                        std::chars_format::fixed | std::chars_format::scientific);
    if (ec == std::errc::result_out_of_range) {
        value = std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        return 0.0;
    }
    (void)end;
    return negative ? -value : value;
}

// The whole-number reading of a string: exact for integers that fit in 64 bits, saturated
// beyond, and cut toward zero for fractions.
int64_t leadingInteger(std::string_view text) {
    std::string_view s = skipSpace(text);
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
    }
    int64_t value = 0;
    const char* last = s.data() + s.size();
    const auto [end, ec] = std::from_chars(s.data(), last, value);
    if (ec == std::errc::invalid_argument) {
        return KVSaturatingInt64(leadingNumber(s)); // ".5" and the like
    }
    if (end != last && (*end == '.' || *end == 'e' || *end == 'E')) {
        return KVSaturatingInt64(leadingNumber(s));
    }
    if (ec == std::errc::result_out_of_range) {
        return s.front() == '-' ? std::numeric_limits<int64_t>::min()
                                : std::numeric_limits<int64_t>::max();
    }
    return value;
}

bool leadingTruth(std::string_view text) {
    std::string_view s = skipSpace(text);
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && s.front() == '0') {
        s.remove_prefix(1);
    }
    if (s.empty()) {
        return false;
    }
    const char c = s.front();
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

} // namespace

std::string KVJsonDump(const KVJson& value, int indent) {
    return value.dump(indent, ' ', false, KVJson::error_handler_t::replace);
}

const KVJson& KVJsonAt(const KVJson& object, std::string_view key) {
    static const KVJson null;
    if (!object.is_object()) {
        return null;
    }
    const auto it = object.find(key);
    return it == object.end() ? null : *it;
}

std::optional<std::string> KVJsonString(const KVJson& value) {
    if (!value.is_string()) {
        return std::nullopt;
    }
    return value.get<std::string>();
}

std::string KVJsonString(const KVJson& value, std::string_view fallback) {
    return value.is_string() ? value.get<std::string>() : std::string(fallback);
}

std::optional<std::string> KVJsonText(const KVJson& value) {
    switch (value.type()) {
    case KVJson::value_t::string:
        return value.get<std::string>();
    case KVJson::value_t::boolean:
        return value.get<bool>() ? "1" : "0";
    case KVJson::value_t::number_integer:
        return std::to_string(value.get<int64_t>());
    case KVJson::value_t::number_unsigned:
        return std::to_string(value.get<uint64_t>());
    case KVJson::value_t::number_float: {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15) {
            return std::to_string(static_cast<int64_t>(d)); // 3.0 reads "3", as Arena meant it
        }
        char text[32];
        const auto [end, ec] = std::to_chars(text, text + sizeof text, d);
        return ec == std::errc() ? std::string(text, end) : std::string();
    }
    default:
        return std::nullopt;
    }
}

bool KVJsonBool(const KVJson& value, bool fallback) {
    switch (value.type()) {
    case KVJson::value_t::boolean:
        return value.get<bool>();
    case KVJson::value_t::number_integer:
        return value.get<int64_t>() != 0;
    case KVJson::value_t::number_unsigned:
        return value.get<uint64_t>() != 0;
    case KVJson::value_t::number_float:
        return value.get<double>() != 0.0;
    case KVJson::value_t::string:
        return leadingTruth(value.get_ref<const std::string&>());
    default:
        return fallback;
    }
}

double KVJsonDouble(const KVJson& value, double fallback) {
    switch (value.type()) {
    case KVJson::value_t::boolean:
        return value.get<bool>() ? 1.0 : 0.0;
    case KVJson::value_t::number_integer:
    case KVJson::value_t::number_unsigned:
    case KVJson::value_t::number_float:
        return value.get<double>();
    case KVJson::value_t::string:
        return leadingNumber(value.get_ref<const std::string&>());
    default:
        return fallback;
    }
}

int64_t KVJsonInt64(const KVJson& value, int64_t fallback) {
    switch (value.type()) {
    case KVJson::value_t::boolean:
        return value.get<bool>() ? 1 : 0;
    case KVJson::value_t::number_integer:
        return value.get<int64_t>();
    case KVJson::value_t::number_unsigned: {
        const uint64_t u = value.get<uint64_t>();
        return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                   ? std::numeric_limits<int64_t>::max()
                   : static_cast<int64_t>(u);
    }
    case KVJson::value_t::number_float:
        return KVSaturatingInt64(value.get<double>());
    case KVJson::value_t::string:
        return leadingInteger(value.get_ref<const std::string&>());
    default:
        return fallback;
    }
}

int64_t KVSaturatingInt64(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    // 2^63 is exactly representable; anything at or above it saturates.
    constexpr double kLimit = 9223372036854775808.0;
    if (value >= kLimit) {
        return std::numeric_limits<int64_t>::max();
    }
    if (value <= -kLimit) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(value); // truncates toward zero
}
