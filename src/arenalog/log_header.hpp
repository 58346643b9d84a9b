#pragma once

#include <string_view>

// The header at the start of a log entry: an optional time stamp in Arena's form
// ("3/7/2026 9:05:01 PM"), a direction arrow ("==>" a request the client sends, "<==" a
// response it receives) and a method name. Views point into the matched text.
struct KVLogHeader {
    std::string_view timestamp;
    std::string_view direction;
    std::string_view method;
};

// Matches the header at the very start of `window` (the entry's first 200 characters):
//   [M/D/YYYY H:MM:SS AM|PM <white space>] (==>|<==) <white space> [A-Za-z0-9_.]+
// Without a match every part is empty.
KVLogHeader KVMatchLogHeader(std::string_view window);

// The header of a whole entry, looked for in its first 200 characters only.
KVLogHeader KVMatchEntryHeader(std::string_view entry);

// The length of Arena's time stamp at the start of `text`, or 0 when there is none.
size_t KVArenaTimestampLength(std::string_view text);
