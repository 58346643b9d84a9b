#include "base/arena_log_locator.hpp"
#include "base/config.hpp"
#include "base/files.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

std::string userLog(const std::string& prefix, const std::string& user) {
    return prefix + "/drive_c/users/" + user +
           "/AppData/LocalLow/Wizards Of The Coast/MTGA/Player.log";
}

void writeLogAged(const std::string& path, long secondsAgo) {
    KVWriteTestFile(path, "[UnityCrossThreadLogger]\n");
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() -
                                               std::chrono::seconds(secondsAgo));
}

std::string steamLog(const std::string& library) {
    return library + "/steamapps/compatdata/2141910/pfx/drive_c/users/steamuser/AppData/LocalLow/"
                     "Wizards Of The Coast/MTGA/Player.log";
}

TEST(ArenaLogLocator, ReadsEverySteamLibraryFromLibraryFolders) {
    const std::string vdf = R"("libraryfolders"
{
	"0"
	{
		"path"		"/home/p/.local/share/Steam"
		"apps" { "228980" "1" }
	}
	"1"
	{
		"Path"		"/mnt/games/Steam \"Library\""
	}
	"2" { "path" "D:\\Games" }
})";
    EXPECT_EQ(KVSteamLibraryPaths(vdf),
              (std::vector<std::string>{"/home/p/.local/share/Steam",
                                        "/mnt/games/Steam \"Library\"", "D:\\Games"}));
    EXPECT_TRUE(KVSteamLibraryPaths("\"path\"").empty());
    EXPECT_TRUE(KVSteamLibraryPaths("{{{\"unterminated").empty());
}

TEST(ArenaLogLocator, ListsSteamLibrariesThenLutrisThenBottlesThenWine) {
    KVScopedEnvironment env;
    const std::string& home = env.home();
    const std::string native = home + "/.local/share/Steam";
    const std::string extra = home + "/disk2/SteamLibrary";
    const std::string flatpak = home + "/.var/app/com.valvesoftware.Steam/.local/share/Steam";
    const std::string snap = home + "/snap/steam/common/.local/share/Steam";
    const std::string bottle = home + "/.var/app/com.usebottles.bottles/data/bottles/bottles/A";
    const std::string nativeBottle = home + "/.local/share/bottles/bottles/MTGA";
    const std::string lutris = userLog(home + "/Games/arena", "me");
    const std::string wine = userLog(home + "/.wine", "me");
    for (const std::string& folder :
         {native + "/steamapps", extra, flatpak, home + "/.steam", snap + "/steamapps",
          home + "/Games/arena/drive_c/users/Public", bottle + "/drive_c/users/player",
          nativeBottle + "/drive_c/users/player"}) {
        ASSERT_TRUE(KVMakeDirectories(folder)) << folder;
    }
    ASSERT_EQ(::symlink(native.c_str(), (home + "/.steam/steam").c_str()), 0);
    KVWriteTestFile(native + "/steamapps/libraryfolders.vdf",
                    "\"libraryfolders\" { \"0\" { \"path\" \"" + native +
                        "\" } \"1\" { \"path\" \"" + extra +
                        "\" } \"2\" { \"path\" \"/nonexistent/lib\" } }");
    KVWriteTestFile(lutris, "");
    KVWriteTestFile(wine, "");

    // The symlinked root and the library listed twice count once; missing libraries not at all.
    EXPECT_EQ(KVArenaLogCandidates(home),
              (std::vector<std::string>{steamLog(native), steamLog(extra), steamLog(flatpak),
                                        steamLog(snap), lutris, userLog(bottle, "player"),
                                        userLog(nativeBottle, "player"), wine}));
}

TEST(ArenaLogLocator, TheMostRecentlyWrittenLogWins) {
    // Players move between stores and prefixes; the log Arena writes now is the one to follow.
    // Where each is, under the home directory:
    const std::string steam = steamLog("/.local/share/Steam");
    const std::string lutris = userLog("/Games/arena", "me");
    const std::string wine = userLog("/.wine", "me");
    const struct {
        const char* what;
        std::vector<std::pair<std::string, long>> logs; // where, seconds since written
        std::string expected;
    } cases[] = {
        {"a newer one in a later prefix", {{steam, 900}, {lutris, 30}, {wine, 600}}, lutris},
        {"the same age: the earlier probe", {{lutris, 100}, {steam, 100}}, steam},
    };
    for (const auto& c : cases) {
        KVScopedEnvironment env;
        for (const auto& [place, age] : c.logs) {
            writeLogAged(env.home() + place, age);
        }
        EXPECT_EQ(KVConfig::defaultLogPath(), env.home() + c.expected) << c.what;
    }
}

// Before Arena is installed the fallback path is not stored, or it would stay pinned once
// Arena is; a path found, or one the user chose, is kept even when another log is newer.
TEST(ArenaLogLocator, ALogPathIsStoredOnlyOnceFoundOrChosen) {
    KVScopedEnvironment env;
    KVConfig::save(KVConfig::load());
    const auto stored = [] { return *KVConfig::readJSON(KVConfig::settingsPath()); };
    EXPECT_FALSE(stored().contains("log_path"));
    EXPECT_TRUE(stored().contains("memory_limit_gb"));
    // Arena is installed later, in a Lutris prefix: the next start finds it and keeps it.
    const std::string lutris = userLog(env.home() + "/Games/magic-the-gathering-arena", "player");
    KVWriteTestFile(lutris, "");
    const KVJson found = KVConfig::load();
    EXPECT_EQ(found["log_path"], lutris);
    KVConfig::save(found);
    EXPECT_EQ(stored()["log_path"], lutris);

    const std::string chosen = env.home() + "/arena-old/Player.log";
    writeLogAged(chosen, 3600);
    writeLogAged(userLog(env.home() + "/.wine", "me"), 1); // newer, but not chosen
    const std::string unmounted = "/media/games/Player.log";
    for (const std::string& path : {chosen, unmounted}) {
        KVWriteTestFile(KVConfig::settingsPath(), KVJson({{"log_path", path}}).dump());
        KVJson settings = KVConfig::load();
        EXPECT_EQ(settings["log_path"], path);
        settings["panel_dx"] = 3;
        KVConfig::save(settings);
        EXPECT_EQ(stored()["log_path"], path);
    }
}

} // namespace
