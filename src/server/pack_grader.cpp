#include "server/pack_grader.hpp"

#include "server/card_quality.hpp"
#include "server/lane.hpp"
#include "server/table_read.hpp"

#include <algorithm>

namespace {

// Real drafts stay far below these; they only bound what a hostile body can cost.
constexpr size_t kMaxNames = 100;
constexpr size_t kMaxSeen = 60;

std::vector<std::string> names(const KVJson& list) {
    std::vector<std::string> out;
    if (!list.is_array()) {
        return out;
    }
    for (const KVJson& item : list) {
        if (out.size() == kMaxNames) {
            break;
        }
        if (auto text = KVJsonString(item); text && !text->empty()) {
            out.push_back(std::move(*text));
        }
    }
    return out;
}

struct Graded {
    std::string name;
    const KVSCardFacts* card; // null for a name the card data lacks
    double score = 0;
    std::string reason;
};

} // namespace

KVSDraftState KVSDraftState::fromJSON(const KVJson& body) {
    KVSDraftState state;
    state.pack = names(KVJsonAt(body, "pack"));
    state.pool = names(KVJsonAt(body, "pool"));
    const KVJson& seen = KVJsonAt(body, "seen");
    if (seen.is_array()) {
        for (const KVJson& entry : seen) {
            if (state.seen.size() == kMaxSeen) {
                break;
            }
            if (entry.is_object()) {
                state.seen.push_back({KVJsonInt64(KVJsonAt(entry, "pack"), 0),
                                      KVJsonInt64(KVJsonAt(entry, "pick"), 0),
                                      names(KVJsonAt(entry, "names"))});
            }
        }
    }
    state.packNumber = std::clamp<int64_t>(KVJsonInt64(KVJsonAt(body, "packNumber"), 1), 1, 99);
    state.pickNumber = std::clamp<int64_t>(KVJsonInt64(KVJsonAt(body, "pickNumber"), 1), 1, 99);
    state.picks = std::clamp<int64_t>(KVJsonInt64(KVJsonAt(body, "picks"), 1), 1, 14);
    state.format = KVJsonString(KVJsonAt(body, "format"), "PremierDraft");
    return state;
}

KVJson KVSAnalyzePack(const KVSCardIndex& index, const KVSDraftState& state) {
    const auto snapshot = index.snapshot();
    const KVSCardSnapshot& cards = *snapshot;
    std::vector<const KVSCardFacts*> pool;
    for (const std::string& name : state.pool) {
        pool.push_back(cards.find(name));
    }
    const KVSLane lane = KVSLane::of(pool);
    KVJson table = KVSReadTable(cards, state);

    std::vector<Graded> graded;
    size_t unknown = 0;
    for (const std::string& name : state.pack) {
        Graded entry{name, cards.find(name), 0, ""};
        if (!entry.card) {
            ++unknown;
            graded.push_back(std::move(entry));
            continue;
        }
        const double penalty = lane.offColorPenalty(*entry.card);
        entry.score = std::max(0.0, entry.card->quality - penalty);
        entry.reason = entry.card->reason;
        if (penalty > 0) {
            entry.reason += "; outside your " + lane.colorText() + " lane";
        }
        graded.push_back(std::move(entry));
    }
    // Best first; equal scores by name, so the answer never depends on the pack's order.
    std::vector<const Graded*> ranked;
    for (const Graded& entry : graded) {
        if (entry.card) {
            ranked.push_back(&entry);
        }
    }
    std::sort(ranked.begin(), ranked.end(), [](const Graded* a, const Graded* b) {
        return a->score != b->score ? a->score > b->score : a->name < b->name;
    });

    KVJson picks = KVJson::array();
    for (const Graded& entry : graded) {
        KVJson& pick = picks.emplace_back(KVJson::object());
        pick["name"] = entry.name;
        pick["grade"] = entry.card ? KVSGradeFor(entry.score) : "?";
        pick["reason"] = entry.card ? entry.reason : "Not in the card data";
    }
    const std::string best = ranked.empty() ? "" : ranked[0]->name;
    const std::string next = ranked.size() > 1 ? ranked[1]->name : "";

    std::string warning;
    if (!ranked.empty() && lane.offColorPenalty(*ranked[0]->card) > 0) {
        warning = best + " is outside your " + lane.colorText() + " lane.";
    } else if (unknown > 0) {
        warning = std::to_string(unknown) + (unknown == 1 ? " card is" : " cards are") +
                  " missing from the card data and could not be graded.";
    }
    std::string summary;
    if (!ranked.empty()) {
        summary = best + ": " + ranked[0]->reason + ".";
        if (lane.commitment != "open") {
            summary += " You are " + lane.commitment + " " + lane.colorText() + ".";
        }
    }

    KVJson open = KVJson::array();
    KVJson contested = KVJson::array();
    KVJson cut = KVJson::array();
    std::string watch;
    for (const char color : kKVSColors) {
        const std::string tier = KVSTableTier(table, color);
        const std::string letter(1, color);
        const bool inLane =
            std::find(lane.colors.begin(), lane.colors.end(), color) != lane.colors.end();
        if (tier == "wide" || tier == "open") {
            open.push_back(letter);
            if (!inLane && watch.empty() && lane.commitment != "open") {
                watch = KVSColorName(color) + " is flowing: keep an eye on it.";
            }
        }
        if (inLane && (tier == "thin" || tier == "cut")) {
            contested.push_back(letter);
        }
        if (tier == "cut") {
            cut.push_back(letter);
        }
    }
    KVJson poolRead = KVSReadPool(pool, lane.colors);
    std::string hole;
    const KVJson& shortOn = KVJsonAt(poolRead, "shortOn");
    if (!shortOn.empty()) {
        hole = "Short on " + KVJsonString(shortOn.front(), "") + ".";
    }
    // Assigned member by member: a braced list would copy every nested value once more.
    KVJson answer = KVJson::object();
    answer["picks"] = std::move(picks);
    answer["best"] = best;
    answer["runnerUp"] = next;
    answer["second"] = state.picks >= 2 ? next : "";
    answer["warning"] = std::move(warning);
    answer["summary"] = std::move(summary);
    answer["colorsOpen"] = std::move(open);
    KVJson& laneRead = answer["lane"];
    laneRead["commitment"] = lane.commitment;
    laneRead["colors"] = lane.colorText();
    laneRead["contested"] = std::move(contested);
    laneRead["cut"] = std::move(cut);
    laneRead["hole"] = std::move(hole);
    laneRead["watch"] = std::move(watch);
    answer["table"] = std::move(table);
    answer["pool"] = std::move(poolRead);
    return answer;
}
