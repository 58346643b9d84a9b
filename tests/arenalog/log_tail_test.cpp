#include "arenalog/log_tail.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/files.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kEuro = "\xE2\x82\xAC";

void append(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// Writes `bytes` over the file in place (same inode), cutting it to their length.
void rewrite(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// Moves the file's modification time a second on, as a later write would.
void touchLater(const std::string& path) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 1, st.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

struct Chunk {
    std::string text;
    bool first;
};

// A polling tailer delivering into its own run loop, which the test drives.
class Following {
public:
    explicit Following(const std::string& path)
        : loop_(KVRunLoop::create()), tail_(path, loop_.get(), 0.005) {
        tail_.start([this](const std::string& text, bool first) {
            chunks_.push_back({text, first});
        });
    }

    // Waits until `count` chunks arrived in all.
    const std::vector<Chunk>& waitFor(size_t count) {
        EXPECT_TRUE(loop_->runUntil([&] { return chunks_.size() >= count; }, 10))
            << "only " << chunks_.size() << " chunks";
        return chunks_;
    }

    // The text delivered so far, joined.
    std::string text() const {
        std::string all;
        for (const Chunk& c : chunks_) {
            all += c.text;
        }
        return all;
    }

    // Waits until the joined text equals `expected`.
    bool waitForText(const std::string& expected) {
        return loop_->runUntil([&] { return text() == expected; }, 10);
    }

    KVLogTail& tail() { return tail_; }
    KVRunLoop& loop() { return *loop_; }

private:
    std::shared_ptr<KVRunLoop> loop_;
    std::vector<Chunk> chunks_;
    KVLogTail tail_;
};

TEST(LogTail, ReadsOnlyWhatWasAppendedSinceTheLastLook) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    KVLogTail tail(path);
    EXPECT_EQ(tail.readMore(), std::nullopt); // missing
    append(path, "");
    EXPECT_EQ(tail.readMore(), std::nullopt); // empty
    append(path, "[UnityCrossThreadLogger]one\n");
    EXPECT_EQ(tail.readMore(), "[UnityCrossThreadLogger]one\n");
    EXPECT_EQ(tail.readMore(), std::nullopt); // not grown
    append(path, "two\n");
    append(path, "three\n");
    EXPECT_EQ(tail.readMore(), "two\nthree\n");
}

TEST(LogTail, StartsAFileLargerThanTheBacklogAtItsLastSixMebibytes) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    std::string content;
    for (int i = 0; content.size() < (10u << 20); ++i) {
        content += "line " + std::to_string(i) + " " + std::string(90, 'x') + "\n";
    }
    KVWriteTestFile(path, content);
    KVLogTail tail(path);
    const auto backlog = tail.readMore();
    ASSERT_TRUE(backlog.has_value());
    EXPECT_EQ(backlog->size(), KVLogTail::kBacklogBytes);
    EXPECT_EQ(*backlog, content.substr(content.size() - KVLogTail::kBacklogBytes));
}

TEST(LogTail, ABacklogStartingInsideACharacterSkipsItsRemainder) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    std::string content;
    content.reserve(10u << 20);
    while (content.size() < (10u << 20)) {
        content += kEuro;
    }
    content += "tail\n"; // puts the 6 MiB boundary two bytes into a character
    KVWriteTestFile(path, content);
    const size_t offset = content.size() - KVLogTail::kBacklogBytes;
    ASSERT_NE((offset) % 3, 0u);
    KVLogTail tail(path);
    const auto backlog = tail.readMore();
    ASSERT_TRUE(backlog.has_value());
    const size_t nextCharacter = offset + (3 - offset % 3);
    EXPECT_EQ(*backlog, content.substr(nextCharacter)); // no mojibake, nothing else lost
}

