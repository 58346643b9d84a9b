#include "base/crypto.hpp"
#include "base/ascii.hpp"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr size_t kChunkBytes = size_t{1} << 16; // read at a time when hashing a file

std::string hex(const unsigned char* bytes, size_t length) {
    return KVHexEncode(std::span<const uint8_t>(bytes, length));
}

// "" only when OpenSSL itself fails (out of memory).
std::string digestHex(std::string_view data, const EVP_MD* kind) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, kind, nullptr) != 1) {
        return "";
    }
    return hex(digest, length);
}

struct ContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool fileFailure(KVError* error, int code, const std::string& what, const std::string& path) {
    KVSetError(error, "KorvaneFile", code, what + " " + path + ": " + std::strerror(code));
    return false;
}

} // namespace

std::string KVRandomHex(size_t bytes) {
    if (bytes == 0 || bytes > INT_MAX) {
        return "";
    }
    std::vector<unsigned char> raw(bytes);
    if (RAND_bytes(raw.data(), static_cast<int>(bytes)) != 1) {
        return "";
    }
    return hex(raw.data(), raw.size());
}

std::string KVSha256Hex(std::string_view data) {
    return digestHex(data, EVP_sha256());
}

std::string KVSha1Hex(std::string_view data) {
    return digestHex(data, EVP_sha1());
}

std::optional<std::string> KVSha256HexOfFile(const std::string& path, KVError* error) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        fileFailure(error, errno, "Could not open", path);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        fileFailure(error, errno, "Could not examine", path);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        KVSetError(error, "KorvaneFile", EINVAL, "Not a regular file: " + path);
        return std::nullopt;
    }
    const std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        fileFailure(error, ENOMEM, "Could not start a digest of", path);
        return std::nullopt;
    }
    auto buffer = std::make_unique<unsigned char[]>(kChunkBytes);
    while (true) {
        const ssize_t n = ::read(file.get(), buffer.get(), kChunkBytes);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fileFailure(error, errno, "Could not read", path);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        if (EVP_DigestUpdate(context.get(), buffer.get(), static_cast<size_t>(n)) != 1) {
            fileFailure(error, ENOMEM, "Could not digest", path);
            return std::nullopt;
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        fileFailure(error, ENOMEM, "Could not digest", path);
        return std::nullopt;
    }
    return hex(digest, length);
}
