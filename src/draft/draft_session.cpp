#include "draft/draft_session.hpp"

#include "base/crypto.hpp"
#include "base/environment.hpp"
#include "base/log.hpp"
#include "base/utf8.hpp"

#include <algorithm>

namespace {

constexpr const char* kDot = " \xC2\xB7 "; // " · "

std::vector<std::string> namesOf(const std::vector<KVCardRef>& cards) {
    std::vector<std::string> names;
    names.reserve(cards.size());
    for (const auto& card : cards) {
        names.push_back(card->name);
    }
    return names;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            text += separator;
        }
        text += parts[i];
    }
    return text;
}

std::string sortedJoined(std::vector<std::string> names, std::string_view separator) {
    std::sort(names.begin(), names.end());
    return joined(names, separator);
}

std::string orDefault(const std::string& value, const char* fallback) {
    return value.empty() ? fallback : value;
}

} // namespace

const std::set<std::string, std::less<>>& LimitedFormats() {
    static const std::set<std::string, std::less<>> formats = {
        "PremierDraft",     "TradDraft", "QuickDraft", "PickTwoDraft",
        "PickTwoTradDraft", "Sealed",    "TradSealed"};
    return formats;
}

const std::set<std::string, std::less<>>& SnapshotKinds() {
    static const std::set<std::string, std::less<>> kinds = {"rank", "inventory", "course"};
    return kinds;
}

KVDraftSession::KVDraftSession(std::shared_ptr<KVCatalog> cardCatalog)
    : catalog(std::move(cardCatalog)) {}

void KVDraftSession::setEvent(std::string_view name, std::string_view eventFormat,
                              std::string_view set) {
    KV_CHECK_SEQUENCE(sequence_);
    if (!name.empty()) {
        eventName = name;
    }
    if (!eventFormat.empty()) {
        format = eventFormat;
    }
    if (!set.empty()) {
        setCode = set;
        status = orDefault(format, "Draft") + " " + setCode;
    }
}

void KVDraftSession::startNewDraft() {
    KV_CHECK_SEQUENCE(sequence_);
    key.clear();
    draftId.clear();
    pool.clear();
    seen = KVJson::array();
    pack.clear();
    packSlots.clear();
    deck.reset();
    completed = false;
}

void KVDraftSession::recordPack(int64_t packNo, int64_t pickNo,
                                const std::vector<KVCardRef>& cards) {
    KV_CHECK_SEQUENCE(sequence_);
    if (cards.empty()) {
        return;
    }
    KVJson entry = {{"pack", packNo}, {"pick", pickNo}, {"names", namesOf(cards)}};
    for (KVJson& existing : seen) {
        if (existing.is_object() && KVJsonInt64(KVJsonAt(existing, "pack"), 0) == packNo &&
            KVJsonInt64(KVJsonAt(existing, "pick"), 0) == pickNo) {
            existing = std::move(entry);
            return;
        }
    }
    seen.push_back(std::move(entry));
}

void KVDraftSession::applyLogPack(int64_t packNo, int64_t pickNo,
                                  const std::vector<int64_t>& arenaIds, int64_t toPick,
                                  const std::optional<std::vector<int64_t>>& picked,
                                  std::string_view arenaDraftId) {
    KV_CHECK_SEQUENCE(sequence_);
    // The first pick of the first pack on a used session is a new draft.
    if (packNo < 2 && pickNo < 2 && (!pool.empty() || !seen.empty())) {
        startNewDraft();
    }
    completed = false;
    deck.reset();
    packNumber = packNo;
    pickNumber = pickNo;
    numToPick = toPick >= 2 ? toPick : 1;
    if (!arenaDraftId.empty()) {
        draftId = arenaDraftId;
    }
    pack = catalog->resolveIds(arenaIds);
    packSlots.assign(pack.size(), -1);
    recordPack(packNo, pickNo, pack);
    // Arena's own list of picks wins unless it knows fewer cards than the session.
    if (picked && picked->size() >= pool.size()) {
        pool = catalog->resolveIds(*picked);
    }
    status = "P" + std::to_string(packNo) + "P" + std::to_string(pickNo) + kDot +
             std::to_string(pack.size()) + " in pack" + kDot + std::to_string(pool.size()) +
             " pooled";
}

bool KVDraftSession::applyCourse(std::string_view courseId, std::string_view module,
                                 std::string_view courseEventName) {
    KV_CHECK_SEQUENCE(sequence_);
    if (courseId.empty() || KVLowercase(module).find("draft") == std::string::npos) {
        return false;
    }
    if (!eventName.empty() && !courseEventName.empty() && eventName != courseEventName) {
        return false; // another event's course
    }
    if (draftId == courseId) {
        return false;
    }
    draftId = courseId;
    return true;
}

