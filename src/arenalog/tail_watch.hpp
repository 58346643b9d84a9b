#pragma once

#include "arenalog/json_object_scanner.hpp"

#include <cstdint>
#include <string>
#include <string_view>

// What is known about the parser's unfinished last entry as it grows append by append: which
// of the decoders' words it holds and where its JSON objects end. It answers whether decoding
// the entry now could give anything a decode before it did not, so a long entry arriving in
// small pieces is scanned once instead of once per piece.
class KVTailWatch {
public:
    // `buffer` is the unfinished entry so far (it only grows between resets); `trimmedTail` the
    // text that would be decoded. True when a decode could find something new.
    bool worthDecoding(std::string_view buffer, std::string_view trimmedTail);

    // The entry was completed or dropped: start again with the next one.
    void reset() { *this = KVTailWatch(); }

private:
    void scanWords(std::string_view buffer);

    size_t wordsScanned_ = 0;
    uint32_t words_ = 0;
    size_t notifyAt_ = KVJSONObjectScanner::npos;
    KVJSONObjectScanner entryObject_;
    KVJSONObjectScanner notifyObject_;

    // What the last decode saw; decoding the same again would find the same nothing.
    bool decoded_ = false;
    uint32_t decodedWords_ = 0;
    size_t decodedEntryEnd_ = 0;
    size_t decodedNotifyEnd_ = 0;
    std::string decodedHeader_;
};
