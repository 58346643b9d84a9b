#include "app/run_mode.hpp"
#include "base/config.hpp"
#include "base/files.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

KVRunMode modeOf(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "/opt/korvane/korvane");
    return KVChooseRunMode(arguments);
}

TEST(RunMode, ExactSwitchesAnywhereChooseTheModeByPrecedence) {
    EXPECT_EQ(modeOf({}), KVRunMode::gui);
    EXPECT_EQ(modeOf({"--smoke-test"}), KVRunMode::smokeTest);
    EXPECT_EQ(modeOf({"--diagnose"}), KVRunMode::diagnose);
    EXPECT_EQ(modeOf({"--capture-test"}), KVRunMode::captureTest);
    EXPECT_EQ(modeOf({"--capture-test", "--diagnose"}), KVRunMode::diagnose);
    EXPECT_EQ(modeOf({"--diagnose", "--capture-test", "--smoke-test"}), KVRunMode::smokeTest);
    EXPECT_EQ(modeOf({"extra", "-v", "--diagnose", "more"}), KVRunMode::diagnose);
}

TEST(RunMode, NearMissesStartTheGui) {
    for (const char* near : {"--diagnose=1", "--smoke-test=yes", "-diagnose", "--Diagnose",
                             "diagnose", " --diagnose", "--capture-test "}) {
        EXPECT_EQ(modeOf({near}), KVRunMode::gui) << near;
    }
    // The program's own path is not an argument, whatever it is called.
    EXPECT_EQ(KVChooseRunMode({"--diagnose"}), KVRunMode::gui);
}

TEST(RunMode, StartingRemovesWhatAnInterruptedSaveLeftBehind) {
    KVScopedEnvironment env;
    const std::string leftovers[] = {KVConfig::dataDir() + "/config.json.tmp.k3Jd9Q",
                                     KVConfig::cacheDir() + "/scryfall3_SOS.json.tmp.Zq81bW"};
    for (const std::string& path : leftovers) {
        KVWriteTestFile(path, "{\"half\": ");
        const struct timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), longAgo, 0), 0);
    }
    KVWriteTestFile(KVConfig::settingsPath(), "{}");
    testing::internal::CaptureStdout();
    KVRunProgram({"korvane", "--diagnose"});
    testing::internal::GetCapturedStdout();
    for (const std::string& path : leftovers) {
        EXPECT_FALSE(KVFileExists(path)) << path;
    }
    EXPECT_TRUE(KVFileExists(KVConfig::settingsPath()));
}

} // namespace