void KVDraftSession::applyLogPick(int64_t packNo, int64_t pickNo,
                                  const std::vector<int64_t>& arenaIds) {
    KV_CHECK_SEQUENCE(sequence_);
    const std::vector<KVCardRef> taken = catalog->resolveIds(arenaIds);
    pool.insert(pool.end(), taken.begin(), taken.end());
    packNumber = packNo;
    pickNumber = pickNo;
    pack.clear();
    packSlots.clear();
    status =
        "Picked " + joined(namesOf(taken), ", ") + kDot + "pool " + std::to_string(pool.size());
}

void KVDraftSession::applyVision(const std::vector<KVSlotMatch>& matches) {
    KV_CHECK_SEQUENCE(sequence_);
    if (pack.empty()) {
        return;
    }
    std::vector<int64_t> slots;
    slots.reserve(pack.size());
    std::vector<std::string> described;
    for (const KVCardRef& card : pack) {
        const auto match = std::find_if(matches.begin(), matches.end(), [&card](const auto& m) {
            return m.card && m.card->name == card->name;
        });
        slots.push_back(match != matches.end() ? match->index : -1);
        described.push_back(card->name + "->" + std::to_string(slots.back()));
    }
    packSlots = std::move(slots);
    if (KVEnvironment::current()->draftDebug) {
        KVLog("[draft] pack->slot: %s", joined(described, ", ").c_str());
    }
}

void KVDraftSession::completeWithIds(const std::vector<int64_t>& arenaIds) {
    KV_CHECK_SEQUENCE(sequence_);
    if (!arenaIds.empty()) {
        pool = catalog->resolveIds(arenaIds);
    }
    completed = true;
    pack.clear();
    packSlots.clear();
    status = "Draft done" + std::string(kDot) + std::to_string(pool.size()) + " cards";
}

void KVDraftSession::reresolve() {
    KV_CHECK_SEQUENCE(sequence_);
    const auto better = [this](const KVCardRef& card) {
        KVCardRef found;
        if (card->arenaId != 0) {
            found = catalog->cardForArenaId(card->arenaId);
        }
        if (!found) {
            found = catalog->cardNamed(card->name);
        }
        return found ? found : card;
    };
    std::transform(pack.begin(), pack.end(), pack.begin(), better);
    std::transform(pool.begin(), pool.end(), pool.begin(), better);
    // Packs seen before the set loaded hold stand-in names ("Unknown <id>"): the service is
    // told the real ones, and the draft's identity is made from them.
    constexpr std::string_view kStandIn = "Unknown ";
    for (KVJson& entry : seen) {
        const auto names = entry.is_object() ? entry.find("names") : entry.end();
        if (names == entry.end() || !names->is_array()) {
            continue;
        }
        for (KVJson& name : *names) {
            const std::string* text = name.get_ptr<const std::string*>();
            if (text == nullptr || text->rfind(kStandIn, 0) != 0) {
                continue;
            }
            const int64_t id = KVJsonInt64(KVJson(text->substr(kStandIn.size())), 0);
            if (const KVCardRef found = id != 0 ? catalog->cardForArenaId(id) : nullptr) {
                name = found->name;
            }
        }
    }
}

std::string KVDraftSession::fingerprint() const {
    const auto order = [](const KVJson& entry) {
        return std::pair(KVJsonInt64(KVJsonAt(entry, "pack"), 0),
                         KVJsonInt64(KVJsonAt(entry, "pick"), 0));
    };
    const KVJson* first = nullptr;
    for (const KVJson& entry : seen) {
        if (entry.is_object() && (first == nullptr || order(entry) < order(*first))) {
            first = &entry;
        }
    }
    if (first == nullptr) {
        return "";
    }
    std::vector<std::string> names;
    // Iterating a JSON scalar visits the scalar itself: only a list holds names.
    if (const KVJson& list = KVJsonAt(*first, "names"); list.is_array()) {
        for (const KVJson& name : list) {
            names.push_back(KVJsonString(name, ""));
        }
    }
    const std::string text = sortedJoined(std::move(names), ",");
    if (text.empty()) {
        return "";
    }
    const std::string hash = KVSha1Hex(text);
    if (hash.empty()) {
        return "";
    }
    return orDefault(eventName, "draft") + ":" + orDefault(setCode, "?") + ":" + hash.substr(0, 12);
}

std::string KVDraftSession::consumeKey() {
    KV_CHECK_SEQUENCE(sequence_);
    if (!key.empty()) {
        return key;
    }
    std::string candidate = !draftId.empty() ? draftId : !eventId.empty() ? eventId : fingerprint();
    if (!candidate.empty()) {
        key = candidate;
        return key;
    }
    return orDefault(eventName, "draft") + ":" + orDefault(setCode, "?");
}

std::string KVDraftSession::packKey() const {
    return sortedJoined(namesOf(pack), "|");
}
