#include "arenalog/log_parser.hpp"

#include "arenalog/arena_time.hpp"
#include "arenalog/log_entry.hpp"
#include "base/find_bytes.hpp"
#include "base/utf8.hpp"

#include <cstring>

namespace {

// One decoder alone on one entry's text.
KVDraftEvents decodeWith(void (*decoder)(KVLogEntry&, KVDraftEvents&), std::string_view text) {
    KVLogEntry entry(text);
    KVDraftEvents events;
    decoder(entry, events);
    return events;
}

void append(KVDraftEvents& to, KVDraftEvents&& more) {
    to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

} // namespace

KVDraftEvents KVLogParser::feed(std::string_view text) {
    KV_CHECK_SEQUENCE(sequence_);
    KVDraftEvents events;
    buffer_.append(text);

    // Only the new text can hold a new marker, or one that began at the end of the old.
    std::vector<size_t> markers;
    for (size_t at = KVFindBytes(buffer_, kMarker, markerSearchFrom_); at != std::string_view::npos;
         at = KVFindBytes(buffer_, kMarker, at + kMarker.size())) {
        markers.push_back(at);
    }
    if (markers.empty()) {
        bufferUnits_ += KVUtf16Length(text);
        markerSearchFrom_ =
            buffer_.size() >= kMarker.size() ? buffer_.size() - kMarker.size() + 1 : 0;
    } else {
        decodePieces(markers, events);
        replaceBuffer(markers.back() + kMarker.size());
    }

    // A runaway entry is decoded as it stands and dropped; it is the last in the log so far.
    if (bufferUnits_ > kBufferLimit) {
        const std::string trimmed(KVTrimmed(buffer_));
        if (!trimmed.empty() && !decodedAlready(trimmed)) {
            append(events, parseEntry(trimmed));
        }
        tailParsed_.clear();
        replaceBuffer(buffer_.size());
    }
    append(events, parseTail());
    return events;
}

void KVLogParser::decodePieces(const std::vector<size_t>& markers, KVDraftEvents& events) {
    size_t start = 0;
    for (const size_t marker : markers) {
        const std::string_view piece =
            KVTrimmed(std::string_view(buffer_).substr(start, marker - start));
        start = marker + kMarker.size();
        if (piece.empty()) {
            continue;
        }
        if (decodedAlready(piece)) {
            tailParsed_.clear(); // decoded as the tail already; now complete
            continue;
        }
        append(events, parseEntry(piece));
    }
}

void KVLogParser::replaceBuffer(size_t keepFrom) {
    buffer_.erase(0, keepFrom);
    bufferUnits_ = KVUtf16Length(buffer_);
    markerSearchFrom_ = 0;
    watch_.reset();
    tailKnownDecoded_ = false;
}

bool KVLogParser::decodedAlready(std::string_view trimmed) const {
    return !tailParsed_.empty() && trimmed.substr(0, tailParsed_.size()) == tailParsed_;
}

std::string_view KVLogParser::tailText() const {
    std::string_view text(buffer_);
    const size_t longest = std::min(kMarker.size() - 1, text.size());
    for (size_t n = longest; n > 0; --n) {
        if (text.substr(text.size() - n) == kMarker.substr(0, n)) {
            return text.substr(0, text.size() - n);
        }
    }
    return text;
}

KVDraftEvents KVLogParser::parseTail() {
    KV_CHECK_SEQUENCE(sequence_);
    const std::string_view trimmed = KVTrimmed(tailText());
    if (trimmed.empty() || tailKnownDecoded_) {
        return {};
    }
    if (decodedAlready(trimmed)) {
        tailKnownDecoded_ = true; // the buffer only grows until the next marker
        return {};
    }
    if (!watch_.worthDecoding(buffer_, trimmed)) {
        return {};
    }
    const std::string entry(trimmed);
    KVDraftEvents events = parseEntry(entry);
    if (!events.empty()) {
        tailParsed_ = entry;
        tailKnownDecoded_ = true;
    }
    return events;
}

KVDraftEvents KVLogParser::flush() {
    KV_CHECK_SEQUENCE(sequence_);
    const std::string trimmed(KVTrimmed(buffer_));
    const bool already = decodedAlready(trimmed);
    tailParsed_.clear();
    replaceBuffer(buffer_.size());
    if (trimmed.empty() || already) {
        return {};
    }
    return parseEntry(trimmed);
}

void KVLogParser::reset() {
    KV_CHECK_SEQUENCE(sequence_);
    replaceBuffer(buffer_.size());
    lastTs_.clear();
    tailParsed_.clear();
}

KVDraftEvents KVLogParser::parseEntry(std::string_view entry) {
    KVLogEntry decoded(entry);
    const KVLogHeader& header = decoded.header();
    if (!header.timestamp.empty()) {
        lastTs_ = std::string(header.timestamp);
    }

    KVDraftEvents events;
    KVDecodeEventJoin(decoded, events);
    KVDecodePackNotification(decoded, events);
    KVDecodePlayerPick(decoded, events);
    KVDecodeDraftCompletion(decoded, events);
    if (KVIsBotDraftEntry(decoded)) {
        KVDecodeBotDraft(decoded, events);
    }
    if (header.direction == "<==") {
        if (header.method == "EventGetCoursesV2") {
            KVDecodeCourses(decoded, events);
        } else if (header.method == "RankGetCombinedRankInfo") {
            KVDecodeRank(decoded, events);
        } else if (header.method == "StartHook") {
            KVDecodeInventory(decoded, events);
        }
    }

    // Entries without a time of their own borrow the last one seen, and say so.
    if (lastTs_.empty() || events.empty()) {
        return events;
    }
    const bool borrowed = header.timestamp.empty();
    const std::string& iso = isoFor(lastTs_);
    for (KVDraftEvent& event : events) {
        if (!event.payload.contains("log_ts")) {
            event.payload["log_ts"] = iso;
        }
        if (borrowed) {
            event.payload["ts_approx"] = true;
        }
    }
    return events;
}

const std::string& KVLogParser::isoFor(const std::string& arenaTime) {
    if (arenaTime != isoSource_) {
        isoSource_ = arenaTime;
        iso_ = KVIsoFromArena(arenaTime);
    }
    return iso_;
}

KVDraftEvents KVLogParser::parseBot(std::string_view entry) {
    return decodeWith(KVDecodeBotDraft, entry);
}

KVDraftEvents KVLogParser::parseCourses(std::string_view entry) {
    return decodeWith(KVDecodeCourses, entry);
}

KVDraftEvents KVLogParser::parseRank(std::string_view entry) {
    return decodeWith(KVDecodeRank, entry);
}

KVDraftEvents KVLogParser::parseInventory(std::string_view entry) {
    return decodeWith(KVDecodeInventory, entry);
}

std::optional<KVJson> KVLogParser::firstJSON(std::string_view text) {
    return KVFirstJSON(text);
}

KVEventFormat KVLogParser::parseEventName(std::string_view name) {
    return KVParseEventName(name);
}

std::string KVLogParser::isoFromArena(std::string_view arenaTime) {
    return KVIsoFromArena(arenaTime);
}
