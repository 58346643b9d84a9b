#include "app/run_mode.hpp"

#include "app/gui_start.hpp"

#include "base/config.hpp"
#include "service/update_bundle.hpp"

#include <algorithm>
#include <cstdio>

namespace {

bool hasSwitch(const std::vector<std::string>& arguments, const char* name) {
    // The first argument is the program's own path, never a switch.
    return arguments.size() > 1 &&
           std::find(arguments.begin() + 1, arguments.end(), name) != arguments.end();
}

// Modes that this build does not have yet say so and fail: a run that did nothing must
// never look like one that succeeded.
int unavailable(const char* what) {
    std::fprintf(stderr, "korvane: %s is not available in this build yet.\n", what);
    return 2;
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
    return KVRunMode::gui;
}

int KVRunProgram(const std::vector<std::string>& arguments) {
    // Saves cut short by a crash or a kill left their temporaries beside our files.
    KVConfig::removeStaleTemporaries();
    switch (KVChooseRunMode(arguments)) {
    case KVRunMode::smokeTest:
        return unavailable("the smoke test (--smoke-test)");
    case KVRunMode::diagnose:
        return unavailable("the diagnostic report (--diagnose)");
    case KVRunMode::captureTest:
        return unavailable("the capture test (--capture-test)");
    case KVRunMode::gui:
        // A copy an update started lets the one it replaces quit before looking for another
        // instance of the program.
        KVWaitForReplacedProcess();
        return KVRunGUI();
    }
    return 2;
}
