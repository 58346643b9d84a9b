#include "server/tokens.hpp"

#include <sodium.h>

#include <vector>

namespace {

std::string hex(const unsigned char* bytes, size_t size) {
    std::string out(size * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes, size);
    out.pop_back();
    return out;
}

} // namespace

std::string KVSRandomHex(size_t bytes) {
    std::vector<unsigned char> buffer(bytes);
    randombytes_buf(buffer.data(), buffer.size());
    return hex(buffer.data(), buffer.size());
}

std::string KVSNewToken() {
    return "kor_" + KVSRandomHex(32);
}

std::string KVSTokenHash(std::string_view token) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(token.data()), token.size());
    return hex(digest, sizeof digest);
}
