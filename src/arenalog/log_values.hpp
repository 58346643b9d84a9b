#pragma once

#include "base/json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Readers for values of uncertain type in Arena's messages, where a field may hold a number or
// its text, a list or a comma-separated string, an object or the JSON text of one.

// An object or a list as it is; a string holding the JSON text of an object or list, parsed;
// anything else gives nothing.
std::optional<KVJson> KVLoadsMaybe(const KVJson& value);

// A string as it is; a number as its text (an integer as its decimal digits, a boolean as 1
// or 0); anything else gives nothing.
std::optional<std::string> KVStr(const KVJson& value);

// A number's integer value (cut toward zero, true is 1); a string's leading decimal integer
// after white space, with an optional sign (0 when there is none); anything else 0.
// Out-of-range values saturate.
int64_t KVInt(const KVJson& value);

// Arena card ids from a list, a number, a comma-separated string or the JSON text of a list.
std::vector<int64_t> KVIds(const KVJson& value);
