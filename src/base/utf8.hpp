#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Strings are UTF-8. Where the program counts characters it counts UTF-16 code units, as the
// game's own texts are measured; these helpers do that counting without cutting a sequence.

// UTF-16 code units of `utf8`: one per character below U+10000, two above; a byte that is not
// part of a valid sequence counts as one.
size_t KVUtf16Length(std::string_view utf8);

// The byte length of the longest prefix holding at most `units` UTF-16 code units. Never ends
// inside a sequence: a character that would be split is left out whole.
size_t KVUtf8OffsetOfUnits(std::string_view utf8, size_t units);

bool KVIsValidUtf8(std::string_view bytes);

// How many bytes at the end of `bytes` begin a valid UTF-8 sequence that is not complete yet
// (0 to 3): what a reader should hold back until the next read.
size_t KVUtf8IncompleteTail(std::string_view bytes);

// Counts continuation bytes at the start of `bytes` (at most 3): the rest of a character whose
// beginning lies before a read's starting offset.
size_t KVUtf8OrphanContinuations(std::string_view bytes);

// Valid UTF-8 sequences are kept as they are; every other byte is read as Latin-1 (the
// character with that code), so the result is always valid UTF-8 and nothing is dropped.
std::string KVDecodeUtf8OrLatin1(std::string_view bytes);

// `text` without white space and line ends at either end: ASCII white space, and the Unicode
// spaces and line separators (U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000).
std::string_view KVTrimmed(std::string_view text);

// `text` in lower case: ASCII letters and the Latin-1 capitals (U+00C0 to U+00DE), which is
// every capital in card names; other characters are kept as they are.
std::string KVLowercase(std::string_view text);
// The same into `out`, reusing its storage; `text` must not point into `out`.
void KVLowercaseInto(std::string_view text, std::string* out);

// `text` without spaces and tabs at either end (line ends and other white space are kept).
std::string_view KVTrimSpacesAndTabs(std::string_view text);
