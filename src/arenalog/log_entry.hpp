#pragma once

#include "arenalog/draft_event.hpp"
#include "arenalog/log_header.hpp"
#include "base/json.hpp"

#include <optional>
#include <string_view>
#include <vector>

using KVDraftEvents = std::vector<KVDraftEvent>;

// The first complete top-level JSON object in `text` (braces inside strings don't count),
// parsed; nothing when there is none, it is not closed, or it is not valid JSON.
std::optional<KVJson> KVFirstJSON(std::string_view text);
// The same, building only the members `keep` accepts (see KVJsonParseFiltered).
std::optional<KVJson> KVFirstJSON(std::string_view text, const KVJsonMemberFilter& keep);

// One log entry while the decoders look at it: its text, its header, and its first JSON
// object, parsed at most once however many decoders read it.
class KVLogEntry {
public:
    explicit KVLogEntry(std::string_view text);

    std::string_view text() const { return text_; }
    const KVLogHeader& header() const { return header_; }
    bool contains(std::string_view word) const { return text_.find(word) != text_.npos; }

    // KVFirstJSON(text()), parsed on first use, with the members the decoders read.
    const std::optional<KVJson>& body();

    // The body as far as the inventory decoder reads it: the "InventoryInfo" member with the
    // fields it copies. The full body when something else already parsed it. Arena's start-up
    // answer runs to megabytes, nearly all of it of no interest here.
    const std::optional<KVJson>& inventoryBody();

private:
    std::string_view text_;
    KVLogHeader header_;
    bool bodyParsed_ = false;
    std::optional<KVJson> body_;
    bool inventoryParsed_ = false;
    std::optional<KVJson> inventoryBody_;
};

// The decoders, each appending what it finds in one entry to `out`.
void KVDecodeEventJoin(KVLogEntry& entry, KVDraftEvents& out);
void KVDecodePackNotification(KVLogEntry& entry, KVDraftEvents& out);
void KVDecodePlayerPick(KVLogEntry& entry, KVDraftEvents& out);
void KVDecodeDraftCompletion(KVLogEntry& entry, KVDraftEvents& out);
bool KVIsBotDraftEntry(const KVLogEntry& entry);
void KVDecodeBotDraft(KVLogEntry& entry, KVDraftEvents& out);
void KVDecodeCourses(KVLogEntry& entry, KVDraftEvents& out);
void KVDecodeRank(KVLogEntry& entry, KVDraftEvents& out);
void KVDecodeInventory(KVLogEntry& entry, KVDraftEvents& out);
