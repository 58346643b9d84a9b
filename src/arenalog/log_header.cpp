#include "arenalog/log_header.hpp"

#include "base/ascii.hpp"
#include "base/utf8.hpp"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isMethodCharacter(char c) {
    return KVIsAsciiAlnum(c) || c == '_' || c == '.';
}

// Reads a run of digits at `pos` whose length lies in [least, most] and is followed by
// `next`; advances past `next`.
bool digitsThen(std::string_view text, size_t& pos, size_t least, size_t most, char next) {
    size_t n = 0;
    while (pos + n < text.size() && KVIsAsciiDigit(text[pos + n])) {
        ++n;
    }
    if (n < least || n > most || pos + n >= text.size() || text[pos + n] != next) {
        return false;
    }
    pos += n + 1;
    return true;
}

size_t skipSpace(std::string_view text, size_t pos) {
    while (pos < text.size() && isSpace(text[pos])) {
        ++pos;
    }
    return pos;
}

} // namespace

size_t KVArenaTimestampLength(std::string_view text) {
    size_t pos = 0;
    if (!digitsThen(text, pos, 1, 2, '/') || !digitsThen(text, pos, 1, 2, '/') ||
        !digitsThen(text, pos, 4, 4, ' ') || !digitsThen(text, pos, 1, 2, ':') ||
        !digitsThen(text, pos, 2, 2, ':') || !digitsThen(text, pos, 2, 2, ' ')) {
        return 0;
    }
    if (pos + 2 > text.size() || (text[pos] != 'A' && text[pos] != 'P') || text[pos + 1] != 'M') {
        return 0;
    }
    return pos + 2;
}

KVLogHeader KVMatchLogHeader(std::string_view window) {
    // With a time stamp first, then without one: the stamp is optional.
    const size_t stamp = KVArenaTimestampLength(window);
    for (const size_t start : {stamp > 0 ? skipSpace(window, stamp) : size_t{0}, size_t{0}}) {
        const std::string_view arrow = window.substr(start, 3);
        if (arrow != "==>" && arrow != "<==") {
            continue;
        }
        const size_t methodStart = skipSpace(window, start + 3);
        size_t methodEnd = methodStart;
        while (methodEnd < window.size() && isMethodCharacter(window[methodEnd])) {
            ++methodEnd;
        }
        if (methodEnd == methodStart) {
            continue;
        }
        KVLogHeader header;
        header.timestamp = start > 0 ? window.substr(0, stamp) : std::string_view();
        header.direction = arrow;
        header.method = window.substr(methodStart, methodEnd - methodStart);
        return header;
    }
    return {};
}

KVLogHeader KVMatchEntryHeader(std::string_view entry) {
    constexpr size_t kWindowUnits = 200;
    return KVMatchLogHeader(entry.substr(0, KVUtf8OffsetOfUnits(entry, kWindowUnits)));
}
