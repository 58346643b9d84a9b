#pragma once

#include "base/json.hpp"
#include "base/sequence_checker.hpp"
#include "draft/card.hpp"
#include "draft/catalog.hpp"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The formats whose packs are sent for grading.
const std::set<std::string, std::less<>>& LimitedFormats();
// Event kinds that describe the account; each distinct one goes to telemetry once.
const std::set<std::string, std::less<>>& SnapshotKinds();

// A text of the service's answer: a string as it is, a number as its text, anything else "".
std::string KVS(const KVJson& value);

// The service's grade of one card.
struct KVGrade {
    std::string grade = "?";
    std::string reason;
};

// The draft in progress: its event and identity, the pack on screen with each card's slot, the
// pool, every pack seen, and what the service said about the current pack. One for the life of
// the program; main thread only (the catalog it reads takes its own lock).
class KVDraftSession {
public:
    explicit KVDraftSession(std::shared_ptr<KVCatalog> catalog);

    std::shared_ptr<KVCatalog> catalog;
    std::string key; // the draft's identity once consumeKey() fixed it
    std::string setCode;
    std::string format;
    std::string eventName;
    std::string eventId;
    std::string draftId;
    int64_t packNumber = 0;
    int64_t pickNumber = 0;
    int64_t numToPick = 1;
    std::vector<KVCardRef> pack;
    std::vector<int64_t> packSlots; // screen slot per pack card, -1 when not known
    std::vector<KVCardRef> pool;
    KVJson seen = KVJson::array(); // {"pack", "pick", "names"} per pack shown, one per pair
    bool completed = false;
    std::string status = "Waiting for a draft";
    KVJson credits; // a number, or null when not known
    std::optional<std::string> accountEmail;
    bool locked = false;
    std::string lockedReason;

    // What the service said about the current pack.
    std::map<std::string, KVGrade> grades; // by lower-case card name
    std::string bestPick;
    std::string runnerUp;
    std::string secondPick;
    std::vector<std::string> colorsOpen;
    std::string summary;
    std::string warning;
    KVJson lane = KVJson::object();
    KVJson table = KVJson::object();
    KVJson poolRead = KVJson::object();
    std::string analyzeError;
    bool analyzing = false;
    std::optional<KVJson> deck;

    // Non-empty arguments replace the event name, format and set code.
    void setEvent(std::string_view name, std::string_view eventFormat, std::string_view set);
    // Forgets the draft (identity, pool, packs seen, deck), keeping the event and the analysis.
    void startNewDraft();
    void recordPack(int64_t packNo, int64_t pickNo, const std::vector<KVCardRef>& cards);
    // A pack Arena showed. `picked` is Arena's own list of the player's picks (bot drafts).
    void applyLogPack(int64_t packNo, int64_t pickNo, const std::vector<int64_t>& arenaIds,
                      int64_t toPick, const std::optional<std::vector<int64_t>>& picked,
                      std::string_view arenaDraftId);
    // An event the player is in; true when it gave the draft a new id.
    bool applyCourse(std::string_view courseId, std::string_view module,
                     std::string_view courseEventName);
    void applyLogPick(int64_t packNo, int64_t pickNo, const std::vector<int64_t>& arenaIds);
    void applyVision(const std::vector<KVSlotMatch>& matches);
    void completeWithIds(const std::vector<int64_t>& arenaIds);
    // Replaces placeholder cards once the set has loaded.
    void reresolve();

    // The draft's identity derived from its first pack: "<event>:<set>:<12 hex digits>".
    std::string fingerprint() const;
    // The draft's identity for the service; fixed once known.
    std::string consumeKey();
    // The current pack's identity, whatever the order of its cards.
    std::string packKey() const;

    void setAnalysis(const KVJson& answer);
    void clearAnalysis();
    // One row per pack card to show: best pick first, then the second pick, then pack order.
    std::vector<KVAdvice> advice() const;

private:
    KVSequenceChecker sequence_;
};
