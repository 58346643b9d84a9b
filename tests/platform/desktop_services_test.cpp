#include "base/dispatch/run_loop.hpp"
#include "platform/linux/x11_platform.hpp"
#include "platform/single_instance.hpp"

#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Everything written to the pipe until its last writer goes away, or what came within 10 s.
std::string readAll(int fd) {
    std::string text;
    char buffer[256];
    for (;;) {
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, 10000) != 1) {
            break;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

TEST(DesktopServicesIntegrationTest, LauncherStartsDetachedWithItsEnvironment) {
    auto launcher = KVMakePosixLauncher();
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const std::string script =
        "echo \"$WINEPREFIX:$(cut -d' ' -f6 /proc/$$/stat)\" > /dev/fd/" + std::to_string(pipe[1]);
    ASSERT_TRUE(launcher->launch({"sh", "-c", script}, {{"WINEPREFIX", "/games/prefix"}}));
    ::close(pipe[1]);
    const std::string said = readAll(pipe[0]);
    ::close(pipe[0]);
    // Our session is not the program's: it has one of its own.
    EXPECT_EQ(said.substr(0, said.find(':')), "/games/prefix");
    EXPECT_NE(said.substr(said.find(':') + 1), std::to_string(::getsid(0)) + "\n");

    EXPECT_FALSE(launcher->launch({"/nonexistent/wine", "MTGA.exe"}));
    EXPECT_FALSE(launcher->launch({"/etc/passwd"})); // there, but not a program
    EXPECT_FALSE(launcher->launch({}));
    // Nothing left behind to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(DesktopServicesIntegrationTest, SecondLaunchHandsOverToTheFirst) {
    KVTempDir dir;
    auto loop = KVRunLoop::create();
    int shows = 0;
    auto first = std::make_unique<KVSingleInstance>(dir.path(), loop, [&shows] { ++shows; });
    KVError error;
    ASSERT_EQ(first->acquire(&error), KVSingleInstance::Outcome::first) << error.message;

    for (int launch = 1; launch <= 2; ++launch) {
        KVSingleInstance second(dir.path(), loop, [] { ADD_FAILURE() << "second shown"; });
        EXPECT_EQ(second.acquire(), KVSingleInstance::Outcome::handedOver);
        EXPECT_TRUE(loop->runUntil([&] { return shows == launch; }, 10)) << launch;
    }

    // The first one gone, the next launch is first again, over the socket left behind.
    first.reset();
    KVSingleInstance next(dir.path(), loop, [] {});
    EXPECT_EQ(next.acquire(), KVSingleInstance::Outcome::first);
}

TEST(DesktopServicesIntegrationTest, AnInstanceKilledHardLeavesNothingInTheWay) {
    KVTempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        KVSingleInstance instance(dir.path(), KVRunLoop::create(), [] {});
        const char state = instance.acquire() == KVSingleInstance::Outcome::first ? '1' : '0';
        [[maybe_unused]] const ssize_t n = ::write(ready[1], &state, 1);
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char state = 0;
    pollfd in{ready[0], POLLIN, 0};
    ASSERT_EQ(::poll(&in, 1, 10000), 1);
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    EXPECT_EQ(state, '1');
    ::close(ready[0]);
    {
        KVSingleInstance second(dir.path(), KVRunLoop::create(), [] {});
        EXPECT_EQ(second.acquire(), KVSingleInstance::Outcome::handedOver);
    }
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);

    KVSingleInstance after(dir.path(), KVRunLoop::create(), [] {});
    KVError error;
    EXPECT_EQ(after.acquire(&error), KVSingleInstance::Outcome::first) << error.message;
}

} // namespace
