#pragma once

#include <cstdint>
#include <span>
#include <string>

// ASCII character classes and hexadecimal digits, independent of the C locale: log markers,
// tokens, URLs and hashes are ASCII whatever language the desktop speaks.

constexpr bool KVIsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
constexpr bool KVIsAsciiUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
constexpr bool KVIsAsciiLower(char c) {
    return c >= 'a' && c <= 'z';
}
constexpr bool KVIsAsciiAlpha(char c) {
    return KVIsAsciiUpper(c) || KVIsAsciiLower(c);
}
constexpr bool KVIsAsciiAlnum(char c) {
    return KVIsAsciiAlpha(c) || KVIsAsciiDigit(c);
}
constexpr char KVAsciiUpper(char c) {
    return KVIsAsciiLower(c) ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char KVAsciiLower(char c) {
    return KVIsAsciiUpper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}

// The value of a hex digit of either case, -1 for any other character.
constexpr int KVHexDigitValue(char c) {
    if (KVIsAsciiDigit(c)) {
        return c - '0';
    }
    const char lower = KVAsciiLower(c);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// The hex digit of the low four bits of `value`.
constexpr char KVHexDigit(unsigned value, bool upper = false) {
    return (upper ? "0123456789ABCDEF" : "0123456789abcdef")[value & 0x0fu];
}

// Appends two hex digits per byte, high digit first.
inline void KVAppendHex(std::string& out, std::span<const uint8_t> bytes, bool upper = false) {
    for (const uint8_t byte : bytes) {
        out += KVHexDigit(byte >> 4, upper);
        out += KVHexDigit(byte, upper);
    }
}

inline std::string KVHexEncode(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    KVAppendHex(out, bytes);
    return out;
}
