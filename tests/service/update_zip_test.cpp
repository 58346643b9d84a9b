#include "base/files.hpp"
#include "service/api.hpp"
#include "service/update_fixtures.hpp"
#include "service/updater.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

namespace {

TEST(UpdateEntryRules, OnlyPlainNamesAndLinksInsideTheirAppPass) {
    struct Case {
        const char* path;
        mode_t type;
        const char* symlink;
        const char* hardlink;
        bool allowed;
    };
    const Case cases[] = {
        {"App/bin/korvane", S_IFREG, "", "", true},
        {"./App/lib/", S_IFDIR, "", "", true},
        {"App/lib/libkv.so", S_IFLNK, "libkv.so.1", "", true},
        {"App/bin/libkv.so", S_IFLNK, "../lib/libkv.so", "", true},
        {"App/a/b/up", S_IFLNK, "../../lib", "", true},
        {"../../x", S_IFREG, "", "", false},
        {"App/../../x", S_IFREG, "", "", false},
        {"/tmp/x", S_IFREG, "", "", false},
        {"", S_IFREG, "", "", false},
        {"App/etc", S_IFLNK, "/etc", "", false},
        {"App/up", S_IFLNK, "../Other/bin", "", false},
        {"App/a/b/up", S_IFLNK, "../../..", "", false},
        {"App/empty", S_IFLNK, "", "", false},
        {"Link", S_IFLNK, "App", "", false}, // a top-level link could pose as an app
        // Through another link, "l1/.." may land above where it reads: climbing stops at names.
        {"App/a/b/c/l2", S_IFLNK, "l1/../..", "", false},
        {"App/h", S_IFREG, "", "/etc/passwd", false},
        {"App/h", S_IFREG, "", "App/bin/korvane", false},
        {"App/pipe", S_IFIFO, "", "", false},
        {"App/tty", S_IFCHR, "", "", false},
        {"App/disk", S_IFBLK, "", "", false},
        {"App/socket", S_IFSOCK, "", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KVUpdateEntryRefusal(c.path, c.type, c.symlink, c.hardlink).empty(), c.allowed)
            << c.path << " -> " << c.symlink << c.hardlink;
    }
}

// An installed bundle in a temporary directory, with an outside directory that no archive may
// reach.
class UpdateInstallIntegration : public ::testing::Test {
protected:
    UpdateInstallIntegration() {
        KVMakeBundle(bundle, "0.1.38");
        KVWriteTestFile(outside + "/secret", "keep");
        options.bundle = bundle;
        options.start = [this](const std::string& executable, KVError*) {
            started.push_back(executable);
            return true;
        };
    }

    bool install(const std::vector<KVZipEntry>& entries, KVError* error) {
        KVWriteZip(archive, entries);
        return installArchive(error);
    }
    bool installArchive(KVError* error) {
        return KVUpdater(std::make_shared<KVAPI>("http://127.0.0.1:9", ""), options)
            .installZip(archive, error);
    }

    void expectUntouched() const {
        EXPECT_EQ(KVBundleVersion(bundle), "0.1.38");
        EXPECT_EQ(KVListDirectory(root.path() + "/apps"), std::vector<std::string>{"Korvane"});
        EXPECT_EQ(KVListDirectory(outside), std::vector<std::string>{"secret"});
        EXPECT_EQ(KVReadFile(outside + "/secret"), "keep");
        EXPECT_TRUE(started.empty());
    }

    KVScopedEnvironment environment;
    KVTempDir root;
    std::string bundle = root.path() + "/apps/Korvane";
    std::string outside = root.path() + "/outside";
    std::string archive = root.path() + "/update.zip";
    KVUpdaterOptions options;
    std::vector<std::string> started;
};

TEST_F(UpdateInstallIntegration, BadArchivesFailWithTheirCodesAndTouchNothing) {
    struct Case {
        const char* name;
        std::vector<KVZipEntry> entries;
        long code = 1;     // 1: it could not be unpacked; 2: it held no app
        std::string raw{}; // written instead of a zip when set
    };
    // A good app and a hostile entry after it: an archive is refused whole.
    const auto app = [](const std::vector<KVZipEntry>& hostile) {
        auto entries = KVAppEntries("Korvane-0.1.39", "0.1.39");
        entries.insert(entries.end(), hostile.begin(), hostile.end());
        return entries;
    };
    auto noMarker = KVAppEntries("Korvane", "0.1.39");
    noMarker.erase(noMarker.begin() + 1);
    auto notExecutable = KVAppEntries("Korvane", "0.1.39");
    notExecutable[2].perm = 0644;
    const Case cases[] = {
        {"dot-dot", app({KVZipFile("../../outside/planted", "x")})},
        {"link to /etc", app({KVZipLink("Korvane-0.1.39/etc", "/etc")})},
        {"write through a link", app({KVZipLink("Korvane-0.1.39/out", outside),
                                      KVZipFile("Korvane-0.1.39/out/planted", "x")})},
        {"relative link out", app({KVZipLink("Korvane-0.1.39/up", "../../../outside"),
                                   KVZipFile("Korvane-0.1.39/up/planted", "x")})},
        {"device", app({{.path = "Korvane-0.1.39/tty", .forcedMode = S_IFCHR | 0644}})},
        {"size bomb", app({KVZipFile("Korvane-0.1.39/zeros", std::string(3 << 20, '\0'))})},
        {"too many entries", app(std::vector<KVZipEntry>(7, KVZipFile("Korvane-0.1.39/f", "x")))},
        {"empty", {}, 2},
        {"loose files", {KVZipFile("bin/korvane", "x", 0755)}, 2},
        {"no marker", noMarker, 2},
        {"not executable", notExecutable, 2},
        {"an error page", {}, 1, "<html>404 Not Found</html>"},
        {"cut short", {}, 1, "PK\x03\x04\x14\x00\x00\x00"},
    };
    options.zip.maxBytes = 2 << 20;
    options.zip.maxEntries = 12; // the app's 6 entries and a few more
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.raw.empty()) {
            KVWriteZip(archive, c.entries);
        } else {
            KVWriteTestFile(archive, c.raw);
        }
        KVError error;
        EXPECT_FALSE(installArchive(&error));
        EXPECT_EQ(error.domain, "KorvaneAPI");
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.message,
                  c.code == 1 ? "The update could not be unpacked." : "The update held no app.");
        expectUntouched();
    }
}

