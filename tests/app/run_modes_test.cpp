// The run modes on the real program, as a user or a support script starts them: exit statuses,
// which mode a command line chooses, and the reports' exact lines.
#include "korvane_program.hpp"

#include "base/files.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

TEST(RunModesIntegration, EachCommandLineRunsOneModeWithItsStatus) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* starts; // the start of what it says first
        bool onStderr;
    };
    const std::string gui = "korvane: no X display (DISPLAY is not set).";
    const std::string noDisplay = "display  : NONE -- DISPLAY is not set\n";
    const Case cases[] = {
        // Precedence: smoke test, diagnose, capture test, replay.
        {{"--diagnose", "--capture-test"}, 0, "Korvane 0.1.38 native on ", false},
        {{"--capture-test", "--diagnose", "--smoke-test"}, 0, "smoke ok: ", false},
        {{"--replay", "x.log", "--diagnose"}, 0, "Korvane 0.1.38 native on ", false},
        {{"--capture-test", "--replay", "x.log"}, 1, noDisplay.c_str(), false},
        {{"unknown", "--diagnose", "-v"}, 0, "Korvane 0.1.38 native on ", false},
        // Only the exact switch counts: no other case, no single dash, no blanks around it, no
        // value glued to it. The GUI starts, and wants a display.
        {{"--Diagnose", "-diagnose", " --diagnose", "diagnose", "--capture-test ", "--smoke-test=1",
          "--diagnose=yes", "--replay=x.log"},
         1,
         gui.c_str(),
         true},
        {{"--replay"}, 1, "korvane: --replay needs the path of a Player.log", true},
        {{"--replay", "x.log", "--frames"}, 1, "korvane: --frames needs a directory", true},
    };
    for (const Case& c : cases) {
        KVFreshHome home;
        SCOPED_TRACE(testing::PrintToString(c.args));
        const KVProgramRun run = home.run(c.args);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        const std::string& said = c.onStderr ? run.err : run.out;
        EXPECT_EQ(said.rfind(c.starts, 0), 0u) << said;
    }
}

TEST(RunModesIntegration, TheSmokeTestPassesWithoutADisplayInAFreshHome) {
    KVFreshHome home;
    const KVProgramRun run = home.run({"--smoke-test"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    // The hash is a fixed picture's: a change in it is a change in the hash itself.
    KVExpectGolden(KVMaskReport(run.out, home.dir.path()), "smoke.txt");
    EXPECT_EQ(run.err.find("FAILED"), std::string::npos) << run.err;
}

// Each start also clears away what an interrupted save left behind, and the saved report
// replaces the last one.
TEST(RunModesIntegration, DiagnoseReportsWhatIsThereAndSavesTheSameText) {
    struct Case {
        const char* golden;
        std::optional<std::string> playerLog; // written to log_path when set
        std::optional<std::string> memoryLog; // memory.log when set
    };
    const Case cases[] = {
        {"diagnose_nothing.txt", std::nullopt, std::nullopt},
        {"diagnose_empty_memory.txt", std::nullopt, std::string()},
        {"diagnose_two_samples.txt", std::string(1234, 'x'),
         std::string("10:00 resident 101 MB\n10:01 resident 102 MB\n")},
        // The last four pieces of the text: the newline at the end leaves three samples.
        {"diagnose_five_samples.txt", std::string("[UnityCrossThreadLogger]\n"),
         std::string("s1\ns2\n\ns3\ns4\ns5\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.golden);
        KVFreshHome home;
        const std::string log = home.dir.file("arena/Player.log");
        KVWriteTestFile(home.korvane() + "/config.json",
                        "{\"log_path\": \"" + log +
                            "\", \"vision_enabled\": false, \"click_through\": true}");
        if (c.playerLog) {
            KVWriteTestFile(log, *c.playerLog);
        }
        if (c.memoryLog) {
            KVWriteTestFile(home.korvane() + "/memory.log", *c.memoryLog);
        }
        const std::string leftovers[] = {home.korvane() + "/config.json.tmp.k3Jd9Q",
                                         home.korvane() + "/cache/scryfall3_SOS.json.tmp.Zq81bW"};
        for (const std::string& path : leftovers) {
            KVWriteTestFile(path, "{\"half\": ");
            const struct timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), longAgo, 0), 0);
        }
        KVWriteTestFile(home.korvane() + "/diagnose.txt", std::string(100000, 'o'));
        const KVProgramRun run = home.run({"--diagnose"});
        EXPECT_EQ(run.status, 0) << run.err;
        KVExpectGolden(KVMaskReport(run.out, home.dir.path()), c.golden);
        EXPECT_EQ(KVReadFile(home.korvane() + "/diagnose.txt").value_or("?"), run.out);
        for (const std::string& path : leftovers) {
            EXPECT_FALSE(KVFileExists(path)) << path;
        }
    }
}

TEST(RunModesIntegration, ReplayRefusesWhatItCannotPlayWithOneLine) {
    KVFreshHome home;
    const std::string noDraft = home.dir.file("menus.log");
    KVWriteTestFile(noDraft, "[UnityCrossThreadLogger]==> EventGetCoursesV2 {\"id\":\"1\"}\n"
                             "[UnityCrossThreadLogger]\n");
    const std::string draft = home.dir.file("draft.log");
    KVWriteTestFile(draft, "[UnityCrossThreadLogger]Draft.Notify {\"draftId\":\"d1\","
                           "\"SelfPick\":1,\"SelfPack\":1,\"PackCards\":\"1001,1002,1003\"}\n");
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"--replay", home.dir.file("absent.log")},
         "korvane: cannot read " + home.dir.file("absent.log") + ": "},
        {{"--replay", home.dir.path()}, "korvane: cannot read " + home.dir.path() + ": "},
        {{"--replay", noDraft}, "korvane: no draft in " + noDraft + ": it shows no pack\n"},
        {{"--replay", draft, "--frames", noDraft + "/frames"},
         "korvane: cannot make " + noDraft + "/frames: "},
        {{"--replay", draft},
         "korvane: signed out -- sign in with Korvane once; the replay uses its stored "
         "sign-in\n"},
    };
    for (const Case& c : cases) {
        const KVProgramRun run = home.run(c.args);
        EXPECT_EQ(run.status, 1) << c.line;
        EXPECT_EQ(run.out, "") << c.line;
        EXPECT_EQ(run.err.rfind(c.line, 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

} // namespace