TEST(LogTail, ACharacterSplitAcrossTwoAppendsArrivesWhole) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    KVLogTail tail(path);
    append(path, "price 5" + kEuro.substr(0, 2));
    EXPECT_EQ(tail.readMore(), "price 5");
    append(path, kEuro.substr(2) + " caf\xC3");
    EXPECT_EQ(tail.readMore(), kEuro + " caf");
    append(path, "\xA9\n");
    EXPECT_EQ(tail.readMore(), "\xC3\xA9\n");
}

TEST(LogTail, DecodesOnlyReallyInvalidBytesAsLatin1) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    KVLogTail tail(path);
    append(path, "caf\xE9 " + kEuro + " \xFF\n");
    EXPECT_EQ(tail.readMore(), "caf\xC3\xA9 " + kEuro + " \xC3\xBF\n");
}

TEST(LogTail, FollowsAReplacedOrShortenedFileFromItsBacklog) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    KVLogTail tail(path);
    append(path, "old session\n");
    EXPECT_EQ(tail.readMore(), "old session\n");

    // Arena starts a new log: written beside the old one, then renamed over it.
    KVWriteTestFile(dir.file("next.log"), "new session\n");
    ASSERT_EQ(::rename(dir.file("next.log").c_str(), path.c_str()), 0);
    EXPECT_EQ(tail.readMore(), "new session\n");

    append(path, "more\n");
    EXPECT_EQ(tail.readMore(), "more\n");
    ASSERT_EQ(::truncate(path.c_str(), 4), 0); // shorter than what was read
    EXPECT_EQ(tail.readMore(), "new ");
}

TEST(LogTail, AFileRewrittenSinceTheLastLookIsReadFromItsStart) {
    // The inode alone cannot tell: a file cut and written again within one poll, or a new file
    // given the old one's inode, looks like the same file grown.
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> change;
        std::optional<std::string> expected;
    };
    const std::string fresh = "a new session, longer than the old one\n";
    const std::vector<Case> cases = {
        {"cut and regrown past the old offset", [&](auto& p) { rewrite(p, fresh); }, fresh},
        {"rewritten in place to the same length",
         [](auto& p) {
             rewrite(p, "new session!\n");
             touchLater(p);
         },
         "new session!\n"},
        {"replaced, perhaps on the same inode",
         [&](auto& p) {
             ASSERT_EQ(::unlink(p.c_str()), 0);
             append(p, fresh);
         },
         fresh},
        {"appended to", [](auto& p) { append(p, "more\n"); }, "more\n"},
        {"touched, unchanged", [](auto& p) { touchLater(p); }, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KVTempDir dir;
        const std::string path = dir.file("Player.log");
        KVLogTail tail(path);
        append(path, "old session\n");
        ASSERT_EQ(tail.readMore(), "old session\n");
        c.change(path);
        EXPECT_EQ(tail.readMore(), c.expected);
        EXPECT_EQ(tail.readMore(), std::nullopt);
    }
}

TEST(LogTail, AHugeAppendIsReadInPiecesOfAtMostEightMebibytes) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    KVLogTail tail(path);
    append(path, "start\n");
    ASSERT_EQ(tail.readMore(), "start\n");
    // Grown by 20 MiB at once (a sparse file: no disk, and zeros are text).
    const size_t grown = 20u << 20;
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(6 + grown)), 0);
    std::vector<size_t> pieces;
    while (const auto text = tail.readMore()) {
        ASSERT_EQ(*text, std::string(text->size(), '\0'));
        pieces.push_back(text->size());
    }
    EXPECT_EQ(pieces, (std::vector<size_t>{KVLogTail::kMaxReadBytes, KVLogTail::kMaxReadBytes,
                                           grown - 2 * KVLogTail::kMaxReadBytes}));
    append(path, "end\n");
    EXPECT_EQ(tail.readMore(), "end\n");
}

TEST(LogTail, DropsAHeldBackPartialCharacterWhenTheFileIsReplaced) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    KVLogTail tail(path);
    append(path, "a\xE2\x82");
    EXPECT_EQ(tail.readMore(), "a");
    KVWriteTestFile(dir.file("next.log"), "\xAC"
                                          "b\n");
    ASSERT_EQ(::rename(dir.file("next.log").c_str(), path.c_str()), 0);
    // The new file's stray byte is its own; the old file's two bytes are gone.
    EXPECT_EQ(tail.readMore(), "\xC2\xAC"
                               "b\n");
}

