#include "base/files.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(KVError* error, int code, const std::string& what, const std::string& path) {
    KVSetError(error, "KorvaneFile", code, what + " " + path + ": " + std::strerror(code));
    return false;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

bool KVWriteFileAtomically(const std::string& path, std::string_view bytes, KVError* error,
                           mode_t mode) {
    std::string temp = path + ".tmp.XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(error, errno, "Could not create a temporary file for", path);
    }
    const bool written = writeAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        const int code = written ? errno : writeErrno;
        ::unlink(temp.c_str());
        return fail(error, code, "Could not write", path);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        return fail(error, code, "Could not replace", path);
    }
    return true;
}

std::optional<std::string> KVReadFile(const std::string& path, KVError* error, size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(error, errno, "Could not open", path);
        return std::nullopt;
    }
    std::string bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
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
