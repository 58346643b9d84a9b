#pragma once

#include <cstddef>
#include <string_view>

// Finds where the first top-level JSON object in a text ends, by counting braces outside
// strings. It can be fed the text a piece at a time, keeping its state between pieces, so an
// entry that arrives in many appends is scanned once in all.
class KVJSONObjectScanner {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    // Scans text[scanned, text.size()); `text` must extend what earlier calls saw. Returns true
    // once the object is complete.
    bool scan(std::string_view text);

    bool complete() const { return end_ != npos; }
    // Offsets of the object's first "{" and one past its closing "}" (npos until known).
    size_t begin() const { return begin_; }
    size_t end() const { return end_; }

private:
    size_t scanned_ = 0;
    size_t begin_ = npos;
    size_t end_ = npos;
    size_t depth_ = 0;
    bool inString_ = false;
    bool escape_ = false;
};
