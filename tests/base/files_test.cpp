#include "base/files.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename());
    }
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

void setAge(const std::string& path, std::chrono::seconds age) {
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - age);
}

TEST(AtomicWrite, KeepsTheUmaskButTheSignInFileIsAlwaysPrivate) {
    const struct {
        mode_t umask;
        KVFileAccess access;
        mode_t expected;
    } cases[] = {
        {022, KVFileAccess::shared, 0644},     {002, KVFileAccess::shared, 0664},
        {077, KVFileAccess::shared, 0600},     {027, KVFileAccess::shared, 0640},
        {000, KVFileAccess::ownerOnly, 0600},  {022, KVFileAccess::ownerOnly, 0600},
        {0277, KVFileAccess::ownerOnly, 0600},
    };
    KVTempDir dir;
    for (const auto& c : cases) {
        const std::string target = dir.file("file");
        ::unlink(target.c_str());
        for (const char* content : {"new", "replaced"}) {
            const mode_t previous = ::umask(c.umask);
            const bool written = KVWriteFileAtomically(target, content, nullptr, c.access);
            ::umask(previous);
            ASSERT_TRUE(written);
            EXPECT_EQ(modeOf(target), c.expected) << std::oct << "umask " << c.umask << content;
        }
    }
}

TEST(AtomicWrite, WritesThroughASymlinkBesideItsTarget) {
    KVTempDir dir;
    ASSERT_TRUE(KVMakeDirectories(dir.file("dotfiles")));
    ASSERT_TRUE(KVMakeDirectories(dir.file("data")));
    KVWriteTestFile(dir.file("dotfiles/config.json"), "old");
    // data/config.json -> data/link -> ../dotfiles/config.json (relative, two hops)
    ASSERT_EQ(::symlink("../dotfiles/config.json", dir.file("data/link").c_str()), 0);
    ASSERT_EQ(::symlink("link", dir.file("data/config.json").c_str()), 0);
    ASSERT_TRUE(KVWriteFileAtomically(dir.file("data/config.json"), "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("data/config.json")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("data/link")));
    EXPECT_EQ(KVReadFile(dir.file("dotfiles/config.json")), "new");
    EXPECT_EQ(entries(dir.file("dotfiles")), std::vector<std::string>{"config.json"});

    // A link whose target does not exist yet creates the target.
    ASSERT_EQ(::symlink(dir.file("dotfiles/auth.json").c_str(), dir.file("data/auth.json").c_str()),
              0);
    ASSERT_TRUE(
        KVWriteFileAtomically(dir.file("data/auth.json"), "{}", nullptr, KVFileAccess::ownerOnly));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("data/auth.json")));
    EXPECT_EQ(KVReadFile(dir.file("dotfiles/auth.json")), "{}");
    EXPECT_EQ(modeOf(dir.file("dotfiles/auth.json")), 0600u);
}

