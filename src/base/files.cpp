#include "base/files.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kTempInfix = ".tmp.";
constexpr size_t kTempSuffixLength = 6;
constexpr std::string_view kTempAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// As many links as the kernel follows in one path lookup.
constexpr int kMaxLinkHops = 40;

bool fail(KVError* error, int code, const std::string& what, const std::string& path) {
    KVSetError(error, "KorvaneFile", code, what + " " + path + ": " + std::strerror(code));
    return false;
}

bool notRegular(KVError* error, const std::string& path) {
    KVSetError(error, "KorvaneFile", EINVAL, "Not a regular file: " + path);
    return false;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a write to `path` lands: symbolic links followed to their last target, which need not
// exist yet. A link that leads to something other than a regular file (a device, a FIFO, a
// loop of links) is replaced itself: the rename must never replace what it leads to. Whatever
// else is at `path` itself is only a name of ours and is replaced (a directory makes the
// rename fail).
bool resolveTarget(const std::string& path, std::string& target, KVError* error) {
    target = path;
    for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0) {
            // A new file; a missing directory is reported when the temporary is created.
            return errno == ENOENT || fail(error, errno, "Could not look at", target);
        }
        if (!S_ISLNK(st.st_mode)) {
            if (hops > 0 && !S_ISREG(st.st_mode)) {
                target = path;
            }
            return true;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0) {
            return fail(error, errno, "Could not follow the link", target);
        }
        link.resize(static_cast<size_t>(n));
        target =
            !link.empty() && link.front() == '/' ? link : KVJoinPath(directoryOf(target), link);
    }
    target = path;
    return true;
}

// Six letters or digits that differ between calls and between processes.
std::string temporarySuffix() {
    static std::atomic<uint64_t> counter{0};
    static const uint64_t seed =
        static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    uint64_t bits = seed + counter.fetch_add(1) * 0xBF58476D1CE4E5B9ull; // splitmix64
    bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9ull;
    bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBull;
    bits ^= bits >> 31;
    std::string suffix;
    for (size_t i = 0; i < kTempSuffixLength; ++i) {
        suffix += kTempAlphabet[bits % kTempAlphabet.size()];
        bits /= kTempAlphabet.size();
    }
    return suffix;
}

// True for names KVWriteFileAtomically gives its temporaries.
bool isTemporaryName(std::string_view name) {
    if (name.size() <= kTempInfix.size() + kTempSuffixLength) {
        return false;
    }
    const std::string_view suffix = name.substr(name.size() - kTempSuffixLength);
    const std::string_view infix =
        name.substr(name.size() - kTempSuffixLength - kTempInfix.size(), kTempInfix.size());
    return infix == kTempInfix && suffix.find_first_not_of(kTempAlphabet) == std::string::npos;
}

// Makes a finished rename durable; the file is in place whatever this gives.
void syncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool KVWriteFileAtomically(const std::string& path, std::string_view bytes, KVError* error,
                           KVFileAccess access) {
    std::string target;
    if (!resolveTarget(path, target, error)) {
        return false;
    }
    const bool ownerOnly = access == KVFileAccess::ownerOnly;
    // Created with 0666 so that the umask applies, as to any new file.
    const mode_t mode = ownerOnly ? 0600 : 0666;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = target + std::string(kTempInfix) + temporarySuffix();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        return fail(error, errno, "Could not create a temporary file for", path);
    }
    const bool written =
        (!ownerOnly || ::fchmod(fd, 0600) == 0) && KVWriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        const int code = written ? errno : writeErrno;
        ::unlink(temp.c_str());
        return fail(error, code, "Could not write", path);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        return fail(error, code, "Could not replace", path);
    }
    syncDirectory(directoryOf(target));
    return true;
}

void KVRemoveStaleTemporaries(const std::string& directory, std::chrono::seconds olderThan) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return;
    }
    const time_t cutoff = ::time(nullptr) - static_cast<time_t>(olderThan.count());
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name)) {
            continue;
        }
        const std::string path = KVJoinPath(directory, entry->d_name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < cutoff) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(dir);
}

std::optional<std::string> KVReadFile(const std::string& path, KVError* error, size_t maxBytes) {
    // Non-blocking, so that opening a FIFO returns at once; fstat then refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        fail(error, errno, "Could not open", path);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        notRegular(error, path);
        return std::nullopt;
    }
    std::string bytes;
    if (st.st_size > 0) {
        bytes.reserve(std::min(static_cast<size_t>(st.st_size), maxBytes));
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int code = errno;
            ::close(fd);
            fail(error, code, "Could not read", path);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        if (bytes.size() + static_cast<size_t>(n) > maxBytes) {
            ::close(fd);
            fail(error, EFBIG, "Too large:", path);
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

bool KVMakeDirectories(const std::string& path, KVError* error) {
    if (path.empty()) {
        return fail(error, ENOENT, "Could not create directory", path);
    }
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            return fail(error, errno, "Could not create directory", prefix);
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return fail(error, ENOTDIR, "Not a directory:", path);
    }
    return true;
}

bool KVFileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string KVJoinPath(std::string_view base, std::string_view component) {
    std::string joined(base);
    if (!joined.empty() && joined.back() != '/') {
        joined += '/';
    }
    while (!component.empty() && component.front() == '/') {
        component.remove_prefix(1);
    }
    joined += component;
    return joined;
}

bool KVWriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false; // a full disk or a closed descriptor
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}
