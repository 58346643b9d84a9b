// What the service said about the current pack, and the advice rows made from it.
#include "base/environment.hpp"
#include "base/log.hpp"
#include "base/utf8.hpp"
#include "draft/draft_session.hpp"

#include <algorithm>

std::string KVS(const KVJson& value) {
    return KVJsonText(value).value_or("");
}

void KVDraftSession::setAnalysis(const KVJson& answer) {
    KV_CHECK_SEQUENCE(sequence_);
    std::map<std::string, KVGrade> graded;
    const KVJson& picks = KVJsonAt(answer, "picks");
    if (picks.is_array()) {
        for (const KVJson& pick : picks) {
            if (!pick.is_object()) {
                continue;
            }
            const std::string text = KVS(KVJsonAt(pick, "name"));
            const std::string_view name = KVTrimSpacesAndTabs(text);
            if (name.empty()) {
                continue;
            }
            const std::string grade = KVS(KVJsonAt(pick, "grade"));
            graded[KVLowercase(name)] = {grade.empty() ? "?" : grade,
                                         KVS(KVJsonAt(pick, "reason"))};
        }
    }
    grades = std::move(graded);
    bestPick = KVS(KVJsonAt(answer, "best"));
    colorsOpen.clear();
    const KVJson& open = KVJsonAt(answer, "colorsOpen");
    if (open.is_array()) {
        for (const KVJson& colour : open) {
            colorsOpen.push_back(KVS(colour));
        }
    }
    summary = KVS(KVJsonAt(answer, "summary"));
    const auto objectOrEmpty = [&answer](const char* name) {
        const KVJson& value = KVJsonAt(answer, name);
        return value.is_object() ? value : KVJson::object();
    };
    lane = objectOrEmpty("lane");
    runnerUp = KVS(KVJsonAt(answer, "runnerUp"));
    secondPick = KVS(KVJsonAt(answer, "second"));
    warning = KVS(KVJsonAt(answer, "warning"));
    table = objectOrEmpty("table");
    poolRead = objectOrEmpty("pool");
    analyzeError.clear();
    analyzing = false;
    if (const KVJson& given = KVJsonAt(answer, "credits"); given.is_number()) {
        credits = given;
    }
}

void KVDraftSession::clearAnalysis() {
    KV_CHECK_SEQUENCE(sequence_);
    grades.clear();
    bestPick.clear();
    runnerUp.clear();
    secondPick.clear();
    colorsOpen.clear();
    summary.clear();
    warning.clear();
    lane = KVJson::object();
    table = KVJson::object();
    poolRead = KVJson::object();
    analyzeError.clear();
}

std::vector<KVAdvice> KVDraftSession::advice() const {
    std::vector<KVAdvice> rows;
    const bool graded = !grades.empty();
    const bool debug = KVEnvironment::current()->draftDebug;
    for (size_t i = 0; i < pack.size(); ++i) {
        const KVCardRef& card = pack[i];
        if (!card) {
            continue; // the pack is the caller's to fill: a gap is no card to advise on
        }
        KVAdvice row;
        row.card = card;
        if (graded) {
            const auto entry = grades.find(KVLowercase(card->name));
            if (entry == grades.end()) {
                continue; // the service left it out: no row
            }
            row.grade = entry->second.grade;
            row.reason = entry->second.reason;
        }
        row.slot = i < packSlots.size() ? packSlots[i] : -1;
        if (debug) {
            KVLog("[draft] advice %s = %s -> slot %ld", card->name.c_str(), row.grade.c_str(),
                  static_cast<long>(row.slot));
        }
        rows.push_back(std::move(row));
    }
    if (!graded || rows.empty()) {
        return rows;
    }
    std::vector<std::string> order;
    for (const std::string* pick : {&bestPick, &secondPick}) {
        if (!pick->empty()) {
            order.push_back(KVLowercase(*pick));
        }
    }
    const auto rank = [&order](const KVAdvice& row) {
        const auto at = std::find(order.begin(), order.end(), KVLowercase(row.card->name));
        return static_cast<size_t>(at - order.begin());
    };
    std::stable_sort(rows.begin(), rows.end(),
                     [&rank](const KVAdvice& a, const KVAdvice& b) { return rank(a) < rank(b); });
    return rows;
}
