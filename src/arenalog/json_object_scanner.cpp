#include "arenalog/json_object_scanner.hpp"

#include "base/cpu_features.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KV_SCAN_AVX2 1
#endif

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

// Where the scan stands between bytes.
struct ScanState {
    bool inString;
    bool escape;
    size_t depth;
};

// Scans [p, end) a byte at a time. Returns the object's closing brace (`closed` set) or `end`.
const char* scanBytes(const char* p, const char* end, ScanState& s, bool& closed) {
    // The state in locals: the text is chars, which may alias it, so it would otherwise be read
    // and written back for every byte.
    bool inString = s.inString;
    bool escape = s.escape;
    size_t depth = s.depth;
    for (; p < end; ++p) {
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
                    closed = true;
                    return p;
                } else {
                    --depth;
                }
            }
            if (p == end) {
                break;
            }
        }
    }
    s = {inString, escape, depth};
    return end;
}

#ifdef KV_SCAN_AVX2
// A block with more quotes, backslashes and braces than this is read a byte at a time.
constexpr int kMaxBlockStops = 12;

// Bit i set where byte i of the block is `c`.
[[gnu::target("avx2")]] inline uint32_t bytesEqual(__m256i bytes, char c) {
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c))));
}

// Scans whole blocks of 32 bytes from `p` while they fit before `end`: each block's quotes,
// backslashes and braces are found at once, and the scan then steps from one to the next, so a
// long string or a run of plain text costs a few instructions per block. Returns the closing
// brace of the object, or where the blocks ended (the rest is shorter than a block).
[[gnu::target("avx2")]] const char* scanBlocks(const char* p, const char* end, ScanState& s,
                                               bool& closed) {
    for (; end - p >= 32; p += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const uint32_t quotes = bytesEqual(bytes, '"');
        const uint32_t inStringStops = quotes | bytesEqual(bytes, '\\');
        const uint32_t outsideStops = quotes | bytesEqual(bytes, '{') | bytesEqual(bytes, '}');
        // Where stops crowd (small objects back to back, escaped quotes), stepping from one to
        // the next costs more than reading every byte.
        if (std::popcount(inStringStops | outsideStops) > kMaxBlockStops) {
            const char* stop = scanBytes(p, p + 32, s, closed);
            if (closed) {
                return stop;
            }
            continue;
        }
        int from = 0; // the first byte of the block still to read
        if (s.escape) {
            s.escape = false;
            from = 1; // the escaped byte
        }
        while (from < 32) {
            const uint32_t stops = (s.inString ? inStringStops : outsideStops) & (~0u << from);
            if (stops == 0) {
                break;
            }
            const int at = std::countr_zero(stops);
            const char c = p[at];
            from = at + 1;
            if (s.inString) {
                if (c == '\\') {
                    // The escaped byte is skipped here, or at the next block's start.
                    s.escape = from == 32;
                    ++from;
                } else {
                    s.inString = false;
                }
            } else if (c == '"') {
                s.inString = true;
            } else if (c == '{') {
                ++s.depth;
            } else if (s.depth == 1) {
                closed = true;
                return p + at;
            } else {
                --s.depth;
            }
        }
    }
    return p;
}
#endif

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
    ScanState state{inString_, escape_, depth_};
    bool closed = false;
    const char* p = data + pos;
    const char* end = data + text.size();
#ifdef KV_SCAN_AVX2
    if (KVHasAvx2()) {
        p = scanBlocks(p, end, state, closed);
    }
#endif
    if (!closed) {
        p = scanBytes(p, end, state, closed);
    }
    if (closed) {
        end_ = static_cast<size_t>(p - data) + 1;
        scanned_ = end_;
        return true;
    }
    inString_ = state.inString;
    escape_ = state.escape;
    depth_ = state.depth;
    scanned_ = text.size();
    return false;
}
