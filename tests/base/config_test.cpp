#include "base/arena_log_locator.hpp"
#include "base/config.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every setting a fresh install starts with, but log_path, which depends on the machine.
const std::pair<const char*, KVJson> kDefaults[] = {
    {"panel_opacity", 1.0},   {"click_through", false}, {"telemetry_enabled", true},
    {"vision_enabled", true}, {"key_settings", "S"},    {"key_draft_data", "D"},
    {"key_screenshot", "P"},  {"memory_limit_gb", 8},   {"api_base_url", KVConfig::kDefaultAPIBase},
};

TEST(Config, PlacesFilesUnderTheXdgDataDirectory) {
    KVScopedEnvironment env;
    EXPECT_EQ(KVConfig::dataDir(), env.home() + "/.local/share/Korvane");
    EXPECT_EQ(KVConfig::cacheDir(), env.home() + "/.local/share/Korvane/cache");
    KVScopedEnvironment xdg([](KVEnvironment& e) { e.xdgDataHome = "/srv/data"; });
    EXPECT_EQ(KVConfig::settingsPath(), "/srv/data/Korvane/config.json");
    EXPECT_EQ(KVConfig::authPath(), "/srv/data/Korvane/auth.json");
}

TEST(Config, MissingOrMalformedSettingsGiveTheDefaultsWithoutWriting) {
    KVScopedEnvironment env;
    for (const char* content : {"", "[1,2]", "\"text\"", "null"}) {
        if (*content != '\0') {
            KVWriteTestFile(KVConfig::settingsPath(), content);
        }
        const KVJson settings = KVConfig::load();
        EXPECT_EQ(settings.size(), 10u) << content;
        for (const auto& [key, value] : kDefaults) {
            EXPECT_EQ(settings[key], value) << key;
        }
        EXPECT_EQ(settings["log_path"], KVArenaLogFallback(env.home()));
    }
    EXPECT_TRUE(KVFileExists(KVConfig::cacheDir()));
    EXPECT_EQ(*KVReadFile(KVConfig::settingsPath()), "null"); // load never writes
}

// What is at config.json when it cannot be read as settings.
struct BrokenSettings {
    const char* what;
    std::function<void(const std::string& path)> make;
    std::string bytes; // what a kept copy must hold; empty for what is not a regular file
};

std::vector<BrokenSettings> brokenSettings() {
    const auto text = [](const std::string& bytes) {
        return [bytes](const std::string& path) { KVWriteTestFile(path, bytes); };
    };
    const std::string comma =
        R"({"log_path": "/games/Player.log", "telemetry_enabled": false, "panel_dx": 4,})";
    const std::string huge = R"({"telemetry_enabled": false, "panel_dx": 1e400})";
    const auto fifo = [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); };
    const auto zero = [](const std::string& path) {
        ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
    };
    return {
        {"trailing comma", text(comma), comma}, {"number out of range", text(huge), huge},
        {"empty file", text(""), ""},           {"FIFO", fifo, ""},
        {"link to /dev/zero", zero, ""},
    };
}

TEST(Config, UnreadableSettingsAreKeptAsideAndAnOptOutNeverBecomesConsent) {
    for (const BrokenSettings& broken : brokenSettings()) {
        SCOPED_TRACE(broken.what);
        KVScopedEnvironment env;
        const std::string path = KVConfig::settingsPath();
        ASSERT_TRUE(KVMakeDirectories(KVConfig::dataDir()));
        broken.make(path);
        struct stat before {};
        ASSERT_EQ(::lstat(path.c_str(), &before), 0);

        KVJson settings = KVConfig::load();
        // The file may have held an opt-out that can't be seen: telemetry stays off.
        EXPECT_EQ(settings["telemetry_enabled"], false);
        EXPECT_EQ(settings["click_through"], false);
        EXPECT_EQ(settings["key_settings"], "S");
        EXPECT_EQ(settings["log_path"], KVArenaLogFallback(env.home()));

        settings["click_through"] = true;
        KVConfig::save(settings);
        struct stat kept {};
        ASSERT_EQ(::lstat((path + ".bad").c_str(), &kept), 0);
        EXPECT_EQ(kept.st_ino, before.st_ino); // the very file, links and FIFOs included
        if (S_ISREG(before.st_mode)) {
            EXPECT_EQ(KVReadFile(path + ".bad"), broken.bytes);
        }
        const KVJson saved = KVConfig::load();
        EXPECT_EQ(saved["click_through"], true);
        EXPECT_EQ(saved["telemetry_enabled"], false);
        KVLogFlush();
        EXPECT_NE(KVReadFile(KVLogPath()).value_or("").find(path + ".bad"), std::string::npos);
    }
}

