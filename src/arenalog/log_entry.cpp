#include "arenalog/log_entry.hpp"

#include "arenalog/json_object_scanner.hpp"

#include <algorithm>
#include <iterator>

namespace {

std::optional<KVJson> objectOrNothing(std::optional<KVJson> value) {
    return value && value->is_object() ? std::move(value) : std::nullopt;
}

// The members of an entry's body that some decoder reads, directly or as the request, status
// or payload it stands for. The rest (most of a multi-megabyte answer) is checked, not built.
constexpr std::string_view kBodyMembers[] = {
    "request", "Payload", "id", "Id", "EventName", "InternalEventName",
    // pick requests
    "GrpIds", "grpIds", "Pack", "Pick", "DraftId", "PickInfo",
    // draft completions and bot-draft statuses
    "CardPool", "cardPool", "DraftStatus", "DraftPack", "PickedCards", "NumCardsToPick",
    "PackNumber", "PickNumber",
    // courses and rank
    "Courses", "constructedClass", "constructedLevel", "limitedClass", "limitedLevel",
    "limitedStep", "limitedMatchesWon", "limitedMatchesLost", "limitedSeasonOrdinal",
    "constructedSeasonOrdinal",
    // the inventory, when another decoder parsed the body first
    "InventoryInfo",
    // pack notifications
    "PackCards", "SelfPack", "SelfPick"};

bool bodyMember(int depth, const std::string& key) {
    return depth > 1 || std::find(std::begin(kBodyMembers), std::end(kBodyMembers), key) !=
                            std::end(kBodyMembers);
}

// Which members the inventory decoder reads.
bool inventoryMember(int depth, const std::string& key) {
    if (depth == 1) {
        return key == "InventoryInfo";
    }
    if (depth == 2) {
        return key == "Gems" || key == "Gold" || key == "TotalVaultProgress" ||
               key == "WildCardCommons" || key == "WildCardUnCommons" || key == "WildCardRares" ||
               key == "WildCardMythics" || key == "Boosters";
    }
    return true;
}

std::optional<KVJson> firstObject(std::string_view text, const KVJsonMemberFilter* keep) {
    KVJSONObjectScanner scanner;
    if (!scanner.scan(text)) {
        return std::nullopt;
    }
    const std::string_view object = text.substr(scanner.begin(), scanner.end() - scanner.begin());
    return objectOrNothing(keep != nullptr ? KVJsonParseFiltered(object, *keep)
                                           : KVJsonParse(object));
}

} // namespace

std::optional<KVJson> KVFirstJSON(std::string_view text) {
    return firstObject(text, nullptr);
}

std::optional<KVJson> KVFirstJSON(std::string_view text, const KVJsonMemberFilter& keep) {
    return firstObject(text, &keep);
}

KVLogEntry::KVLogEntry(std::string_view text) : text_(text), header_(KVMatchEntryHeader(text)) {}

const std::optional<KVJson>& KVLogEntry::body() {
    if (!bodyParsed_) {
        static const KVJsonMemberFilter keep = bodyMember;
        body_ = KVFirstJSON(text_, keep);
        bodyParsed_ = true;
    }
    return body_;
}

const std::optional<KVJson>& KVLogEntry::inventoryBody() {
    if (bodyParsed_) {
        return body_;
    }
    if (!inventoryParsed_) {
        static const KVJsonMemberFilter keep = inventoryMember;
        inventoryBody_ = KVFirstJSON(text_, keep);
        inventoryParsed_ = true;
    }
    return inventoryBody_;
}
