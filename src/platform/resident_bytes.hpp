#pragma once

#include <cstdint>
#include <string>

// The physical memory charged to this process, in bytes (its resident set); 0 when it cannot be
// read. `statmPath` is for tests.
uint64_t KVResidentBytes(const std::string& statmPath = "/proc/self/statm");
