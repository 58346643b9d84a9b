#include "arenalog/log_values.hpp"

#include "base/ascii.hpp"
#include "base/utf8.hpp"

#include <limits>

namespace {

bool isSpaceOrLineEnd(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The decimal integer at the start of `s` after white space, with an optional sign; nothing
// when there are no digits. Saturates.
std::optional<int64_t> leadingInteger(std::string_view s) {
    while (!s.empty() && isSpaceOrLineEnd(s.front())) {
        s.remove_prefix(1);
    }
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || !KVIsAsciiDigit(s.front())) {
        return std::nullopt;
    }
    uint64_t magnitude = 0;
    bool overflow = false;
    for (size_t i = 0; i < s.size() && KVIsAsciiDigit(s[i]); ++i) {
        const auto digit = static_cast<uint64_t>(s[i] - '0');
        if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            overflow = true;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        return overflow || magnitude > kMax ? std::numeric_limits<int64_t>::min()
                                            : -static_cast<int64_t>(magnitude);
    }
    return overflow || magnitude > kMax ? std::numeric_limits<int64_t>::max()
                                        : static_cast<int64_t>(magnitude);
}

std::vector<int64_t> idsFromText(const std::string& text) {
    if (text.find(',') == std::string::npos && !leadingInteger(KVTrimSpacesAndTabs(text))) {
        const auto loaded = KVLoadsMaybe(KVJson(text));
        return loaded ? KVIds(*loaded) : std::vector<int64_t>{};
    }
    std::vector<int64_t> ids;
    std::string_view rest(text);
    for (;;) {
        const size_t comma = rest.find(',');
        const std::string_view piece = KVTrimSpacesAndTabs(rest.substr(0, comma));
        bool digitsOnly = !piece.empty();
        for (const char c : piece) {
            digitsOnly = digitsOnly && KVIsAsciiDigit(c);
        }
        if (digitsOnly) {
            ids.push_back(*leadingInteger(piece));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    return ids;
}

} // namespace

std::optional<KVJson> KVLoadsMaybe(const KVJson& value) {
    if (value.is_object() || value.is_array()) {
        return value;
    }
    if (!value.is_string()) {
        return std::nullopt;
    }
    auto parsed = KVJsonParse(value.get_ref<const std::string&>());
    if (parsed && (parsed->is_object() || parsed->is_array())) {
        return parsed;
    }
    return std::nullopt;
}

std::optional<std::string> KVStr(const KVJson& value) {
    return KVJsonText(value);
}

int64_t KVInt(const KVJson& value) {
    if (value.is_string()) {
        return leadingInteger(value.get_ref<const std::string&>()).value_or(0);
    }
    if (value.is_number() || value.is_boolean()) {
        return KVJsonInt64(value, 0);
    }
    return 0;
}

std::vector<int64_t> KVIds(const KVJson& value) {
    switch (value.type()) {
    case KVJson::value_t::string:
        return idsFromText(value.get_ref<const std::string&>());
    case KVJson::value_t::array: {
        std::vector<int64_t> ids;
        ids.reserve(value.size());
        for (const KVJson& element : value) {
            if (element.is_number() || element.is_boolean()) {
                ids.push_back(KVJsonInt64(element, 0));
            } else if (element.is_string()) {
                if (const int64_t id = KVInt(element); id != 0) {
                    ids.push_back(id);
                }
            }
        }
        return ids;
    }
    case KVJson::value_t::number_integer:
    case KVJson::value_t::number_unsigned:
    case KVJson::value_t::number_float:
    case KVJson::value_t::boolean:
        return {KVJsonInt64(value, 0)};
    default:
        return {};
    }
}
