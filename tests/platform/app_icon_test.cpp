#include "platform/app_icon.hpp"

#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(AppIconTest, FindsTheInstalledSizesSmallestFirstAndNothingElse) {
    KVTempDir prefix;
    const std::string theme = prefix.file("share/icons/hicolor/");
    for (const char* size : {"256x256", "16x16", "128x128", "24x24"}) {
        KVWriteTestFile(theme + size + "/apps/korvane.png", "png");
    }
    // Not square sizes, or not the program's picture: never offered to the tray.
    KVWriteTestFile(theme + "scalable/apps/korvane.svg", "svg");
    KVWriteTestFile(theme + "48x64/apps/korvane.png", "png");
    KVWriteTestFile(theme + "x/apps/korvane.png", "png");
    KVWriteTestFile(theme + "32x32/apps/other.png", "png");
    std::filesystem::create_directories(theme + "64x64/apps/korvane.png"); // a directory
    KVWriteTestFile(prefix.file("bin/korvane"), "");

    // In number order: 128 after 24, which a sort of the names would not give.
    EXPECT_EQ(KVAppIconFiles(prefix.file("bin/korvane")),
              (std::vector<std::string>{
                  theme + "16x16/apps/korvane.png", theme + "24x24/apps/korvane.png",
                  theme + "128x128/apps/korvane.png", theme + "256x256/apps/korvane.png"}));

    // Nothing installed, a theme directory that is a file, a path with no parent worth reading.
    KVTempDir bare;
    KVWriteTestFile(bare.file("bin/korvane"), "");
    EXPECT_TRUE(KVAppIconFiles(bare.file("bin/korvane")).empty());
    KVWriteTestFile(bare.file("share/icons/hicolor"), "");
    EXPECT_TRUE(KVAppIconFiles(bare.file("bin/korvane")).empty());
    EXPECT_TRUE(KVAppIconFiles("").empty());
    EXPECT_TRUE(KVAppIconFiles("korvane").empty());
}

} // namespace
