// Decoders of Arena's account answers: the player's courses (events entered), rank and
// inventory.
#include "arenalog/event_name.hpp"
#include "arenalog/log_entry.hpp"
#include "arenalog/log_values.hpp"

#include <array>
#include <utility>

namespace {

using FieldMap = std::array<std::pair<const char*, const char*>, 7>;

// Rank payload key ← Arena field (the season is read on its own).
constexpr FieldMap kRankFields = {{
    {"constructed_class", "constructedClass"},
    {"constructed_level", "constructedLevel"},
    {"limited_class", "limitedClass"},
    {"limited_level", "limitedLevel"},
    {"limited_step", "limitedStep"},
    {"limited_wins", "limitedMatchesWon"},
    {"limited_losses", "limitedMatchesLost"},
}};

// Inventory payload key ← field of "InventoryInfo" (boosters are read on their own).
constexpr FieldMap kInventoryFields = {{
    {"gems", "Gems"},
    {"gold", "Gold"},
    {"vault_progress", "TotalVaultProgress"},
    {"wc_common", "WildCardCommons"},
    {"wc_uncommon", "WildCardUnCommons"},
    {"wc_rare", "WildCardRares"},
    {"wc_mythic", "WildCardMythics"},
}};

// Copies each present, non-null field unchanged, whatever its type.
void copyFields(const KVJson& from, const FieldMap& fields, KVJson& payload) {
    for (const auto& [key, field] : fields) {
        const KVJson& value = KVJsonAt(from, field);
        if (!value.is_null()) {
            payload[key] = value;
        }
    }
}

} // namespace

void KVDecodeCourses(KVLogEntry& entry, KVDraftEvents& out) {
    const auto& body = entry.body();
    if (!body) {
        return;
    }
    const KVJson& courses = KVJsonAt(*body, "Courses");
    if (!courses.is_array()) {
        return;
    }
    for (const KVJson& course : courses) {
        if (!course.is_object()) {
            continue;
        }
        const std::string name = KVStr(KVJsonAt(course, "InternalEventName")).value_or("");
        const KVEventFormat event = KVParseEventName(name);
        KVJson payload = {
            {"event_name", name}, {"format", event.format}, {"set_code", event.setCode}};
        if (auto id = KVStr(KVJsonAt(course, "CourseId"))) {
            payload["course_id"] = *id;
        }
        if (auto module = KVStr(KVJsonAt(course, "CurrentModule"))) {
            payload["module"] = *module;
        }
        payload["wins"] = KVInt(KVJsonAt(course, "CurrentWins"));
        payload["losses"] = KVInt(KVJsonAt(course, "CurrentLosses"));
        if (auto pool = KVIds(KVJsonAt(course, "CardPool")); !pool.empty()) {
            payload["pool"] = pool;
        }
        out.emplace_back("course", std::move(payload));
    }
}

void KVDecodeRank(KVLogEntry& entry, KVDraftEvents& out) {
    const auto& body = entry.body();
    if (!body) {
        return;
    }
    KVJson payload = KVJson::object();
    copyFields(*body, kRankFields, payload);
    // A limited season that is present but null hides the constructed one.
    const bool hasLimited = body->is_object() && body->contains("limitedSeasonOrdinal");
    const KVJson& season =
        KVJsonAt(*body, hasLimited ? "limitedSeasonOrdinal" : "constructedSeasonOrdinal");
    if (!season.is_null()) {
        payload["season"] = season;
    }
    if (!payload.empty()) {
        out.emplace_back("rank", std::move(payload));
    }
}

void KVDecodeInventory(KVLogEntry& entry, KVDraftEvents& out) {
    const auto& body = entry.inventoryBody();
    if (!body) {
        return;
    }
    const KVJson& info = KVJsonAt(*body, "InventoryInfo");
    if (!info.is_object()) {
        return;
    }
    KVJson payload = KVJson::object();
    copyFields(info, kInventoryFields, payload);
    KVJson boosters = KVJson::object();
    const KVJson& list = KVJsonAt(info, "Boosters");
    if (list.is_array()) {
        for (const KVJson& booster : list) {
            if (!booster.is_object()) {
                continue;
            }
            if (auto code = KVStr(KVJsonAt(booster, "SetCode"))) {
                boosters[*code] = KVInt(KVJsonAt(booster, "Count"));
            }
        }
    }
    if (!boosters.empty()) {
        payload["boosters"] = std::move(boosters);
    }
    if (!payload.empty()) {
        out.emplace_back("inventory", std::move(payload));
    }
}