TEST(Config, SavesOnlyWhatLoadReadsBack) {
    KVScopedEnvironment env;
    KVJson settings = KVConfig::load();
    settings["panel_dx"] = 12;
    KVConfig::save(settings);
    const std::string good = *KVReadFile(KVConfig::settingsPath());
    EXPECT_NE(good.find("\n  \"panel_dx\": 12"), std::string::npos); // pretty, for hand edits

    KVJson deep = KVJson::array();
    for (int i = 0; i < 200; ++i) {
        deep = KVJson::array({deep});
    }
    KVJson tooDeep = settings;
    tooDeep["extra"] = deep;
    for (const KVJson& unreadable : {tooDeep, KVJson::array({settings}), KVJson("text")}) {
        KVConfig::save(unreadable);
        // Compared as a whole: a failure here would otherwise print 200 levels of brackets.
        EXPECT_TRUE(KVReadFile(KVConfig::settingsPath()) == good) << unreadable.type_name();
    }
    EXPECT_FALSE(KVFileExists(KVConfig::settingsPath() + ".bad")); // the file was good

    // Nothing is written that the reader would refuse for its size.
    const std::string path = KVConfig::cacheDir() + "/cards.json";
    KVJson cards = KVJson::array({std::string(100, 'x')});
    EXPECT_FALSE(KVConfig::writeJSON(cards, path, KVFileAccess::shared, 100));
    EXPECT_FALSE(KVFileExists(path));
    EXPECT_TRUE(KVConfig::writeJSON(cards, path, KVFileAccess::shared, 200));
    EXPECT_EQ(KVConfig::readJSON(path, 200), cards);
    EXPECT_FALSE(KVConfig::readJSON(path, 100).has_value());
}

TEST(Config, KeepsPresentValuesAndReplacesOnlyNullsAndTheServiceAddress) {
    KVScopedEnvironment env;
    KVWriteTestFile(KVConfig::settingsPath(),
                    R"({"click_through": null, "vision_enabled": false, "panel_opacity": "0.4",
                        "panel_dx": 12.5, "extra": [1], "api_base_url": "http://evil.example"})");
    const KVJson settings = KVConfig::load();
    EXPECT_EQ(settings["vision_enabled"], false);
    EXPECT_EQ(settings["panel_opacity"], "0.4"); // kept as it is; readers interpret it
    EXPECT_EQ(settings["panel_dx"], 12.5);
    EXPECT_EQ(settings["extra"], KVJson::array({1}));
    // The null click_through and the planted address get their defaults, like the missing keys.
    for (const auto& [key, value] : kDefaults) {
        if (std::string_view(key) != "vision_enabled" && std::string_view(key) != "panel_opacity") {
            EXPECT_EQ(settings[key], value) << key;
        }
    }
    EXPECT_TRUE(settings.contains("log_path"));
}

TEST(Config, ServiceAddressComesFromTheEnvironmentOnlyInDevelopmentBuilds) {
    const std::string fallback(KVConfig::kDefaultAPIBase);
    const struct {
        bool packaged;
        const char* base; // nullptr: unset
        std::string expected;
    } cases[] = {
        {true, "http://127.0.0.1:9/", fallback},
        {false, "http://127.0.0.1:8080//", "http://127.0.0.1:8080/"}, // only one slash dropped
        {false, " \t http://localhost:5000/ \n", "http://localhost:5000"},
        {false, "", fallback},
        {false, "  \n\t", fallback},
        {false, nullptr, fallback},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base ? c.base : "unset");
        KVScopedEnvironment env([&](KVEnvironment& e) {
            if (!c.packaged) {
                e.executablePath = "/home/dev/korvane/build/dist/bin/korvane";
            }
            if (c.base != nullptr) {
                e.apiBase = c.base;
            }
        });
        EXPECT_EQ(KVConfig::isPackaged(), c.packaged);
        EXPECT_EQ(KVConfig::apiBase(), c.expected);
        EXPECT_EQ(KVConfig::load()["api_base_url"], c.expected);
    }
}

TEST(Config, SignInFileIsPrivateAndToleratesAnything) {
    KVScopedEnvironment env;
    KVConfig::clearAuth(); // nothing there: nothing happens
    EXPECT_EQ(KVConfig::loadAuth(), KVJson::object());
    KVConfig::saveAuth({{"token", "kor_secret"}, {"email", "a@b.c"}});
    EXPECT_EQ(std::filesystem::status(KVConfig::authPath()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(KVConfig::loadAuth()["token"], "kor_secret");
    for (const char* content : {"\"a string\"", "[]", "{oops", "42"}) {
        KVWriteTestFile(KVConfig::authPath(), content);
        EXPECT_EQ(KVConfig::loadAuth(), KVJson::object()) << content;
    }
    KVConfig::clearAuth();
    EXPECT_FALSE(KVFileExists(KVConfig::authPath()));
}

} // namespace
