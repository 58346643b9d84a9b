// Decoders of the draft messages: joining an event, a pack shown, the player's pick, the end of
// a draft, and the bot-draft (Quick Draft) requests and statuses.
#include "arenalog/event_name.hpp"
#include "arenalog/log_entry.hpp"
#include "arenalog/log_values.hpp"

#include <limits>

namespace {

// `request` as a document (often JSON text inside the body), else `fallback`.
KVJson documentOr(const KVJson& value, KVJson fallback) {
    auto loaded = KVLoadsMaybe(value);
    return loaded ? std::move(*loaded) : std::move(fallback);
}

bool has(const KVJson& object, const char* key) {
    return object.is_object() && object.contains(key);
}

KVJson idList(const std::vector<int64_t>& ids) {
    return KVJson(ids);
}

// Bot drafts count packs and picks from 0; the program counts from 1.
int64_t fromZeroBased(int64_t n) {
    return n == std::numeric_limits<int64_t>::max() ? n : n + 1;
}

void putIfPresent(KVJson& payload, const char* key, const std::optional<std::string>& value) {
    if (value) {
        payload[key] = *value;
    }
}

} // namespace

void KVDecodeEventJoin(KVLogEntry& entry, KVDraftEvents& out) {
    if (!entry.contains("EventJoin") || !entry.contains("==>")) {
        return;
    }
    const auto& body = entry.body();
    if (!body) {
        return;
    }
    const KVJson request = documentOr(KVJsonAt(*body, "request"), *body);
    auto name = KVStr(KVJsonAt(request, "EventName"));
    if (!name) {
        name = KVStr(KVJsonAt(*body, "EventName"));
    }
    const KVEventFormat event = KVParseEventName(name.value_or(""));
    KVJson payload = {
        {"event_name", name.value_or("")}, {"format", event.format}, {"set_code", event.setCode}};
    auto id = KVStr(KVJsonAt(*body, "id"));
    if (!id) {
        id = KVStr(KVJsonAt(request, "Id"));
    }
    if (!id) {
        id = KVStr(KVJsonAt(request, "id"));
    }
    putIfPresent(payload, "event_id", id);
    out.emplace_back("event_join", std::move(payload));
}

void KVDecodePackNotification(KVLogEntry& entry, KVDraftEvents& out) {
    const size_t at = entry.text().find("Draft.Notify");
    if (at == std::string_view::npos) {
        return;
    }
    // The notification's own object follows its word; the entry may hold others before it.
    static const KVJsonMemberFilter keep = [](int depth, const std::string& key) {
        return depth > 1 || key == "PackCards" || key == "SelfPack" || key == "PackNumber" ||
               key == "SelfPick" || key == "PickNumber" || key == "draftId" || key == "DraftId";
    };
    const auto body = KVFirstJSON(entry.text().substr(at), keep);
    if (!body || !body->contains("PackCards")) {
        return;
    }
    int64_t pack = KVInt(KVJsonAt(*body, "SelfPack"));
    if (pack == 0) {
        pack = KVInt(KVJsonAt(*body, "PackNumber"));
    }
    int64_t pick = KVInt(KVJsonAt(*body, "SelfPick"));
    if (pick == 0) {
        pick = KVInt(KVJsonAt(*body, "PickNumber"));
    }
    KVJson payload = {
        {"pack", pack}, {"pick", pick}, {"arena_ids", idList(KVIds(KVJsonAt(*body, "PackCards")))}};
    auto draftId = KVStr(KVJsonAt(*body, "draftId"));
    if (!draftId) {
        draftId = KVStr(KVJsonAt(*body, "DraftId"));
    }
    putIfPresent(payload, "draft_id", draftId);
    payload["source"] = "notify";
    payload["num_to_pick"] = 1;
    out.emplace_back("pack", std::move(payload));
}

void KVDecodePlayerPick(KVLogEntry& entry, KVDraftEvents& out) {
    if (!entry.contains("EventPlayerDraftMakePick") || !entry.contains("==>")) {
        return;
    }
    const auto& body = entry.body();
    if (!body) {
        return;
    }
    const KVJson request = documentOr(KVJsonAt(*body, "request"), *body);
    const KVJson& ids = has(request, "GrpIds")   ? request["GrpIds"]
                        : has(request, "grpIds") ? request["grpIds"]
                                                 : KVJson::array();
    KVJson payload = {{"pack", KVInt(KVJsonAt(request, "Pack"))},
                      {"pick", KVInt(KVJsonAt(request, "Pick"))},
                      {"arena_ids", idList(KVIds(ids))}};
    putIfPresent(payload, "draft_id", KVStr(KVJsonAt(request, "DraftId")));
    out.emplace_back("pick", std::move(payload));
}

