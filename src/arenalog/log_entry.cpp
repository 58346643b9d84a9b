#include "arenalog/log_entry.hpp"

#include "arenalog/json_object_scanner.hpp"

namespace {

std::optional<KVJson> objectOrNothing(std::optional<KVJson> value) {
    return value && value->is_object() ? std::move(value) : std::nullopt;
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

} // namespace

std::optional<KVJson> KVFirstJSON(std::string_view text) {
    KVJSONObjectScanner scanner;
    if (!scanner.scan(text)) {
        return std::nullopt;
    }
    return objectOrNothing(
        KVJsonParse(text.substr(scanner.begin(), scanner.end() - scanner.begin())));
}

KVLogEntry::KVLogEntry(std::string_view text) : text_(text), header_(KVMatchEntryHeader(text)) {}

const std::optional<KVJson>& KVLogEntry::body() {
    if (!bodyParsed_) {
        body_ = KVFirstJSON(text_);
        bodyParsed_ = true;
    }
    return body_;
}

const std::optional<KVJson>& KVLogEntry::inventoryBody() {
    if (bodyParsed_) {
        return body_;
    }
    if (!inventoryParsed_) {
        KVJSONObjectScanner scanner;
        if (scanner.scan(text_)) {
            inventoryBody_ = objectOrNothing(KVJsonParseFiltered(
                text_.substr(scanner.begin(), scanner.end() - scanner.begin()), inventoryMember));
        }
        inventoryParsed_ = true;
    }
    return inventoryBody_;
}
