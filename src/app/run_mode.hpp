#pragma once

#include <string>
#include <vector>

// What one run of the program does, chosen from the command line alone.
enum class KVRunMode { gui, smokeTest, diagnose, captureTest, replay };

// A switch counts only when an argument equals it exactly, anywhere after the program path;
// other arguments are ignored. Precedence: smoke test, diagnose, capture test, a replay
// ("--replay PLAYER_LOG [--frames DIR]"), else the GUI.
KVRunMode KVChooseRunMode(const std::vector<std::string>& arguments);

// Runs the chosen mode and returns the process exit status.
int KVRunProgram(const std::vector<std::string>& arguments);
