// fake-arena's "log N", which keeps the end-to-end screens and Player.log in step: whole lines,
// exactly as many as asked, and nothing at all when the request cannot be met.
#include "base/files.hpp"
#include "support/x11_fixture.hpp"

struct FakeArenaLog : X11Fixture {};

TEST_F(FakeArenaLog, AppendsWholeLinesOnCommandAndRefusesWhatItCannotDo) {
    start();
    KVTempDir files;
    const std::string script = files.file("script.txt");
    const std::string log = files.file("Player.log");
    KVWriteTestFile(script, "first\nsecond {\"a\": 1}\nthird\n");
    auto game = arena({"--log", log, "--script", script, "--interval", "0"});
    ASSERT_NE(game->window, 0u);
    EXPECT_FALSE(KVReadFile(log)) << "with --interval 0 nothing is written unasked";

    EXPECT_EQ(game->process.command("log 2"), "ok");
    EXPECT_EQ(KVReadFile(log).value_or(""), "first\nsecond {\"a\": 1}\n");
    for (const char* bad : {"log", "log -1", "log two", "log 2"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(game->process.command(bad).rfind("error", 0), 0u);
        EXPECT_EQ(KVReadFile(log).value_or(""), "first\nsecond {\"a\": 1}\n");
    }
    EXPECT_EQ(game->process.command("log 1"), "ok");
    EXPECT_EQ(KVReadFile(log).value_or(""), "first\nsecond {\"a\": 1}\nthird\n");
    EXPECT_EQ(game->process.command("log 0"), "ok");
}
