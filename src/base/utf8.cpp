#include "base/utf8.hpp"
#include "base/ascii.hpp"

#include <cstdint>
#include <cstring>

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080u;
constexpr int kIncomplete = -1;
constexpr int kInvalid = 0;

// The length of the valid sequence at the start of `s`, kIncomplete when `s` ends inside a
// sequence that is valid so far, or kInvalid.
int sequenceAt(std::string_view s) {
    const auto byte = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    int length = 0;
    unsigned char low = 0x80;  // bounds of the second byte rule out overlong forms,
    unsigned char high = 0xBF; // surrogates and code points past U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return kInvalid;
    }
    for (int i = 1; i < length; ++i) {
        if (static_cast<size_t>(i) >= s.size()) {
            return kIncomplete;
        }
        const unsigned char c = byte(static_cast<size_t>(i));
        const unsigned char lo = i == 1 ? low : 0x80;
        const unsigned char hi = i == 1 ? high : 0xBF;
        if (c < lo || c > hi) {
            return kInvalid;
        }
    }
    return length;
}

} // namespace

size_t KVUtf16Length(std::string_view utf8) {
    size_t units = 0;
    for (size_t i = 0; i < utf8.size();) {
        // Runs of plain ASCII, eight bytes at a time: one unit each. Log entries are mostly that.
        uint64_t eight = 0;
        while (i + sizeof eight <= utf8.size() &&
               (std::memcpy(&eight, utf8.data() + i, sizeof eight), (eight & kHighBits) == 0)) {
            i += sizeof eight;
            units += sizeof eight;
        }
        if (i == utf8.size()) {
            break;
        }
        const int n = sequenceAt(utf8.substr(i));
        const size_t step = n > 0 ? static_cast<size_t>(n) : 1;
        units += n == 4 ? 2 : 1;
        i += step;
    }
    return units;
}

size_t KVUtf8OffsetOfUnits(std::string_view utf8, size_t units) {
    size_t used = 0;
    size_t i = 0;
    while (i < utf8.size()) {
        const int n = sequenceAt(utf8.substr(i));
        const size_t cost = n == 4 ? 2 : 1;
        if (used + cost > units) {
            break;
        }
        used += cost;
        i += n > 0 ? static_cast<size_t>(n) : 1;
    }
    return i;
}

bool KVIsValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const int n = sequenceAt(bytes.substr(i));
        if (n <= 0) {
            return false;
        }
        i += static_cast<size_t>(n);
    }
    return true;
}

size_t KVUtf8IncompleteTail(std::string_view bytes) {
    // A sequence is at most 4 bytes, so only the last 3 can start an unfinished one.
    const size_t window = bytes.size() < 3 ? bytes.size() : 3;
    for (size_t back = 1; back <= window; ++back) {
        const size_t start = bytes.size() - back;
        const auto lead = static_cast<unsigned char>(bytes[start]);
        if ((lead & 0xC0) == 0x80) {
            continue; // a continuation byte: its lead is further back
        }
        return sequenceAt(bytes.substr(start)) == kIncomplete ? back : 0;
    }
    return 0;
}

size_t KVUtf8OrphanContinuations(std::string_view bytes) {
    size_t n = 0;
    while (n < bytes.size() && n < 3 && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80) {
        ++n;
    }
    return n;
}

std::string KVDecodeUtf8OrLatin1(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        // Fast path over runs of ASCII, which is nearly all of a game log.
        size_t run = i;
        while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80) {
            ++run;
        }
        text.append(bytes.data() + i, run - i);
        i = run;
        if (i >= bytes.size()) {
            break;
        }
        const int n = sequenceAt(bytes.substr(i));
        if (n > 0) {
            text.append(bytes.data() + i, static_cast<size_t>(n));
            i += static_cast<size_t>(n);
        } else {
            const auto c = static_cast<unsigned char>(bytes[i]);
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return text;
}

namespace {

bool isSpaceCodePoint(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// The code point of the valid sequence of `length` bytes at `s`.
char32_t codePoint(std::string_view s, int length) {
    const auto byte = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
    switch (length) {
    case 1:
        return byte(0);
    case 2:
        return static_cast<char32_t>(((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F));
    case 3:
        return static_cast<char32_t>(((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) |
                                     (byte(2) & 0x3F));
    default:
        return static_cast<char32_t>(((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) |
                                     ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F));
    }
}

// The length of the white-space character starting at `s`, or 0.
size_t spaceAt(std::string_view s) {
    const int n = sequenceAt(s);
    return n > 0 && isSpaceCodePoint(codePoint(s, n)) ? static_cast<size_t>(n) : 0;
}

} // namespace

std::string_view KVTrimmed(std::string_view text) {
    while (!text.empty()) {
        const size_t n = spaceAt(text);
        if (n == 0) {
            break;
        }
        text.remove_prefix(n);
    }
    while (!text.empty()) {
        // Step back to the start of the last character (at most 3 continuation bytes).
        size_t start = text.size() - 1;
        while (start > 0 && text.size() - start < 4 &&
               (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            --start;
        }
        const size_t n = spaceAt(text.substr(start));
        if (n == 0 || start + n != text.size()) {
            break;
        }
        text.remove_suffix(n);
    }
    return text;
}

std::string KVLowercase(std::string_view text) {
    std::string lower;
    KVLowercaseInto(text, &lower);
    return lower;
}

void KVLowercaseInto(std::string_view text, std::string* out) {
    std::string& lower = *out;
    lower.assign(text);
    for (size_t i = 0; i < lower.size(); ++i) {
        const auto c = static_cast<unsigned char>(lower[i]);
        if (KVIsAsciiUpper(static_cast<char>(c))) {
            lower[i] = KVAsciiLower(static_cast<char>(c));
        } else if (c == 0xC3 && i + 1 < lower.size()) {
            // U+00C0..U+00DE are C3 80..C3 9E; U+00D7 (C3 97) is the multiplication sign.
            const auto next = static_cast<unsigned char>(lower[i + 1]);
            if (next >= 0x80 && next <= 0x9E && next != 0x97) {
                lower[i + 1] = static_cast<char>(next + 0x20);
            }
            ++i;
        }
    }
}

std::string_view KVTrimSpacesAndTabs(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}
