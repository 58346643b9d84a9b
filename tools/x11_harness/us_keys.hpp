#pragma once

#include <cstdint>
#include <cstring>

// Printable ASCII on a US keyboard, for programs that type through XTEST: the keysym of the key
// that makes a character, and whether Shift is held for it.

inline bool KVNeedsShift(char c) {
    return (c >= 'A' && c <= 'Z') || (c != 0 && std::strchr("~!@#$%^&*()_+{}|:\"<>?", c));
}

inline uint32_t KVKeysymOf(char c) {
    static const char* shifted = "~!@#$%^&*()_+{}|:\"<>?";
    static const char* plain = "`1234567890-=[]\\;',./";
    if (const char* at = std::strchr(shifted, c); at != nullptr && c != 0) {
        return static_cast<uint32_t>(plain[at - shifted]);
    }
    return static_cast<uint32_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}
