#include "e2e/demo_draft.hpp"

#include "base/files.hpp"
#include "base/json.hpp"
#include "server/demo_art.hpp"
#include "server/demo_set.hpp"
#include "vision/image_codec.hpp"

#include <sstream>

KVDemoDraft::KVDemoDraft(const std::string& logPath) {
    KVError error;
    const auto text = KVReadFile(logPath, &error);
    if (!text) {
        failure_ = logPath + ": " + error.message;
        return;
    }
    std::istringstream in(*text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    // A step runs to the body of the next pack shown; what follows the last pack is the last
    // step.
    size_t taken = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != "Draft.Notify") {
            continue;
        }
        const auto body = KVJsonParse(lines[i + 1]);
        if (!body) {
            failure_ = "line " + std::to_string(i + 2) + " is no pack";
            return;
        }
        KVDemoStep step;
        step.lines = i + 2 - taken;
        std::istringstream ids(KVJsonString(KVJsonAt(*body, "PackCards"), ""));
        for (std::string id; std::getline(ids, id, ',');) {
            step.pack.push_back(std::stoll(id));
        }
        step.name = "P" + std::to_string(KVJsonInt64(KVJsonAt(*body, "SelfPack"), 0)) + "p" +
                    std::to_string(KVJsonInt64(KVJsonAt(*body, "SelfPick"), 0));
        steps_.push_back(std::move(step));
        taken = i + 2;
    }
    if (steps_.empty()) {
        failure_ = logPath + " shows no pack";
        return;
    }
    steps_.push_back({lines.size() - taken, {}, "complete"});
}

KVDemoCard KVDemoDraft::card(int64_t arenaId) {
    const int index = KVSDemoSet::indexOfArenaId(arenaId);
    if (index < 0) {
        return {};
    }
    static const std::vector<KVJson> cards = KVSDemoSet::cards("");
    const KVJson& card = cards[static_cast<size_t>(index)];
    const KVJson& colours = KVJsonAt(card, "colors");
    return {arenaId, KVJsonString(KVJsonAt(card, "name"), ""),
            colours.is_array() && !colours.empty() ? KVJsonString(colours[0], "") : ""};
}

KVArenaScreen KVDemoDraft::screen(const std::vector<int64_t>& pack, int width, int height) {
    KVArenaScreenSpec spec;
    spec.width = width;
    spec.height = height;
    spec.cards = static_cast<int>(pack.size());
    kKVArenaLayouts[0].applyTo(spec);
    for (const int64_t id : pack) {
        const KVDemoCard card = KVDemoDraft::card(id);
        const auto art =
            KVImageFromData(KVSDemoArt::jpeg(KVSDemoSet::indexOfArenaId(id), card.colour));
        spec.cardImages.push_back(
            art.value_or(KVImage::blank(KVSDemoArt::kWidth, KVSDemoArt::kHeight)));
    }
    return KVRenderArenaScreen(spec);
}
