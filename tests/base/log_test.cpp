#include "base/config.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "support/test_environment.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using ::testing::MatchesRegex;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST(DiagnosticLog, WritesWholeStampedLinesToStandardErrorAndTheFile) {
    KVScopedEnvironment env;
    const std::string longText(5000, 'x');
    testing::internal::CaptureStderr();
    KVLog("catalog: %s (%d)", "no connection", 7);
    KVLog("%s", longText.c_str());
    KVLog("trailing\n");
    const std::string echoed = testing::internal::GetCapturedStderr();
    KVLogFlush();
    EXPECT_EQ(KVReadFile(KVLogPath()), echoed);
    EXPECT_EQ(KVLogPath(), KVConfig::dataDir() + "/korvane.log");
    const auto got = lines(echoed);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_THAT(got[0], MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}  "
                                     "catalog: no connection \\(7\\)"));
    EXPECT_EQ(got[1].substr(21), longText);
    EXPECT_EQ(got[2].substr(21), "trailing");
    EXPECT_EQ(got[3], ""); // the message's own newline, then the line's
}

TEST(DiagnosticLog, EmptiesTheFileOnlyOnceItPassesFourMebibytes) {
    KVTempDir dir;
    const std::string path = dir.file("korvane.log");
    KVWriteTestFile(path, std::string(kKVLogMaxBytes, 'a'));
    KVLogAppendToFile(path, "next\n");
    EXPECT_EQ(KVReadFile(path)->size(), static_cast<size_t>(kKVLogMaxBytes) + 5);

    KVWriteTestFile(path, std::string(kKVLogMaxBytes + 1, 'a'));
    KVLogAppendToFile(path, "fresh\n");
    EXPECT_EQ(KVReadFile(path), "fresh\n");
}

TEST(DiagnosticLog, NeverWaitsOnAFifoInTheLogsPlace) {
    // Opening a FIFO for writing blocks until a reader comes; the log queue would stop.
    KVTempDir dir;
    const std::string path = dir.file("korvane.log");
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    KVLogAppendToFile(path, "lost\n");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)); // left as it is

    ASSERT_EQ(::unlink(path.c_str()), 0);
    KVWriteTestFile(dir.file("elsewhere.log"), "");
    ASSERT_EQ(::symlink("elsewhere.log", path.c_str()), 0);
    KVLogAppendToFile(path, "kept\n");
    EXPECT_EQ(KVReadFile(dir.file("elsewhere.log")), "kept\n"); // a link to a file is used
}

TEST(DiagnosticLog, RecreatesADeletedFileAndDirectory) {
    KVScopedEnvironment env;
    testing::internal::CaptureStderr();
    KVLog("one");
    KVLogFlush();
    ASSERT_EQ(::unlink(KVLogPath().c_str()), 0);
    KVLog("two");
    KVLogFlush();
    EXPECT_EQ(lines(*KVReadFile(KVLogPath())).size(), 1u);
    ASSERT_EQ(::unlink(KVLogPath().c_str()), 0);
    ASSERT_EQ(::rmdir(KVConfig::cacheDir().c_str()), 0);
    ASSERT_EQ(::rmdir(KVConfig::dataDir().c_str()), 0);
    KVLog("three");
    KVLogFlush();
    testing::internal::GetCapturedStderr();
    EXPECT_THAT(*KVReadFile(KVLogPath()), ::testing::EndsWith("  three\n"));
}

TEST(DiagnosticLogIntegration, KeepsEachThreadsLinesInOrder) {
    KVScopedEnvironment env;
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                KVLog("thread %d line %d", t, i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    KVLogFlush();
    testing::internal::GetCapturedStderr();
    const auto got = lines(*KVReadFile(KVLogPath()));
    ASSERT_EQ(got.size(), 800u);
    int next[4] = {0, 0, 0, 0};
    for (const std::string& line : got) {
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(line.c_str() + 21, "thread %d line %d", &t, &i), 2) << line;
        EXPECT_EQ(i, next[t]++);
    }
}

} // namespace
