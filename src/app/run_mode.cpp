#include "app/run_mode.hpp"

#include "app/app.hpp"
#include "app/gui_start.hpp"

#include "base/config.hpp"
#include "service/update_bundle.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

bool hasSwitch(const std::vector<std::string>& arguments, const char* name) {
    // The first argument is the program's own path, never a switch.
    return arguments.size() > 1 &&
           std::find(arguments.begin() + 1, arguments.end(), name) != arguments.end();
}

// The argument after the switch `name`; nothing when the switch is missing or is last.
std::optional<std::string> valueOf(const std::vector<std::string>& arguments, const char* name) {
    const auto found = std::find(arguments.begin() + 1, arguments.end(), name);
    if (found == arguments.end() || found + 1 == arguments.end()) {
        return std::nullopt;
    }
    return *(found + 1);
}

int replay(const std::vector<std::string>& arguments) {
    const auto log = valueOf(arguments, "--replay");
    if (!log || log->empty()) {
        std::fprintf(stderr, "korvane: --replay needs the path of a Player.log\n");
        return 1;
    }
    const bool wantsFrames = hasSwitch(arguments, "--frames");
    const auto frames = valueOf(arguments, "--frames");
    if (wantsFrames && (!frames || frames->empty())) {
        std::fprintf(stderr, "korvane: --frames needs a directory\n");
        return 1;
    }
    return KVApp::replay(*log, frames.value_or(""));
}

} // namespace

KVRunMode KVChooseRunMode(const std::vector<std::string>& arguments) {
    if (hasSwitch(arguments, "--smoke-test")) {
        return KVRunMode::smokeTest;
    }
    if (hasSwitch(arguments, "--diagnose")) {
        return KVRunMode::diagnose;
    }
    if (hasSwitch(arguments, "--capture-test")) {
        return KVRunMode::captureTest;
    }
    if (hasSwitch(arguments, "--replay")) {
        return KVRunMode::replay;
    }
    return KVRunMode::gui;
}

int KVRunProgram(const std::vector<std::string>& arguments) {
    // Saves cut short by a crash or a kill left their temporaries beside our files.
    KVConfig::removeStaleTemporaries();
    switch (KVChooseRunMode(arguments)) {
    case KVRunMode::smokeTest:
        return KVApp::smokeTest();
    case KVRunMode::diagnose:
        return KVApp::diagnose();
    case KVRunMode::captureTest:
        return KVApp::captureTest();
    case KVRunMode::replay:
        return replay(arguments);
    case KVRunMode::gui:
        // A copy an update started lets the one it replaces quit before looking for another
        // instance of the program.
        KVWaitForReplacedProcess();
        return KVRunGUI();
    }
    return 2;
}
