#pragma once

#include "base/image.hpp"
#include "draft/card.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A second, deliberately plain pack slot detector for the tests: the same reading of the screen
// as KVVision::detectSlots, step by step on whole float arrays, with sorted copies for
// percentiles and straight scans where the library uses counts, searches and shortcuts. Slow,
// but easy to check line by line; the tests hold the fast detector to its results and to its
// debug lines. With `debug` not null, the lines the library would write are appended to it.
std::optional<std::vector<KVNormRect>> KVReferenceDetectSlots(const KVImage& image,
                                                              int64_t expected, std::string* debug);
