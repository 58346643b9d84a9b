#include "arenalog/tail_watch.hpp"

#include "arenalog/log_header.hpp"
#include "base/find_bytes.hpp"

#include <array>
#include <cstring>

namespace {

// Every word a decoder looks for in an entry. "Draft.Notify" also marks where the pack
// notification's own object starts.
constexpr std::array<std::string_view, 9> kWords = {
    "Draft.Notify",       "EventJoin",     "==>",      "EventPlayerDraftMakePick",
    "DraftCompleteDraft", "CurrentModule", "BotDraft", "BotDraftDraftPick",
    "BotDraftDraftStatus"};
constexpr size_t kNotify = 0;

constexpr size_t longestWord() {
    size_t longest = 0;
    for (const auto word : kWords) {
        longest = word.size() > longest ? word.size() : longest;
    }
    return longest;
}

} // namespace

void KVTailWatch::scanWords(std::string_view buffer) {
    // Look again at the last few bytes already seen: a word may straddle two appends.
    const size_t overlap = longestWord() - 1;
    const size_t from = wordsScanned_ > overlap ? wordsScanned_ - overlap : 0;
    const std::string_view fresh = buffer.substr(from);
    for (size_t i = 0; i < kWords.size(); ++i) {
        if ((words_ & (1u << i)) != 0) {
            continue;
        }
        const size_t at = KVFindBytes(fresh, kWords[i]);
        if (at != std::string_view::npos) {
            words_ |= 1u << i;
            if (i == kNotify) {
                notifyAt_ = from + at;
            }
        }
    }
    wordsScanned_ = buffer.size();
}

bool KVTailWatch::worthDecoding(std::string_view buffer, std::string_view trimmedTail) {
    scanWords(buffer);
    entryObject_.scan(buffer);
    // The notification's object is the first one after its word. When no object starts before
    // the word, that is the entry's own object, and one scan serves both (a notification can
    // be most of a megabyte of braces). Once true this stays true as the entry grows.
    const bool notifyIsEntryObject =
        notifyAt_ != KVJSONObjectScanner::npos &&
        (entryObject_.begin() == KVJSONObjectScanner::npos || entryObject_.begin() >= notifyAt_);
    if (notifyAt_ != KVJSONObjectScanner::npos && !notifyIsEntryObject) {
        notifyObject_.scan(buffer.substr(notifyAt_));
    }
    // Every decoder needs a complete object: without one a decode finds nothing.
    if (!entryObject_.complete() && !notifyObject_.complete()) {
        return false;
    }
    const KVLogHeader header = KVMatchEntryHeader(trimmedTail);
    std::string headerKey;
    headerKey.append(header.timestamp).append("|").append(header.direction).append("|");
    headerKey.append(header.method);
    const size_t entryEnd = entryObject_.end();
    const size_t notifyEnd = notifyIsEntryObject ? entryObject_.end() : notifyObject_.end();
    if (decoded_ && words_ == decodedWords_ && entryEnd == decodedEntryEnd_ &&
        notifyEnd == decodedNotifyEnd_ && headerKey == decodedHeader_) {
        return false;
    }
    decoded_ = true;
    decodedWords_ = words_;
    decodedEntryEnd_ = entryEnd;
    decodedNotifyEnd_ = notifyEnd;
    decodedHeader_ = std::move(headerKey);
    return true;
}
