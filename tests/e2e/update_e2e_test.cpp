// Self-updating as a user meets it: a copy unpacked from the bundle zip is offered a newer
// release by the service, takes it with one key press, and the new copy starts in its place; a
// copy that cannot replace itself sends the user to the download page instead.
#include "e2e/e2e_world.hpp"

#include "base/files.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr double kWait = 30;

// The process running `executable` other than `besides`, or -1.
pid_t processRunning(const std::string& executable, pid_t besides) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        // Only a process's own entry links to `executable`: "self" is this test.
        std::error_code error;
        if (fs::read_symlink(entry.path() / "exe", error) == executable &&
            std::stoi(entry.path().filename()) != besides) {
            return std::stoi(entry.path().filename());
        }
    }
    return -1;
}

// Stops a process that is not our child, waiting for its end.
void stopStranger(pid_t pid) {
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    ::kill(pid, SIGTERM);
    if (handle >= 0) {
        pollfd ended{handle, POLLIN, 0};
        ::poll(&ended, 1, 20000);
        ::close(handle);
    }
}

} // namespace

TEST(EndToEnd, AnUnpackedBundleUpdatesItselfAndAReadOnlyOneOpensTheDownloadPage) {
    KVE2EWorld world("update");
    ASSERT_EQ(world.failure(), "");
    KVTempDir files;

    // The installed copy: a bundle under a development build's .../dist/, so it follows the
    // local service; the release: the same build as a newer version, zipped as we ship it.
    const std::string bundle = files.file("apps/dist/Korvane");
    const std::string release = files.file("release/Korvane");
    for (const std::string& root : {bundle, release}) {
        fs::create_directories(root + "/bin");
        fs::copy_file(KV_KORVANE_PROGRAM, root + "/bin/korvane");
    }
    KVWriteTestFile(bundle + "/.korvane-bundle", "0.1.38\n");
    KVWriteTestFile(release + "/.korvane-bundle", "0.1.39 (from the service)\n");
    fs::create_directories(files.file("releases"));
    KVChildProcess zip({"sh", "-c",
                        "cd '" + files.file("release") + "' && zip -q -r -y '" +
                            files.file("releases/korvane-0.1.39.zip") + "' Korvane"},
                       {});
    ASSERT_EQ(zip.stop(0, 60), 0) << "zip failed";
    utsname machine{};
    ::uname(&machine);
    const std::string arch =
        std::string(machine.machine) == "aarch64" ? "arm64" : std::string(machine.machine);
    KVWriteTestFile(files.file("releases/releases.json"),
                    R"([{"version": "0.1.39", "platform": "linux", "arch": ")" + arch +
                        R"(", "file": "korvane-0.1.39.zip", "notes": "Faster stamps.",
                         "mandatory": false}])");
    ASSERT_TRUE(world.startService(0, {"--releases", files.file("releases")}));

    // The offer, taken with Return: the old copy quits, the new one runs in its place.
    const std::string program = bundle + "/bin/korvane";
    ASSERT_TRUE(world.startKorvane(program));
    const pid_t first = world.korvanePid();
    ASSERT_TRUE(KVE2EWait([&] { return world.screen().findWindow("Update available").has_value(); },
                          kWait));
    world.shot("offer");
    ASSERT_TRUE(world.screen().key("Return"));
    ASSERT_TRUE(world.waitForLog("Update: installed in " + bundle, 0, kWait)) << world.korvaneLog();
    EXPECT_EQ(world.stopKorvane(0, kWait), 0) << "the old copy did not quit for the new one";
    pid_t second = -1;
    ASSERT_TRUE(KVE2EWait(
        [&] {
            second = processRunning(program, first);
            const std::string log = world.korvaneLog();
            return second > 0 && log.find("(native) starting", log.find("Update: installed")) !=
                                     std::string::npos;
        },
        kWait))
        << world.korvaneLog();
    EXPECT_EQ(KVReadFile(bundle + "/.korvane-bundle").value_or(""), "0.1.39 (from the service)\n");
    EXPECT_TRUE(KVE2EWait([&] { return !fs::exists(bundle + ".old"); }, kWait))
        << "the new copy's start left the old copy";
    stopStranger(second);

    // A bundle we may not write: nothing moves, and the browser is sent to the download page.
    const std::string opened = files.file("opened.txt");
    const std::string fakeBin = files.file("fake-bin");
    fs::create_directories(fakeBin);
    KVWriteTestFile(fakeBin + "/xdg-open", "#!/bin/sh\necho \"$@\" >> '" + opened + "'\n");
    fs::permissions(fakeBin + "/xdg-open", fs::perms::owner_all);
    fs::permissions(bundle, fs::perms::owner_read | fs::perms::owner_exec);
    const size_t before = world.korvaneLogSize();
    ASSERT_TRUE(world.startKorvane(program, {"PATH=" + fakeBin + ":" + std::getenv("PATH")}));
    ASSERT_TRUE(KVE2EWait([&] { return world.screen().findWindow("Update available").has_value(); },
                          kWait));
    ASSERT_TRUE(world.screen().key("Return"));
    EXPECT_TRUE(KVE2EWait(
        [&] { return KVReadFile(opened).value_or("") == world.serviceBase() + "/download\n"; },
        kWait))
        << world.korvaneLog().substr(before);
    world.shot("read-only-download-page");
    EXPECT_EQ(world.stopKorvane(), 0);
    fs::permissions(bundle, fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(bundle + ".old"));
    EXPECT_EQ(world.korvaneLog().find("Update: installed", before), std::string::npos);
}
