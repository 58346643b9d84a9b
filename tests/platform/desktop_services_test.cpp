#include "base/dispatch/run_loop.hpp"
#include "platform/linux/x11_platform.hpp"
#include "platform/single_instance.hpp"

#include "support/program_run.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(DesktopServicesIntegrationTest, LauncherStartsDetachedWithItsEnvironment) {
    auto launcher = KVMakePosixLauncher();
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const std::string script =
        "echo \"$WINEPREFIX:$(cut -d' ' -f6 /proc/$$/stat)\" > /dev/fd/" + std::to_string(pipe[1]);
    ASSERT_TRUE(launcher->launch({"sh", "-c", script}, {{"WINEPREFIX", "/games/prefix"}}));
    ::close(pipe[1]);
    const std::string said = KVReadSome(pipe[0], 10); // one short write
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
    EXPECT_EQ(KVReadSome(ready[0], 10), "1") << "the child was not first";
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
