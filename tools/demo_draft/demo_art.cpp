#include "demo_draft/demo_art.hpp"

#include "base/json.hpp"
#include "server/demo_art.hpp"
#include "server/demo_set.hpp"
#include "vision/image_codec.hpp"

namespace {

const std::vector<KVJson>& demoCards() {
    static const std::vector<KVJson> cards = KVSDemoSet::cards("");
    return cards;
}

} // namespace

KVArenaScreenSpec KVDemoScreenSpec(int width, int height) {
    KVArenaScreenSpec spec;
    kKVArenaLayouts[0].applyTo(spec);
    spec.width = width;
    spec.height = height;
    spec.cards = 15;
    return spec;
}

KVDemoCard KVDemoArt::card(int64_t arenaId) {
    const int index = KVSDemoSet::indexOfArenaId(arenaId);
    if (index < 0) {
        return {};
    }
    const KVJson& card = demoCards()[static_cast<size_t>(index)];
    const KVJson& colours = KVJsonAt(card, "colors");
    return {arenaId, KVJsonString(KVJsonAt(card, "name"), ""),
            colours.is_array() && !colours.empty() ? KVJsonString(colours[0], "") : ""};
}

const KVImage* KVDemoArt::of(int64_t arenaId) {
    if (auto found = decoded_.find(arenaId); found != decoded_.end()) {
        return &found->second;
    }
    const KVDemoCard demo = card(arenaId);
    if (demo.arenaId == 0) {
        return nullptr;
    }
    auto image =
        KVImageFromData(KVSDemoArt::jpeg(KVSDemoSet::indexOfArenaId(arenaId), demo.colour));
    if (!image) {
        return nullptr;
    }
    return &decoded_.emplace(arenaId, std::move(*image)).first->second;
}

std::optional<KVArenaScreen> KVDemoArt::screen(const std::vector<int64_t>& pack, int width,
                                               int height, uint32_t seed, std::string* error) {
    KVArenaScreenSpec spec = KVDemoScreenSpec(width, height);
    spec.cards = static_cast<int>(pack.size());
    spec.seed = seed;
    for (const int64_t id : pack) {
        const KVImage* image = of(id);
        if (!image) {
            if (error) {
                *error = "no art for Arena id " + std::to_string(id);
            }
            return std::nullopt;
        }
        spec.cardImages.push_back(*image);
    }
    return KVRenderArenaScreen(spec);
}