TEST_F(UpdateInstallIntegration, TheLastAppByNameIsSwappedInAndStarted) {
    auto entries = KVAppEntries("Korvane-0.1.40", "0.1.40");
    const auto older = KVAppEntries("Korvane-0.1.39", "0.1.39");
    entries.insert(entries.end(), older.begin(), older.end()); // last in the archive, not by name
    KVError error;
    ASSERT_TRUE(install(entries, &error)) << error.message;
    EXPECT_EQ(KVBundleVersion(bundle), "0.1.40");
    EXPECT_EQ(KVBundleVersion(bundle + ".old"), "0.1.38");
    EXPECT_EQ(KVListDirectory(root.path() + "/apps"),
              (std::vector<std::string>{"Korvane", "Korvane.old"})); // no private directory left
    EXPECT_EQ(started, std::vector<std::string>{bundle + "/bin/korvane"});
    struct stat link {};
    ASSERT_EQ(::lstat((bundle + "/bin/libkv.so").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(KVReadFile(bundle + "/bin/libkv.so"), "library");

    KVUpdater::removeOldBundle(bundle);
    EXPECT_EQ(KVListDirectory(root.path() + "/apps"), std::vector<std::string>{"Korvane"});
}

TEST_F(UpdateInstallIntegration, AFailedMoveInPutsTheInstalledCopyBack) {
    struct Case {
        int failingCall; // which rename fails: 1 moves the installed copy aside, 2 the new one in
        int code;
    };
    for (const Case c : {Case{1, EACCES}, Case{2, EXDEV}}) {
        int calls = 0;
        options.rename = [&](const char* from, const char* to) {
            if (++calls == c.failingCall) {
                errno = c.code;
                return -1;
            }
            return ::rename(from, to);
        };
        KVError error;
        EXPECT_FALSE(install(KVAppEntries("Korvane-0.1.39", "0.1.39"), &error));
        EXPECT_EQ(error.domain, "KorvaneFile");
        EXPECT_EQ(error.code, c.code);
        expectUntouched();
    }
}

TEST_F(UpdateInstallIntegration, OnlyARealOldBundleIsEverRemoved) {
    // A link named like the old bundle, and a directory without the marker: both stay, and what
    // the link leads to too. An update then can't move the installed copy aside and says so.
    const std::string elsewhere = root.path() + "/elsewhere";
    KVMakeBundle(elsewhere, "0.1.30");
    ASSERT_EQ(::symlink(elsewhere.c_str(), (bundle + ".old").c_str()), 0);
    KVUpdater::removeOldBundle(bundle);
    EXPECT_EQ(KVBundleVersion(bundle + ".old"), "0.1.30");
    KVError error;
    EXPECT_FALSE(install(KVAppEntries("Korvane-0.1.39", "0.1.39"), &error));
    EXPECT_EQ(KVBundleVersion(bundle), "0.1.38");
    EXPECT_EQ(KVBundleVersion(elsewhere), "0.1.30");
    struct stat link {};
    ASSERT_EQ(::lstat((bundle + ".old").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));

    ASSERT_EQ(::unlink((bundle + ".old").c_str()), 0);
    KVWriteTestFile(bundle + ".old/bin/korvane", "not ours");
    // What an update cut short leaves (0700, mkdtemp's name), and look-alikes that are not it.
    const std::string apps = root.path() + "/apps/";
    KVWriteTestFile(apps + ".korvane-update-a1B2c3/Korvane/bin/korvane", "half");
    ASSERT_EQ(::chmod((apps + ".korvane-update-a1B2c3").c_str(), 0700), 0);
    KVWriteTestFile(apps + ".korvane-update-shared/x", "");
    KVWriteTestFile(apps + ".korvane-update-d4E5f6", "a file");
    KVUpdater::removeOldBundle(bundle);
    EXPECT_EQ(KVReadFile(bundle + ".old/bin/korvane"), "not ours");
    EXPECT_EQ(KVListDirectory(apps),
              (std::vector<std::string>{".korvane-update-d4E5f6", ".korvane-update-shared",
                                        "Korvane", "Korvane.old"}));
}

} // namespace
