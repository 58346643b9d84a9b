#pragma once

#include <string>
#include <vector>

// Where Arena's Player.log may be under Wine or Proton: Steam's prefix for Arena in every
// Steam library (native, Flatpak and snap Steam), then Lutris-style prefixes in ~/Games, then
// Bottles' prefixes (Flatpak and native), then ~/.wine. Only libraries and prefixes that exist
// on disk give candidates; whether the log itself exists is the caller's question.
std::vector<std::string> KVArenaLogCandidates(const std::string& home);

// The most recently written log among the candidates (the earlier candidate on a tie), since
// a player who moved between stores or prefixes plays where Arena writes now; else the
// fallback below.
std::string KVFindArenaLog(const std::string& home);

// Where Steam puts Arena's log when nothing is installed yet.
std::string KVArenaLogFallback(const std::string& home);

// The library folders listed in the text of a Steam libraryfolders.vdf file.
std::vector<std::string> KVSteamLibraryPaths(const std::string& vdfText);