TEST(AtomicWrite, ReplacesALinkToAFifoOrFolderButNeverWhatItLeadsTo) {
    // The same holds for devices; a test run as root must not risk replacing one.
    KVTempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    ASSERT_TRUE(KVMakeDirectories(dir.file("folder")));
    ASSERT_EQ(::symlink("fifo", dir.file("config.json").c_str()), 0);
    ASSERT_EQ(::symlink("folder", dir.file("auth.json").c_str()), 0);
    ASSERT_EQ(::symlink("loop", dir.file("loop").c_str()), 0);
    for (const char* name : {"config.json", "auth.json", "loop"}) {
        KVError error;
        ASSERT_TRUE(KVWriteFileAtomically(dir.file(name), "data", &error)) << error.message;
        EXPECT_FALSE(std::filesystem::is_symlink(dir.file(name))) << name;
        EXPECT_EQ(KVReadFile(dir.file(name)), "data") << name;
    }
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(entries(dir.file("folder")).empty());
    EXPECT_EQ(entries(dir.path()).size(), 5u); // no temporary left behind

    // A FIFO planted at the path itself is only a name: the write takes its place.
    ASSERT_TRUE(KVWriteFileAtomically(dir.file("fifo"), "data"));
    EXPECT_EQ(KVReadFile(dir.file("fifo")), "data");
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
    // Exact bytes, a NUL and a high byte among them.
    std::string a(100000, 'a');
    a[500] = '\0';
    std::string b(150000, 'b');
    b[7] = '\xff';
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

TEST(ReadFile, RefusesMissingOversizedAndIrregularFilesWithoutBlocking) {
    // A FIFO would block the open until a writer came; a device never ends.
    KVTempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.file("zero").c_str()), 0);
    ASSERT_EQ(::symlink("fifo", dir.file("to-fifo").c_str()), 0);
    ASSERT_TRUE(KVMakeDirectories(dir.file("folder")));
    KVWriteTestFile(dir.file("big"), std::string(70000, 'x'));
    const struct {
        const char* name;
        long code;
    } cases[] = {{"zero", EINVAL},    {"folder", EINVAL}, {"fifo", EINVAL},
                 {"to-fifo", EINVAL}, {"none", ENOENT},   {"big", EFBIG}};
    for (const auto& c : cases) {
        KVError error;
        EXPECT_FALSE(KVReadFile(dir.file(c.name), &error, 69999).has_value()) << c.name;
        EXPECT_EQ(error.code, c.code) << c.name << ": " << error.message;
    }
    EXPECT_EQ(KVReadFile(dir.file("big"), nullptr, 70000)->size(), 70000u);
    ASSERT_EQ(::symlink("big", dir.file("to-big").c_str()), 0);
    EXPECT_EQ(KVReadFile(dir.file("to-big"))->size(), 70000u); // a link to a file is read as usual
}

TEST(Directories, CreatesParentsAndRefusesAFileInTheWay) {
    KVTempDir dir;
    EXPECT_TRUE(KVMakeDirectories(dir.file("a/b/c")));
    EXPECT_TRUE(KVMakeDirectories(dir.file("a/b/c"))); // again: nothing to do
    KVWriteTestFile(dir.file("file"), "x");
    KVError error;
    EXPECT_FALSE(KVMakeDirectories(dir.file("file/sub"), &error));
    EXPECT_FALSE(KVMakeDirectories(dir.file("file"), &error));
}

TEST(StaleTemporaries, RemovesOnlyOldLeftoversOfOurOwnWrites) {
    KVTempDir dir;
    const struct {
        const char* name;
        bool old;
        bool removed;
    } cases[] = {
        {"config.json.tmp.Ab3xZ9", true, true},        // a write cut short long ago
        {"scryfall3_SOS.json.tmp.000000", true, true}, //
        {"config.json.tmp.Qw12er", false, false},      // a write that may still be going on
        {"notes.tmp.txt", true, false},                // not our pattern
        {"config.json.tmp.Ab3x-9", true, false},       //
        {"config.json.tmp.Ab3xZ9.bak", true, false},   //
        {".tmp.Ab3xZ9", true, false},                  // no target name before it
        {"config.json", true, false},                  //
    };
    for (const auto& c : cases) {
        KVWriteTestFile(dir.file(c.name), "x");
        if (c.old) {
            setAge(dir.file(c.name), std::chrono::hours(1));
        }
    }
    ASSERT_TRUE(KVMakeDirectories(dir.file("folder.tmp.abcdef")));
    setAge(dir.file("folder.tmp.abcdef"), std::chrono::hours(1));

    KVRemoveStaleTemporaries(dir.path(), std::chrono::minutes(10));
    for (const auto& c : cases) {
        EXPECT_EQ(KVFileExists(dir.file(c.name)), !c.removed) << c.name;
    }
    EXPECT_TRUE(KVFileExists(dir.file("folder.tmp.abcdef")));                // only files are ours
    KVRemoveStaleTemporaries(dir.file("missing"), std::chrono::minutes(10)); // nothing to do
}

} // namespace
