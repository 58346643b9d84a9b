#pragma once

#include <memory>
#include <optional>
#include <string>

// What the program takes from its process environment, read once at first use. Code reads it
// from here, never from getenv, so tests can substitute their own.
struct KVEnvironment {
    std::string home;                        // $HOME, else the password database's home directory
    std::string xdgDataHome;                 // $XDG_DATA_HOME when it is an absolute path, else ""
    std::optional<std::string> apiBase;      // KORVANE_API_BASE as set
    std::optional<std::string> scryfallBase; // KORVANE_SCRYFALL_BASE as set
    std::optional<std::string> arenaExe;     // KORVANE_ARENA_EXE as set
    std::string display;                     // $DISPLAY, the X server to talk to; "" when unset
    bool draftDebug = false;                 // KORVANE_DRAFT_DEBUG set to anything
    bool visionDebug = false;                // KORVANE_VISION_DEBUG set to anything
    std::string executablePath;              // the running program's own file
    // KORVANE_REPLACES_PID: the process an update started us to replace, which is still
    // quitting; 0 when unset or not a positive number.
    long replacesPid = 0;

    // Reads the real process environment.
    static KVEnvironment fromProcess();

    // The environment in force: the process's, unless a test replaced it.
    static std::shared_ptr<const KVEnvironment> current();

    // Puts `environment` in force and returns the one it replaced. For tests.
    static std::shared_ptr<const KVEnvironment> replace(KVEnvironment environment);
    static void restore(std::shared_ptr<const KVEnvironment> previous);
};
