#pragma once

#include "base/error.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The dynamic value of every JSON document read or written.
using KVJson = nlohmann::json;

// Outside documents deeper than this are refused: copying and dumping recurse, so an
// unbounded depth would let a hostile file or answer overflow the stack.
inline constexpr int kKVJsonMaxDepth = 128;

// Outside documents that would build more values than this are refused, so that a file or an
// answer of millions of tiny values cannot take gigabytes. The largest real ones (a set's
// cards, Arena's start-up answer) build a few hundred thousand.
inline constexpr size_t kKVJsonMaxValues = size_t{1} << 21;

// Parses outside text in time linear in its length. Never throws: malformed text, nesting
// deeper than `maxDepth` (at least 1) or more than kKVJsonMaxValues values give nothing and
// an error in domain "KorvaneJSON" (code 1 malformed, 2 too deep, 3 too many values). The
// whole text is checked, and the check stops at the first level too deep. A byte-order mark
// at the start is skipped. Values are those nlohmann's own reader makes, except that "-0"
// reads as the unsigned 0 rather than the signed one (they compare and print alike).
std::optional<KVJson> KVJsonParse(std::string_view text, KVError* error = nullptr,
                                  int maxDepth = kKVJsonMaxDepth);

// Like KVJsonParse, but builds only the members `keep` accepts: keep(depth, key) is asked for
// every object member of the values built, with depth 1 for the members of the top-level
// object. What it refuses is still checked for syntax and depth but never built (nor asked
// about), so a huge document costs little when only a small part of it is wanted; only the
// values built count against kKVJsonMaxValues.
using KVJsonMemberFilter = std::function<bool(int depth, const std::string& key)>;
std::optional<KVJson> KVJsonParseFiltered(std::string_view text, const KVJsonMemberFilter& keep,
                                          KVError* error = nullptr, int maxDepth = kKVJsonMaxDepth);

// Serialises a value; indent < 0 gives the compact form. Never throws: invalid UTF-8 in
// strings is replaced by U+FFFD.
std::string KVJsonDump(const KVJson& value, int indent = -1);

// Typed readers. They never fail: a missing or mistyped value gives the fallback.

// The member `key` of an object; a shared null when `object` is not an object or lacks it,
// so lookups chain: KVJsonAt(KVJsonAt(body, "a"), "b").
const KVJson& KVJsonAt(const KVJson& object, std::string_view key);

// A string as it is; anything else gives nothing.
std::optional<std::string> KVJsonString(const KVJson& value);
std::string KVJsonString(const KVJson& value, std::string_view fallback);

// A string as it is; a number as its text (an integral value without a fraction, a boolean
// as 1 or 0, as Arena and the service mean them); anything else gives nothing.
std::optional<std::string> KVJsonText(const KVJson& value);

// Booleans read the way the settings file has always been read: a boolean as it is, a number
// by being non-zero, a string by its leading text ("Y", "y", "T", "t" or a non-zero digit after
// optional white space, sign and zeros is true). Null, missing and other types give fallback.
bool KVJsonBool(const KVJson& value, bool fallback);

// A number as it is, a boolean as 1 or 0, a string by the decimal number at its start (0 when
// there is none). Null, missing and other types give the fallback.
double KVJsonDouble(const KVJson& value, double fallback);

// Like KVJsonDouble, converted to an integer: fractions cut toward zero, out-of-range values
// saturate, NaN gives 0.
int64_t KVJsonInt64(const KVJson& value, int64_t fallback);

// Saturating conversion of an outside floating-point number to a 64-bit integer.
int64_t KVSaturatingInt64(double value);
