#pragma once

#include "arenalog/draft_event.hpp"
#include "arenalog/event_name.hpp"
#include "arenalog/tail_watch.hpp"
#include "base/json.hpp"
#include "base/sequence_checker.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

using KVDraftEvents = std::vector<KVDraftEvent>;

// Turns the text of Arena's Player.log, chunk by chunk as the tailer reads it, into draft
// events, in log order. Entries begin at Arena's logger marker; each is decoded once, when it
// is complete or earlier, as soon as its message can be read. Not thread-safe: one caller (the
// main thread).
class KVLogParser {
public:
    static constexpr std::string_view kMarker = "[UnityCrossThreadLogger]";
    // An unfinished entry longer than this many characters is decoded as it stands and dropped.
    static constexpr size_t kBufferLimit = 1000000;

    // Appends a chunk; returns the events of the entries it completed and, when it can already
    // be read, of the unfinished last entry.
    KVDraftEvents feed(std::string_view text);

    // Decodes the unfinished last entry, unless it was decoded already or can't be yet.
    KVDraftEvents parseTail();

    // Decodes whatever is left as a final entry and empties the buffer (end of a file).
    KVDraftEvents flush();

    // Decodes one entry: its header, every message decoder, the time stamps.
    KVDraftEvents parseEntry(std::string_view entry);

    // Forgets everything: buffer, last time stamp, decoded tail.
    void reset();

    // Single decoders, on one entry's text.
    KVDraftEvents parseBot(std::string_view entry);
    KVDraftEvents parseCourses(std::string_view entry);
    KVDraftEvents parseRank(std::string_view entry);
    KVDraftEvents parseInventory(std::string_view entry);

    static std::optional<KVJson> firstJSON(std::string_view text);
    static KVEventFormat parseEventName(std::string_view name);
    static std::string isoFromArena(std::string_view arenaTime);

    // The most recent entry time stamp seen, in Arena's form.
    const std::string& lastTs() const { return lastTs_; }

private:
    // The buffer without a trailing start of a marker that the next chunk may complete.
    std::string_view tailText() const;
    void replaceBuffer(size_t keepFrom);
    void decodePieces(const std::vector<size_t>& markers, KVDraftEvents& events);
    bool decodedAlready(std::string_view trimmed) const;
    const std::string& isoFor(const std::string& arenaTime);

    std::string buffer_;
    size_t bufferUnits_ = 0; // UTF-16 length of buffer_
    std::string lastTs_;
    std::string tailParsed_;

    size_t markerSearchFrom_ = 0;
    KVTailWatch watch_;
    bool tailKnownDecoded_ = false; // tailParsed_ is a prefix of the current tail
    std::string isoSource_;
    std::string iso_;
    KVSequenceChecker sequence_; // the main thread feeds the parser
};
