#pragma once

#include <string>
#include <string_view>

// Arena's entry time ("M/d/yyyy h:mm:ss AM|PM", local) as "yyyy-MM-ddTHH:mm:ss" (local, no
// zone). Text that is not such a time, or names a date that does not exist, is returned as is.
std::string KVIsoFromArena(std::string_view arenaTime);