void KVDecodeDraftCompletion(KVLogEntry& entry, KVDraftEvents& out) {
    if (!entry.contains("DraftCompleteDraft")) {
        return;
    }
    const auto& body = entry.body();
    if (!body) {
        return;
    }
    const KVJson request = documentOr(KVJsonAt(*body, "request"), KVJson::object());
    const KVJson* pool = nullptr;
    if (has(*body, "CardPool")) {
        pool = &(*body)["CardPool"];
    } else if (has(*body, "cardPool")) {
        pool = &(*body)["cardPool"];
    } else if (has(request, "CardPool")) {
        pool = &request["CardPool"];
    }
    std::optional<KVJson> payloadDocument;
    if (pool == nullptr) {
        payloadDocument = KVLoadsMaybe(KVJsonAt(*body, "Payload"));
        if (payloadDocument && payloadDocument->is_object()) {
            pool = &KVJsonAt(*payloadDocument, "CardPool");
        }
    }
    KVJson payload = {
        {"arena_ids", idList(pool != nullptr ? KVIds(*pool) : std::vector<int64_t>{})}};
    auto name = KVStr(KVJsonAt(request, "EventName"));
    if (!name) {
        name = KVStr(KVJsonAt(*body, "InternalEventName"));
    }
    putIfPresent(payload, "event_name", name);
    out.emplace_back("complete", std::move(payload));
}

bool KVIsBotDraftEntry(const KVLogEntry& entry) {
    return (entry.contains("CurrentModule") && entry.contains("BotDraft")) ||
           entry.contains("BotDraftDraftPick") || entry.contains("BotDraftDraftStatus");
}

void KVDecodeBotDraft(KVLogEntry& entry, KVDraftEvents& out) {
    const auto& body = entry.body();
    if (!body) {
        return;
    }
    const KVJson status = documentOr(KVJsonAt(*body, "Payload"), *body);
    const KVJson request = documentOr(KVJsonAt(*body, "request"), KVJson::object());

    // The bot pick: the request carries what the player took.
    if (request.is_object()) {
        KVJson info = KVJsonAt(request, "PickInfo");
        if (info.is_string()) {
            info = KVLoadsMaybe(info).value_or(KVJson());
        }
        if (has(info, "CardIds")) {
            out.emplace_back("pick",
                             KVJson{{"pack", fromZeroBased(KVInt(KVJsonAt(info, "PackNumber")))},
                                    {"pick", fromZeroBased(KVInt(KVJsonAt(info, "PickNumber")))},
                                    {"arena_ids", idList(KVIds(info["CardIds"]))}});
        }
    }

    // The status: the pack in front of the player, or the end of the draft.
    if (!status.is_object()) {
        return;
    }
    const auto state = KVStr(KVJsonAt(status, "DraftStatus"));
    const std::vector<int64_t> packIds = KVIds(KVJsonAt(status, "DraftPack"));
    const std::vector<int64_t> picked = KVIds(KVJsonAt(status, "PickedCards"));
    auto name = KVStr(KVJsonAt(status, "EventName"));
    if (!name) {
        name = KVStr(KVJsonAt(request, "EventName"));
    }
    const KVEventFormat event = KVParseEventName(name.value_or(""));
    if (state == "Completed") {
        KVJson payload = {{"arena_ids", idList(picked)}};
        putIfPresent(payload, "event_name", name);
        out.emplace_back("complete", std::move(payload));
        return;
    }
    const bool picking = !state || state->empty() || state == "PickNext" || state == "Success";
    if (packIds.empty() || !picking) {
        return;
    }
    const int64_t toPick = KVInt(KVJsonAt(status, "NumCardsToPick"));
    KVJson pack = {{"pack", fromZeroBased(KVInt(KVJsonAt(status, "PackNumber")))},
                   {"pick", fromZeroBased(KVInt(KVJsonAt(status, "PickNumber")))},
                   {"arena_ids", idList(packIds)},
                   {"source", "bot"},
                   {"num_to_pick", toPick >= 2 ? toPick : 1}};
    putIfPresent(pack, "event_name", name);
    pack["format"] = event.format;
    pack["set_code"] = event.setCode;
    pack["picked_so_far"] = idList(picked);
    out.emplace_back("pack", std::move(pack));
    if (!event.format.empty()) {
        out.emplace_back("event_join", KVJson{{"event_name", name.value_or("")},
                                              {"format", event.format},
                                              {"set_code", event.setCode}});
    }
}
