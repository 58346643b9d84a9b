#include "arenalog/log_tail.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/files.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kEuro = "\xE2\x82\xAC";

void writeWith(const std::string& path, const std::string& bytes, int flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | flags, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

void append(const std::string& path, const std::string& bytes) {
    writeWith(path, bytes, O_APPEND | O_CREAT);
}

// Arena starts a new log: written beside the old one, then renamed over it.
void replace(const std::string& path, const std::string& bytes) {
    KVWriteTestFile(path + ".next", bytes);
    ASSERT_EQ(::rename((path + ".next").c_str(), path.c_str()), 0);
}

// Moves the file's modification time a second on, as a later write would.
void touchLater(const std::string& path) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 1, st.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A main queue that keeps what is posted until the test runs it.
class HeldMainQueue : public KVQueue {
public:
    void async(Work work) override {
        std::lock_guard lock(mutex_);
        held_.push_back(std::move(work));
    }
    size_t count() {
        std::lock_guard lock(mutex_);
        return held_.size();
    }
    bool waitForPosts(size_t count = 1, double seconds = 10) {
        return waiter_->runUntil([&] { return this->count() >= count; }, seconds);
    }
    void runAll() {
        std::unique_lock lock(mutex_);
        std::vector<Work> work = std::exchange(held_, {});
        lock.unlock();
        for (auto& w : work) {
            w();
        }
    }

private:
    std::shared_ptr<KVRunLoop> waiter_ = KVRunLoop::create();
    std::mutex mutex_;
    std::vector<Work> held_;
};

// A polling tailer whose chunks wait on a held main queue until the test delivers them.
struct Following {
    struct Chunk {
        std::string text;
        bool first;
    };

    explicit Following(const std::string& path) : tail(path, main.get(), 0.005) {
        tail.start([this](const std::string& text, bool first) {
            chunks.push_back({text, first});
        });
    }
    // Waits for the next chunk and delivers it; false if none came.
    bool deliver() {
        const bool posted = main->waitForPosts();
        main->runAll();
        return posted;
    }

    std::shared_ptr<HeldMainQueue> main = std::make_shared<HeldMainQueue>();
    std::vector<Chunk> chunks;
    KVLogTail tail;
};

TEST(LogTail, ReadsEachAppendOnceAndOnlyWholeCharacters) {
    struct Step {
        std::optional<std::string> append; // nullopt: the file is left alone
        std::optional<std::string> read;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"missing, empty, grown, unchanged",
         {{std::nullopt, std::nullopt},
          {"", std::nullopt},
          {"one\n", "one\n"},
          {std::nullopt, std::nullopt},
          {"two\nthree\n", "two\nthree\n"}}},
        {"a character split across appends arrives whole",
         {{"price 5" + kEuro.substr(0, 2), "price 5"},
          {kEuro.substr(2) + " caf\xC3", kEuro + " caf"},
          {"\xA9\n", "\xC3\xA9\n"}}},
        {"only really invalid bytes are read as Latin-1",
         {{"caf\xE9 " + kEuro + " \xFF\n", "caf\xC3\xA9 " + kEuro + " \xC3\xBF\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KVTempDir dir;
        const std::string path = dir.file("Player.log");
        KVLogTail tail(path);
        for (const Step& step : c.steps) {
            if (step.append) {
                append(path, *step.append);
            }
            EXPECT_EQ(tail.readMore(), step.read);
        }
    }
}

TEST(LogTail, AFileChangedOtherThanByAppendingIsReadFromItsStart) {
    // The inode alone cannot tell: a file cut and written again within one poll, or a new file
    // given the old one's inode, looks like the same file grown. The old file ends in two bytes
    // of a character: an append completes it, any other change drops them.
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> change;
        std::optional<std::string> expected;
    };
    const std::string fresh = "a new session, longer than the old one\n";
    const std::vector<Case> cases = {
        {"cut and regrown past the old offset", [&](auto& p) { writeWith(p, fresh, O_TRUNC); },
         fresh},
        {"rewritten in place to the same length",
         [](auto& p) {
             writeWith(p, "new session!!\n", O_TRUNC);
             touchLater(p);
         },
         "new session!!\n"},
        {"replaced, perhaps on the same inode",
         [&](auto& p) {
             ASSERT_EQ(::unlink(p.c_str()), 0);
             append(p, fresh);
         },
         fresh},
        {"renamed over by a new log", [](auto& p) { replace(p, "\xAC b\n"); }, "\xC2\xAC b\n"},
        {"cut shorter than what was read", [](auto& p) { ASSERT_EQ(::truncate(p.c_str(), 4), 0); },
         "old "},
        {"appended to", [](auto& p) { append(p, "\xAC more\n"); }, kEuro + " more\n"},
        {"touched, unchanged", [](auto& p) { touchLater(p); }, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KVTempDir dir;
        const std::string path = dir.file("Player.log");
        KVLogTail tail(path);
        append(path, "old session\n\xE2\x82");
        ASSERT_EQ(tail.readMore(), "old session\n");
        c.change(path);
        EXPECT_EQ(tail.readMore(), c.expected);
        EXPECT_EQ(tail.readMore(), std::nullopt);
    }
}

TEST(LogTailIntegration, DeliversChunksOnTheMainQueueWithFirstOnce) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    std::string big;
    while (big.size() < (10u << 20)) {
        big += kEuro;
    }
    big += "tail\n"; // puts the backlog's start two bytes into a character
    KVWriteTestFile(path, big);
    const size_t offset = big.size() - KVLogTail::kBacklogBytes;
    ASSERT_NE(offset % 3, 0u);
    Following follow(path);
    ASSERT_TRUE(follow.deliver());
    append(path, "later\n");
    ASSERT_TRUE(follow.deliver());
    replace(path, "replacement\n"); // read from its start, and `first` stays false
    ASSERT_TRUE(follow.deliver());
    ASSERT_EQ(follow.chunks.size(), 3u);
    // The backlog skips the rest of the character it starts in: no mojibake, nothing else lost.
    EXPECT_TRUE(follow.chunks[0].text == big.substr(offset + (3 - offset % 3)));
    EXPECT_TRUE(follow.chunks[0].first);
    EXPECT_EQ(follow.chunks[1].text, "later\n");
    EXPECT_FALSE(follow.chunks[1].first);
    EXPECT_EQ(follow.chunks[2].text, "replacement\n");
    EXPECT_FALSE(follow.chunks[2].first);
}

TEST(LogTailIntegration, AHugeAppendWaitsWhileThePieceBeforeItIsUnhandled) {
    // One piece of at most 8 MiB waits on the main queue at a time, however far behind the
    // main thread is: memory stays bounded while a 256 MiB append is read.
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    append(path, "start\n");
    Following follow(path);
    ASSERT_TRUE(follow.deliver());
    ASSERT_EQ(::truncate(path.c_str(), 256 << 20), 0);
    for (int tick = 0; tick < 3; ++tick) {
        ASSERT_TRUE(follow.main->waitForPosts());
        // Ten polls or so: none reads on while its piece waits.
        EXPECT_FALSE(follow.main->waitForPosts(2, 0.05));
        follow.main->runAll();
    }
    follow.tail.stop();
    std::vector<size_t> pieces;
    for (const auto& c : follow.chunks) {
        pieces.push_back(c.text.size());
    }
    EXPECT_EQ(pieces, (std::vector<size_t>{6, KVLogTail::kMaxReadBytes, KVLogTail::kMaxReadBytes,
                                           KVLogTail::kMaxReadBytes}));
}

TEST(LogTailIntegration, NothingArrivesAfterStopNotEvenChunksAlreadyPosted) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    append(path, "posted before stop\n");
    auto main = std::make_shared<HeldMainQueue>();
    int delivered = 0;
    {
        KVLogTail tail(path, main.get(), 0.005);
        tail.start([&](const std::string&, bool) { ++delivered; });
        ASSERT_TRUE(main->waitForPosts());
        tail.stop();
        tail.stop(); // a second stop does nothing
        append(path, "written after stop\n");
        main->runAll();
        EXPECT_FALSE(main->waitForPosts(1, 0.05));
    }
    main->runAll();
    EXPECT_EQ(delivered, 0);
}

} // namespace
