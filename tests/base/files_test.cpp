#include "base/files.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <thread>

namespace {

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    while (const dirent* e = d ? ::readdir(d) : nullptr) {
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") {
            names.emplace_back(e->d_name);
        }
    }
    if (d) {
        ::closedir(d);
    }
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

TEST(AtomicWrite, ReplacesTheTargetWithExactBytesAndMode) {
    KVTempDir dir;
    const std::string target = dir.file("settings.json");
    ASSERT_TRUE(KVWriteFileAtomically(target, "old"));
    const std::string binary("a\0b\xff", 4);
    ASSERT_TRUE(KVWriteFileAtomically(target, binary, nullptr, 0600));
    EXPECT_EQ(KVReadFile(target), binary);
    EXPECT_EQ(modeOf(target), 0600u);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"settings.json"});
}

TEST(AtomicWrite, FailureLeavesNoTemporaryAndReportsTheError) {
    KVTempDir dir;
    KVError error;
    EXPECT_FALSE(KVWriteFileAtomically(dir.file("missing/x.json"), "data", &error));
    EXPECT_EQ(error.domain, "KorvaneFile");
    EXPECT_EQ(error.code, ENOENT);

    // A directory in the target's place makes the final rename fail after the write.
    ASSERT_TRUE(KVMakeDirectories(dir.file("taken/inner")));
    EXPECT_FALSE(KVWriteFileAtomically(dir.file("taken"), "data", &error));
    EXPECT_NE(error.message.find("taken"), std::string::npos);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"taken"});
}

TEST(AtomicWriteIntegration, ConcurrentWritersNeverShareATemporaryFile) {
    KVTempDir dir;
    const std::string target = dir.file("queue.json");
    const std::string a(100000, 'a');
    const std::string b(150000, 'b');
    std::atomic<int> failures{0};
    auto writer = [&](const std::string& content) {
        for (int i = 0; i < 100; ++i) {
            if (!KVWriteFileAtomically(target, content)) {
                ++failures;
            }
            const auto seen = KVReadFile(target);
            if (!seen || (*seen != a && *seen != b)) {
                ++failures; // a torn or mixed file
            }
        }
    };
    std::thread first(writer, a);
    std::thread second(writer, b);
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"queue.json"});
}

TEST(ReadFile, ReportsMissingAndOversizedFiles) {
    KVTempDir dir;
    KVError error;
    EXPECT_FALSE(KVReadFile(dir.file("none"), &error).has_value());
    EXPECT_EQ(error.code, ENOENT);
    KVWriteTestFile(dir.file("big"), std::string(70000, 'x'));
    EXPECT_FALSE(KVReadFile(dir.file("big"), &error, 69999).has_value());
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_EQ(KVReadFile(dir.file("big"), nullptr, 70000)->size(), 70000u);
}

TEST(Directories, CreatesParentsAndRefusesAFileInTheWay) {
    KVTempDir dir;
    EXPECT_TRUE(KVMakeDirectories(dir.file("a/b/c")));
    EXPECT_TRUE(KVMakeDirectories(dir.file("a/b/c"))); // again: nothing to do
    KVWriteTestFile(dir.file("file"), "x");
    KVError error;
    EXPECT_FALSE(KVMakeDirectories(dir.file("file/sub"), &error));
    EXPECT_FALSE(KVMakeDirectories(dir.file("file"), &error));
    EXPECT_EQ(KVJoinPath("/a/", "/b"), "/a/b");
    EXPECT_EQ(KVJoinPath("/a", "b/c"), "/a/b/c");
}

} // namespace
