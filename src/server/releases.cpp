#include "server/releases.hpp"

#include "base/files.hpp"
#include "base/json.hpp"

#include <sodium.h>

#include <cstdio>
#include <memory>

namespace {

std::vector<long long> parts(const std::string& version) {
    std::vector<long long> out;
    size_t i = 0;
    while (i < version.size() && out.size() < 4) {
        while (i < version.size() && (version[i] < '0' || version[i] > '9')) {
            ++i;
        }
        if (i == version.size()) {
            break;
        }
        long long value = 0;
        while (i < version.size() && version[i] >= '0' && version[i] <= '9') {
            value = std::min(value * 10 + (version[i] - '0'), 1000000000LL);
            ++i;
        }
        out.push_back(value);
    }
    return out.empty() ? std::vector<long long>{0} : out;
}

bool safeFileName(const std::string& name) {
    return !name.empty() && name.size() <= 200 && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos && name[0] != '.';
}

} // namespace

bool KVSReleases::isNewer(const std::string& a, const std::string& b) {
    const auto left = parts(a);
    const auto right = parts(b);
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const long long x = i < left.size() ? left[i] : 0;
        const long long y = i < right.size() ? right[i] : 0;
        if (x != y) {
            return x > y;
        }
    }
    return false;
}

std::optional<std::vector<KVSRelease>> KVSReleases::read(const std::string& dir, KVError* error) {
    const std::string path = KVJoinPath(dir, "releases.json");
    KVError failure;
    const auto text = KVReadFile(path, &failure, 4u << 20);
    const auto list = text ? KVJsonParse(*text, &failure) : std::nullopt;
    if (!list || !list->is_array()) {
        KVSetError(error, "KorvaneService", 1,
                   "cannot read " + path + ": " +
                       (list ? std::string("it must be a list of releases") : failure.message));
        return std::nullopt;
    }
    std::vector<KVSRelease> out;
    for (const KVJson& entry : *list) {
        KVSRelease release{KVJsonString(KVJsonAt(entry, "version"), ""),
                           KVJsonString(KVJsonAt(entry, "platform"), ""),
                           KVJsonString(KVJsonAt(entry, "arch"), ""),
                           KVJsonString(KVJsonAt(entry, "file"), ""),
                           KVJsonString(KVJsonAt(entry, "notes"), ""),
                           KVJsonBool(KVJsonAt(entry, "mandatory"), false)};
        if (!release.version.empty() && safeFileName(release.file) &&
            KVFileExists(KVJoinPath(dir, release.file))) {
            out.push_back(std::move(release));
        }
    }
    return out;
}

std::optional<KVSRelease> KVSReleases::latest(const std::vector<KVSRelease>& releases,
                                              const std::string& platform,
                                              const std::string& arch) {
    std::optional<KVSRelease> best;
    for (const KVSRelease& release : releases) {
        if (release.platform == platform && release.arch == arch &&
            (!best || isNewer(release.version, best->version))) {
            best = release;
        }
    }
    return best;
}

std::string KVSReleases::sha256(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return {};
    }
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    unsigned char buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        crypto_hash_sha256_update(&state, buffer, got);
    }
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, digest);
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}
