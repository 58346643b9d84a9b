#include "arenalog/json_object_scanner.hpp"

#include <array>
#include <cstring>

namespace {

// The bytes that end a run the scanner can skip: in a string a quote or a backslash, outside
// one a quote or a brace.
constexpr std::array<bool, 256> stops(const char* bytes) {
    std::array<bool, 256> table{};
    for (const char* b = bytes; *b != '\0'; ++b) {
        table[static_cast<unsigned char>(*b)] = true;
    }
    return table;
}
constexpr std::array<bool, 256> kStringStops = stops("\"\\");
constexpr std::array<bool, 256> kOutsideStops = stops("\"{}");

const char* skipTo(const char* p, const char* end, const std::array<bool, 256>& stop) {
    while (p < end && !stop[static_cast<unsigned char>(*p)]) {
        ++p;
    }
    return p;
}

} // namespace

bool KVJSONObjectScanner::scan(std::string_view text) {
    if (complete() || scanned_ >= text.size()) {
        return complete();
    }
    const char* data = text.data();
    size_t pos = scanned_;
    if (begin_ == npos) {
        const void* brace = std::memchr(data + pos, '{', text.size() - pos);
        if (brace == nullptr) {
            scanned_ = text.size();
            return false;
        }
        begin_ = static_cast<size_t>(static_cast<const char*>(brace) - data);
        pos = begin_;
    }
    // The state in locals: the text is chars, which may alias the members, so they would
    // otherwise be read and written back for every byte.
    bool inString = inString_;
    bool escape = escape_;
    size_t depth = depth_;
    const char* end = data + text.size();
    for (const char* p = data + pos; p < end; ++p) {
        if (inString) {
            if (escape) {
                escape = false;
                continue;
            }
            p = skipTo(p, end, kStringStops);
            if (p == end) {
                break;
            }
            escape = *p == '\\';
            inString = escape;
        } else {
            // Outside strings every stop is handled here without leaving the loop: some entries
            // are hundreds of thousands of braces in a row.
            for (; p < end; ++p) {
                const char c = *p;
                if (!kOutsideStops[static_cast<unsigned char>(c)]) {
                    continue;
                }
                if (c == '"') {
                    inString = true;
                    break;
                }
                if (c == '{') {
                    ++depth;
                } else if (depth == 1) {
                    end_ = static_cast<size_t>(p - data) + 1;
                    scanned_ = end_;
                    return true;
                } else {
                    --depth;
                }
            }
            if (p == end) {
                break;
            }
        }
    }
    inString_ = inString;
    escape_ = escape;
    depth_ = depth;
    scanned_ = text.size();
    return false;
}
