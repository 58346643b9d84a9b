#pragma once

#include "base/error.hpp"

#include <string>

// Writes an Arena Player.log of one Premier Draft of the demo set, three packs of fourteen at
// a table of eight: joining the event, every pack shown and every pick made, and the finished
// pool. The player takes the strongest card of each pack; the other seats pick by a fixed
// random order, so the file is the same every time.
bool KVSWriteDemoLog(const std::string& path, KVError* error);
