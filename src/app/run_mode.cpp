#include "app/run_mode.hpp"

#include "app/app.hpp"
#include "app/gui_start.hpp"

#include "base/config.hpp"
#include "service/update_bundle.hpp"

#include <algorithm>

namespace {

bool hasSwitch(const std::vector<std::string>& arguments, const char* name) {
    // The first argument is the program's own path, never a switch.
    return arguments.size() > 1 &&
           std::find(arguments.begin() + 1, arguments.end(), name) != arguments.end();
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
        return KVApp::smokeTest();
    case KVRunMode::diagnose:
        return KVApp::diagnose();
    case KVRunMode::captureTest:
        return KVApp::captureTest();
    case KVRunMode::gui:
        // A copy an update started lets the one it replaces quit before looking for another
        // instance of the program.
        KVWaitForReplacedProcess();
        return KVRunGUI();
    }
    return 2;
}
