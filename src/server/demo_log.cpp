#include "server/demo_log.hpp"

#include "base/files.hpp"
#include "base/json.hpp"
#include "server/card_index.hpp"
#include "server/demo_set.hpp"

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr int kSeats = 8;
constexpr int kPackSize = 14;
constexpr int kPacks = 3;
constexpr const char* kMarker = "[UnityCrossThreadLogger]";
constexpr const char* kEvent = "PremierDraft_KVD_20261207";
constexpr const char* kDraftId = "6b0d1f2e-3c4a-4d5b-8e6f-7a8b9c0d1e2f";

class LogWriter {
public:
    void entry(const std::string& header, const KVJson& body) {
        seconds_ += 7;
        const int h = 18 + seconds_ / 3600;
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "12/7/2026 %d:%02d:%02d PM", h % 12 == 0 ? 12 : h % 12,
                      seconds_ / 60 % 60, seconds_ % 60);
        text_ += std::string(kMarker) + stamp + "\n" + header + "\n" + KVJsonDump(body) + "\n";
    }
    void request(const std::string& method, const KVJson& request) {
        ++requests_;
        char id[40];
        std::snprintf(id, sizeof id, "%08x-0000-4000-8000-000000000000", requests_);
        entry("==> " + method, {{"id", id}, {"request", KVJsonDump(request)}});
    }
    void line(const std::string& text) { text_ += text + "\n"; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    int seconds_ = 0;
    unsigned requests_ = 0;
};

} // namespace

bool KVSWriteDemoLog(const std::string& path, KVError* error) {
    const std::vector<KVJson> cards = KVSDemoSet::cards("");
    KVSCardIndex index;
    index.add(cards);
    std::vector<int64_t> draftable; // every card but the lands
    for (const KVJson& card : cards) {
        if (!index.find(card["name"].get<std::string>())->isLand()) {
            draftable.push_back(card["arena_id"].get<int64_t>());
        }
    }
    const auto quality = [&cards, &index](int64_t arenaId) {
        const KVJson& card = cards[static_cast<size_t>(KVSDemoSet::indexOfArenaId(arenaId))];
        return index.find(card["name"].get<std::string>())->quality;
    };

    std::mt19937 random(20261207);
    LogWriter log;
    log.line("Mono path[0] = 'C:/Program Files/Wizards of the Coast/MTGA/MTGA_Data/Managed'");
    log.line("Initialize engine version: 2022.3.42f1 (b4c2d3e1)");
    log.request("EventJoin",
                {{"EventName", kEvent}, {"EntryCurrencyType", "Gem"}, {"EntryCurrencyPaid", 1500}});
    std::vector<int64_t> pool;
    for (int pack = 1; pack <= kPacks; ++pack) {
        std::vector<std::vector<int64_t>> packs(kSeats);
        for (auto& contents : packs) {
            std::sample(draftable.begin(), draftable.end(), std::back_inserter(contents), kPackSize,
                        random);
            std::shuffle(contents.begin(), contents.end(), random);
        }
        for (int pick = 1; pick <= kPackSize; ++pick) {
            // Seat 0 is the player; the pack in front of seat s came from its neighbour.
            std::vector<int64_t>& mine = packs[0];
            std::string shown;
            for (const int64_t id : mine) {
                if (!shown.empty()) {
                    shown += ',';
                }
                shown += std::to_string(id);
            }
            log.entry("Draft.Notify", {{"draftId", kDraftId},
                                       {"SelfPick", pick},
                                       {"SelfPack", pack},
                                       {"PackCards", shown}});
            const auto best =
                std::max_element(mine.begin(), mine.end(), [&quality](int64_t a, int64_t b) {
                    return quality(a) < quality(b);
                });
            const int64_t taken = *best;
            mine.erase(best);
            pool.push_back(taken);
            log.request(
                "EventPlayerDraftMakePick",
                {{"DraftId", kDraftId}, {"GrpIds", {taken}}, {"Pack", pack}, {"Pick", pick}});
            for (int seat = 1; seat < kSeats; ++seat) {
                auto& theirs = packs[static_cast<size_t>(seat)];
                theirs.erase(theirs.begin() + static_cast<long>(random() % theirs.size()));
            }
            // Packs one and three go left, pack two goes right.
            if (pack == 2) {
                std::rotate(packs.begin(), packs.begin() + 1, packs.end());
            } else {
                std::rotate(packs.rbegin(), packs.rbegin() + 1, packs.rend());
            }
        }
    }
    log.request("DraftCompleteDraft", {{"EventName", kEvent}, {"IsBotDraft", false}});
    log.entry("<== DraftCompleteDraft(5a0c7e11)",
              {{"CourseId", "c0a80001-demo"}, {"InternalEventName", kEvent}, {"CardPool", pool}});
    return KVWriteFileAtomically(path, log.text(), error);
}
