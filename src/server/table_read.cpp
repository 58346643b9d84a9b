#include "server/table_read.hpp"

#include "server/lane.hpp"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

constexpr int64_t kPackSize = 14;
constexpr int64_t kDrafters = 8;
constexpr int64_t kFirstLatePick = 5; // a good card still there from here on says something
constexpr double kGoodCard = 2.9;     // B- and up

std::string tierOf(double score, bool anyLate) {
    if (!anyLate) {
        return "unknown";
    }
    if (score >= 3.0) {
        return "wide";
    }
    if (score >= 1.5) {
        return "open";
    }
    if (score >= 0.6) {
        return "some";
    }
    if (score > 0) {
        return "thin";
    }
    return "cut";
}

double rounded(double value) {
    return std::round(value * 10) / 10;
}

} // namespace

KVJson KVSReadTable(const KVSCardSnapshot& cards, const KVSDraftState& state) {
    std::array<double, 5> score{};
    std::array<std::vector<std::pair<double, std::string>>, 5> late;
    std::array<std::vector<std::string>, 5> wheeled;
    // The names of each pack and pick seen, to find what came back after a full turn.
    std::map<std::pair<int64_t, int64_t>, const KVSSeenPack*> byPick;
    for (const KVSSeenPack& seen : state.seen) {
        byPick[{seen.pack, seen.pick}] = &seen;
    }
    for (const KVSSeenPack& seen : state.seen) {
        const auto earlier = byPick.find({seen.pack, seen.pick - kDrafters});
        // A pack holds at most 15 names: a scan beats building a set for every pick.
        static const std::vector<std::string> kNone;
        const std::vector<std::string>& before =
            earlier == byPick.end() ? kNone : earlier->second->names;
        for (const std::string& name : seen.names) {
            const KVSCardFacts* card = cards.find(name);
            if (!card || card->colors.size() != 1) {
                continue;
            }
            const size_t c = kKVSColors.find(card->colors.front());
            if (std::find(before.begin(), before.end(), name) != before.end()) {
                score[c] += 0.5;
                wheeled[c].push_back(card->name);
            }
            if (seen.pick >= kFirstLatePick && card->quality >= kGoodCard) {
                const double lateness =
                    std::min(2.0, static_cast<double>(seen.pick - kFirstLatePick + 1) * 0.25);
                score[c] += lateness * (card->quality - 2.0);
                late[c].emplace_back(card->quality, card->name);
            }
        }
    }
    // The first picks of a pack say nothing about the neighbours: until a pack has gone round
    // a few seats, every colour is unknown rather than cut.
    const bool anyLate =
        std::any_of(state.seen.begin(), state.seen.end(),
                    [](const KVSSeenPack& seen) { return seen.pick >= kFirstLatePick; });
    KVJson colours = KVJson::array();
    std::array<size_t, 5> order{0, 1, 2, 3, 4};
    std::stable_sort(order.begin(), order.end(),
                     [&score](size_t a, size_t b) { return score[a] > score[b]; });
    for (const size_t c : order) {
        std::stable_sort(late[c].begin(), late[c].end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        KVJson lateNames = KVJson::array();
        for (const auto& entry : late[c]) {
            lateNames.push_back(entry.second);
        }
        KVJson& colour = colours.emplace_back(KVJson::object());
        colour["colour"] = std::string(1, kKVSColors[c]);
        colour["score"] = rounded(score[c]);
        colour["tier"] = tierOf(score[c], anyLate);
        colour["late"] = std::move(lateNames);
        colour["wheeled"] = std::move(wheeled[c]);
    }
    const int64_t wheelsAt =
        state.pickNumber + kDrafters <= kPackSize ? state.pickNumber + kDrafters : 0;
    // What the pool took in pack one was kept from the left-hand neighbour, who will pass
    // less of it in pack two.
    std::string cuts;
    if (state.packNumber >= 2) {
        std::vector<std::string_view> firstPack;
        for (const KVSSeenPack& seen : state.seen) {
            if (seen.pack == 1) {
                firstPack.insert(firstPack.end(), seen.names.begin(), seen.names.end());
            }
        }
        std::sort(firstPack.begin(), firstPack.end());
        std::array<int, 5> taken{};
        for (const std::string& name : state.pool) {
            if (!std::binary_search(firstPack.begin(), firstPack.end(), std::string_view(name))) {
                continue;
            }
            if (const KVSCardFacts* card = cards.find(name)) {
                for (const char color : card->colors) {
                    ++taken[kKVSColors.find(color)];
                }
            }
        }
        for (size_t c = 0; c < taken.size(); ++c) {
            if (taken[c] >= 3) {
                cuts += (cuts.empty() ? "P1 cuts: " : ", ") + std::string(1, kKVSColors[c]);
            }
        }
    }
    std::string format = state.format;
    std::transform(format.begin(), format.end(), format.begin(), ::tolower);
    KVJson table = KVJson::object();
    table["colours"] = state.seen.empty() ? KVJson::array() : std::move(colours);
    table["pack"] = state.packNumber;
    // Packs one and three pass left, so they arrive from the right.
    table["from"] = state.packNumber == 2 ? "left" : "right";
    table["wheelsAt"] = wheelsAt;
    table["bots"] =
        format.find("quick") != std::string::npos || format.find("bot") != std::string::npos;
    table["cuts"] = std::move(cuts);
    return table;
}

std::string KVSTableTier(const KVJson& table, char color) {
    for (const KVJson& entry : KVJsonAt(table, "colours")) {
        if (KVJsonString(KVJsonAt(entry, "colour"), "") == std::string(1, color)) {
            return KVJsonString(KVJsonAt(entry, "tier"), "unknown");
        }
    }
    return "unknown";
}

KVJson KVSReadPool(const std::vector<const KVSCardFacts*>& pool, const std::vector<char>& lane) {
    int64_t playables = 0;
    int64_t creatures = 0;
    int64_t removal = 0;
    int64_t tricks = 0;
    int64_t fixing = 0;
    std::map<std::string, int64_t> curve{{"1", 0}, {"2", 0}, {"3", 0},
                                         {"4", 0}, {"5", 0}, {"6+", 0}};
    for (const auto& card : pool) {
        if (!card) {
            continue;
        }
        const bool castable = std::all_of(card->colors.begin(), card->colors.end(), [&](char c) {
            return lane.empty() || std::find(lane.begin(), lane.end(), c) != lane.end();
        });
        if (card->isLand()) {
            fixing += card->isBasicLand() ? 0 : 1;
            continue;
        }
        if (castable && card->quality >= 2.3) {
            ++playables;
        }
        creatures += card->isCreature() ? 1 : 0;
        const bool kills = card->isRemoval();
        removal += kills ? 1 : 0;
        tricks += !kills && card->typeLine.find("Instant") != std::string::npos &&
                          card->oracleText.find("gets +") != std::string::npos
                      ? 1
                      : 0;
        const auto cost = static_cast<int64_t>(std::llround(card->cmc));
        curve[cost >= 6 ? "6+" : std::to_string(std::max<int64_t>(1, cost))] += 1;
    }
    const int64_t taken = static_cast<int64_t>(pool.size());
    KVJson shortOn = KVJson::array();
    if (taken >= 10 && creatures * 2 < taken) {
        shortOn.push_back("creatures");
    }
    if (taken >= 10 && removal < 2) {
        shortOn.push_back("removal");
    }
    if (taken >= 15 && curve["2"] < 3) {
        shortOn.push_back("two-drops");
    }
    return {{"playables", playables},
            {"target", 23},
            {"creatures", creatures},
            {"removal", removal},
            {"cardsLeft", std::max<int64_t>(0, 3 * kPackSize - taken)},
            {"tricks", tricks},
            {"fixing", fixing},
            {"curve", curve},
            {"shortOn", shortOn}};
}