TEST(LogTailIntegration, DeliversChunksInOrderOnTheMainQueueWithFirstOnce) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    std::string big;
    while (big.size() < (10u << 20)) {
        big += "backlog line\n";
    }
    KVWriteTestFile(path, big);
    Following follow(path);
    const auto& first = follow.waitFor(1);
    EXPECT_TRUE(first[0].first);
    EXPECT_EQ(first[0].text, big.substr(big.size() - KVLogTail::kBacklogBytes));

    append(path, "later one\n");
    follow.waitFor(2);
    append(path, "later two\n");
    const auto& chunks = follow.waitFor(3);
    EXPECT_FALSE(chunks[1].first);
    EXPECT_FALSE(chunks[2].first);
    EXPECT_EQ(chunks[1].text + chunks[2].text, "later one\nlater two\n");

    // A replacement is read from its start, and `first` stays false.
    KVWriteTestFile(dir.file("next.log"), "replacement\n");
    ASSERT_EQ(::rename(dir.file("next.log").c_str(), path.c_str()), 0);
    const auto& after = follow.waitFor(4);
    EXPECT_EQ(after[3].text, "replacement\n");
    EXPECT_FALSE(after[3].first);
}

TEST(LogTailIntegration, PicksUpAFileCreatedAfterTheStart) {
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    Following follow(path);
    EXPECT_FALSE(follow.loop().runUntil([] { return false; }, 0.05));
    append(path, "hello " + kEuro.substr(0, 1));
    append(path, kEuro.substr(1) + "\n");
    EXPECT_TRUE(follow.waitForText("hello " + kEuro + "\n"));
    EXPECT_TRUE(follow.waitFor(1)[0].first);
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
    void runAll() {
        std::vector<Work> work;
        {
            std::lock_guard lock(mutex_);
            work.swap(held_);
        }
        for (auto& w : work) {
            w();
        }
    }

private:
    std::mutex mutex_;
    std::vector<Work> held_;
};

TEST(LogTailIntegration, AHugeAppendWaitsWhileThePieceBeforeItIsUnhandled) {
    // One piece of at most 8 MiB waits on the main queue at a time, however far behind the
    // main thread is: memory stays bounded while a 256 MiB append is read.
    KVTempDir dir;
    const std::string path = dir.file("Player.log");
    append(path, "start\n");
    auto main = std::make_shared<HeldMainQueue>();
    std::vector<size_t> pieces;
    KVLogTail tail(path, main.get(), 0.005);
    tail.start([&](const std::string& text, bool) { pieces.push_back(text.size()); });
    auto waiter = KVRunLoop::create();
    ASSERT_TRUE(waiter->runUntil([&] { return main->count() > 0; }, 10));
    main->runAll();
    ASSERT_EQ(::truncate(path.c_str(), 256 << 20), 0);
    for (int tick = 0; tick < 3; ++tick) {
        ASSERT_TRUE(waiter->runUntil([&] { return main->count() > 0; }, 10));
        // Ten polls or so: none reads on while its piece waits.
        EXPECT_FALSE(waiter->runUntil([&] { return main->count() > 1; }, 0.05));
        main->runAll();
        ASSERT_LE(pieces.back(), KVLogTail::kMaxReadBytes);
    }
    tail.stop();
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
        auto waiter = KVRunLoop::create();
        ASSERT_TRUE(waiter->runUntil([&] { return main->count() > 0; }, 10));
        tail.stop();
        tail.stop(); // a second stop does nothing
        append(path, "written after stop\n");
        main->runAll();
        EXPECT_FALSE(waiter->runUntil([&] { return main->count() > 0; }, 0.05));
    }
    main->runAll();
    EXPECT_EQ(delivered, 0);
}

} // namespace
