#include "base/log.hpp"

#include "base/config.hpp"
#include "base/dispatch/serial_queue.hpp"
#include "base/files.hpp"
#include "base/time_format.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

KVSerialQueue& logQueue() {
    // Created once, never destroyed: lines may be logged while statics are torn down.
    static auto* queue = new std::shared_ptr<KVSerialQueue>(KVSerialQueue::create("kv.log"));
    return **queue;
}

std::string formatMessage(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) {
        return format; // an encoding error: keep the format text rather than nothing
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        return std::string(small, static_cast<size_t>(needed));
    }
    std::string message(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(message.data(), message.size(), format, args);
    message.resize(static_cast<size_t>(needed));
    return message;
}

} // namespace

std::string KVLogPath() {
    return KVJoinPath(KVConfig::dataDir(), "korvane.log");
}

void KVLogAppendToFile(const std::string& path, const std::string& line) {
    // Non-blocking, so that a FIFO in the log's place is never waited on; only a regular file
    // gets the line.
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(path.c_str(), kFlags, 0644);
    if (fd < 0 && errno == ENOENT) {
        KVConfig::ensureDirs(); // the data directory itself may have been removed
        fd = ::open(path.c_str(), kFlags, 0644);
    }
    if (fd < 0) {
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    if (st.st_size > kKVLogMaxBytes && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return;
    }
    KVWriteAll(fd, line); // a full disk or closed stream loses the line, nothing more
    ::close(fd);
}

void KVLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = KVLocalTimestamp() + "  " + formatMessage(format, args) + "\n";
    va_end(args);
    KVWriteAll(STDERR_FILENO, line);
    logQueue().async(
        [path = KVLogPath(), line = std::move(line)] { KVLogAppendToFile(path, line); });
}

void KVLogFlush() {
    logQueue().sync([] {});
}
