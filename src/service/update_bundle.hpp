#pragma once

#include "base/error.hpp"

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

// The program as the updater sees it: a bundle is a directory holding an executable
// "bin/korvane" and a marker file ".korvane-bundle". Only a bundle is ever replaced or
// removed, so a build tree or a system package is never touched.
inline constexpr std::string_view kKVBundleMarker = ".korvane-bundle";

// A real directory (not a link to one) with the marker and an executable bin/korvane.
bool KVIsBundle(const std::string& directory);

// The bundle whose bin/korvane is `executable` (the running program's own file), or "".
std::string KVBundleOfExecutable(const std::string& executable);

// Whether `bundle` may replace itself: its directory and the parent we may write, and neither
// is set read-only by its owner (which even root respects here). A system package under /usr,
// a read-only directory or a build tree is updated from the download page instead.
bool KVMayReplaceBundle(const std::string& bundle);

// Removes `path` and what it holds, following no links; false when something stayed.
bool KVRemoveTree(const std::string& path);

// Removes `path` only when it is a bundle (a link to one stays, and what it leads to).
bool KVRemoveBundle(const std::string& path);

// rename(2), or a stand-in with its contract.
using KVRenameFunction = std::function<int(const char* from, const char* to)>;

// Puts `replacement` where `current` is, keeping the old one as `current` + ".old": an earlier
// ".old" bundle is removed first, `current` moves aside, `replacement` moves in. When the second
// move fails the first is undone, so the installed program stays runnable. Both must be on one
// file system; errors are "KorvaneFile" with errno.
bool KVSwapBundle(const std::string& current, const std::string& replacement,
                  const KVRenameFunction& rename, KVError* error);

// Starts `executable` as a process of its own (a new session, no descriptors but the standard
// three, default signal handling) with KORVANE_REPLACES_PID set to `replaces`. Does not wait
// for it; `started` receives its pid.
bool KVStartDetached(const std::string& executable, pid_t replaces, pid_t* started, KVError* error);

// Waits at most `timeoutSeconds` for process `pid` to end. True when it has ended (or never
// existed); false on time-out or when the system cannot wait for another process.
bool KVWaitForProcessEnd(pid_t pid, double timeoutSeconds);

// A program started by an update waits here, before taking the single-instance lock, for the
// copy it replaces (KORVANE_REPLACES_PID) to quit: at most 15 seconds. Returns at once when
// it was not started by an update.
void KVWaitForReplacedProcess(double timeoutSeconds = 15);
