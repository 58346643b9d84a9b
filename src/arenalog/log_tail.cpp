#include "arenalog/log_tail.hpp"

#include "base/dispatch/run_loop.hpp"
#include "base/dispatch/serial_queue.hpp"
#include "base/dispatch/timer.hpp"
#include "base/utf8.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct KVLogTail::Core {
    const std::string path;
    KVQueue& main;
    const double interval;

    // Touched only on the polling queue (or by a test driving readMore by hand).
    uint64_t offset = 0;
    uint64_t inode = 0;
    bool attached = false;
    bool first = true;
    // The size and modification time at the last look, and the last bytes read before
    // `offset`: a file that changed otherwise than by growing no longer holds them.
    uint64_t seenSize = 0;
    timespec seenTime{};
    std::string anchor;
    // Alive while the last chunk posted waits on the main queue: no more is read meanwhile.
    std::weak_ptr<void> inFlight;
    // The start of a character whose remaining bytes the writer has not appended yet.
    std::string heldBack;
    // A backlog that starts mid-file may start mid-character.
    bool skipOrphanBytes = false;

    // Owned by the thread that calls start and stop (the main thread).
    std::shared_ptr<KVSerialQueue> queue;
    std::shared_ptr<KVTimer> timer;
    std::shared_ptr<std::atomic<bool>> stopped;

    Core(std::string p, KVQueue& m, double i) : path(std::move(p)), main(m), interval(i) {}

    std::optional<std::string> readMore();
    bool stillHoldsAnchor(int fd) const;
    void attach(uint64_t size, uint64_t fileInode);
    static void tick(const std::weak_ptr<Core>& weak, const Handler& handler,
                     const std::shared_ptr<std::atomic<bool>>& stopped);
};

namespace {

// Reads [offset, offset + length) of `fd`; nothing when any read fails.
std::optional<std::string> readRange(int fd, uint64_t offset, uint64_t length) {
    std::string bytes(length, '\0');
    size_t done = 0;
    while (done < length) {
        const ssize_t n =
            ::pread(fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break; // shortened since we looked: the next step notices
        }
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Enough of the last text read to tell a rewritten file from a grown one.
constexpr size_t kAnchorBytes = 256;

} // namespace

bool KVLogTail::Core::stillHoldsAnchor(int fd) const {
    if (anchor.empty()) {
        return true;
    }
    const auto bytes = readRange(fd, offset - anchor.size(), anchor.size());
    return bytes && *bytes == anchor;
}

void KVLogTail::Core::attach(uint64_t size, uint64_t fileInode) {
    offset = size >= kBacklogBytes ? size - kBacklogBytes : 0;
    inode = fileInode;
    attached = true;
    anchor.clear();
    heldBack.clear(); // it belonged to the file we left
    skipOrphanBytes = offset > 0;
}

std::optional<std::string> KVLogTail::Core::readMore() {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    const auto fileInode = static_cast<uint64_t>(st.st_ino);
    const bool unchanged =
        attached && fileInode == inode && size == seenSize && sameTime(st.st_mtim, seenTime);
    if (unchanged && size <= offset) {
        return std::nullopt; // the usual poll: one stat, nothing to read
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    // The name may have moved to another file since stat: look at the one opened.
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || static_cast<uint64_t>(opened.st_ino) != fileInode) {
        ::close(fd);
        return std::nullopt;
    }
    const auto openedSize = static_cast<uint64_t>(opened.st_size);
    // A new inode, a shorter file, or one whose text before the offset is not what was read
    // there (cut and regrown within one poll, or a new file on a reused inode) is a new log.
    if (!attached || fileInode != inode || openedSize < offset ||
        (!unchanged && !stillHoldsAnchor(fd))) {
        attach(openedSize, fileInode);
    }
    seenSize = openedSize;
    seenTime = opened.st_mtim;
    std::optional<std::string> bytes;
    if (openedSize > offset) {
        bytes = readRange(fd, offset, std::min(openedSize - offset, kMaxReadBytes));
    }
    ::close(fd);
    if (!bytes || bytes->empty()) {
        return std::nullopt;
    }
    offset += bytes->size();
    if (bytes->size() >= kAnchorBytes) {
        anchor.assign(*bytes, bytes->size() - kAnchorBytes, kAnchorBytes);
    } else {
        anchor += *bytes;
        anchor.erase(0, anchor.size() > kAnchorBytes ? anchor.size() - kAnchorBytes : 0);
    }

    std::string data = heldBack.empty() ? std::move(*bytes) : heldBack + *bytes;
    heldBack.clear();
    size_t start = 0;
    if (skipOrphanBytes) {
        start = KVUtf8OrphanContinuations(data);
        skipOrphanBytes = false;
    }
    std::string_view text(data);
    text.remove_prefix(start);
    const size_t incomplete = KVUtf8IncompleteTail(text);
    heldBack.assign(text.substr(text.size() - incomplete));
    text.remove_suffix(incomplete);
    if (text.empty()) {
        return std::nullopt;
    }
    return KVDecodeUtf8OrLatin1(text);
}

void KVLogTail::Core::tick(const std::weak_ptr<Core>& weak, const Handler& handler,
                           const std::shared_ptr<std::atomic<bool>>& stopped) {
    const auto core = weak.lock();
    if (!core || stopped->load() || !core->inFlight.expired()) {
        return;
    }
    auto text = core->readMore();
    if (!text || text->empty()) {
        return;
    }
    const bool wasFirst = core->first;
    core->first = false;
    // The token dies with the posted work, run or dropped; until then the tailer waits, so a
    // main thread far behind holds one piece of the file, not all of it.
    auto token = std::make_shared<char>();
    core->inFlight = token;
    core->main.async([handler, stopped, text = std::move(*text), wasFirst, token] {
        if (!stopped->load()) {
            handler(text, wasFirst);
        }
    });
}

KVLogTail::KVLogTail(std::string path, KVQueue* mainQueue, double interval)
    : core_(std::make_shared<Core>(std::move(path), mainQueue ? *mainQueue : KVMain(), interval)) {}

KVLogTail::~KVLogTail() {
    stop();
}

void KVLogTail::start(Handler handler) {
    KV_CHECK_SEQUENCE(sequence_);
    stop();
    if (!core_->queue) {
        core_->queue = KVSerialQueue::create("kv.logtail");
    }
    auto stopped = std::make_shared<std::atomic<bool>>(false);
    core_->stopped = stopped;
    core_->timer = KVTimer::start(*core_->queue, 0, core_->interval, 0.05,
                                  [weak = std::weak_ptr<Core>(core_), handler = std::move(handler),
                                   stopped] { Core::tick(weak, handler, stopped); });
}

void KVLogTail::stop() {
    KV_CHECK_SEQUENCE(sequence_);
    if (core_->stopped) {
        core_->stopped->store(true);
    }
    if (core_->timer) {
        core_->timer->cancel();
        core_->timer.reset();
    }
}

std::optional<std::string> KVLogTail::readMore() {
    return core_->readMore();
}

const std::string& KVLogTail::path() const {
    return core_->path;
}
