#pragma once

#include "base/image.hpp"
#include "draft/card.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The perceptual hash that finds cards on screen by their art: 256 bits from the lowest 16 × 16
// frequencies of a 64 × 64 gray thumbnail, each set when its coefficient lies above the median.
// Thread-safe; each thread keeps its own scratch memory.

// The hash of a whole image. None when it is empty or too flat to say anything: a 160 × 160
// gray thumbnail whose standard deviation is below 30.
std::optional<KVArtHash> KVPHash(const KVImage& image);

// The hash of a card's art box: origin (8 %, 10 %) of the card, size 84 % × 52 %, rounded out to
// whole pixels. Card images from the image host and card crops from the screen both go here.
std::optional<KVArtHash> KVPHashOfArt(const KVImage& card);

// A hash as four machine words: a distance is then four XORs and population counts.
struct KVArtHashWords {
    uint64_t w[4];
    static KVArtHashWords of(const KVArtHash& hash) {
        KVArtHashWords words;
        std::memcpy(words.w, hash.data(), sizeof words.w);
        return words;
    }
};
static_assert(sizeof(KVArtHashWords) == sizeof(KVArtHash));

// How many bits differ, 0…256.
inline int KVPHashDistance(const KVArtHashWords& a, const KVArtHashWords& b) {
    return std::popcount(a.w[0] ^ b.w[0]) + std::popcount(a.w[1] ^ b.w[1]) +
           std::popcount(a.w[2] ^ b.w[2]) + std::popcount(a.w[3] ^ b.w[3]);
}

// How many bits differ, 0…256; 256 when either value is not 32 bytes long.
int KVPHashDistance(std::span<const uint8_t> a, std::span<const uint8_t> b);

// Two lower-case hex digits per byte, byte 0 first.
std::string KVPHashToHex(std::span<const uint8_t> hash);

// Reads what KVPHashToHex wrote: exactly 64 characters, read two at a time, upper or lower case.
// None when the length is wrong or a pair does not start with a hex digit; a pair whose second
// character is not a hex digit stands for its first digit alone ("5z" is 0x05).
std::optional<KVArtHash> KVPHashFromHex(std::string_view text);
