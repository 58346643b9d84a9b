#include "vision/vision.hpp"

#include "draft_screen/arena_screen.hpp"
#include "vision/phash.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

// Five hosted card images dealt as a pack at 1920 × 1080, and their art hashes as candidates
// ("card 0" … "card 4"), with a sixth card that is not on screen.
struct Pack {
    KVArenaScreen screen;
    std::vector<KVCandidate> candidates;

    Pack() {
        KVArenaScreenSpec spec;
        kKVArenaLayouts[0].applyTo(spec);
        spec.cards = 5;
        spec.seed = 31;
        spec.jpegQuality = 85;
        spec.cardImages = KVHostedCardFaces();
        screen = KVRenderArenaScreen(spec);
        for (size_t i = 0; i < spec.cardImages.size(); ++i) {
            candidates.push_back(card("card " + std::to_string(i), spec.cardImages[i]));
        }
        candidates.push_back(card("card 5", KVRenderCardFace(488, 680, 777)));
    }

    static KVCandidate card(const std::string& name, const KVImage& image) {
        return {std::make_shared<KVCard>(name), {KVPHashOfArt(image).value()}};
    }
};

std::vector<KVNormRect> moved(const std::vector<KVNormRect>& slots, double dx, double scale) {
    std::vector<KVNormRect> out;
    for (const KVNormRect& s : slots) {
        out.push_back(KVSlotTransform{dx, 0, scale}.apply(s));
    }
    return out;
}

} // namespace

// One common move registers slots that detection left off the cards; slots already on the cards
// stay; a hint is used as given, without a search; and art that matches no candidate is no pack.
TEST(SlotRegistration, OneMoveForThePackHintsAndNoPack) {
    const Pack p;
    const std::vector<KVNormRect>& truth = p.screen.slots;
    // The art-less inverse of every card: as far as a hash can be from the cards on screen.
    std::vector<KVCandidate> absent;
    for (size_t i = 0; i < 2; ++i) {
        KVArtHash inverse = p.candidates[i].artHashes.front();
        for (uint8_t& byte : inverse) {
            byte = static_cast<uint8_t>(~byte);
        }
        absent.push_back({std::make_shared<KVCard>("inverse " + std::to_string(i)), {inverse}});
    }
    struct Case {
        const char* what;
        std::vector<KVNormRect> slots;
        std::optional<KVSlotTransform> hint;
        const std::vector<KVCandidate>* candidates;
        bool searched, notAPack, named;
        double dx, scale; // the transform expected back (within a search step)
    };
    const std::vector<Case> cases = {
        {"slots 3 % right and 3 % small", moved(truth, 0.03, 0.97), std::nullopt, &p.candidates,
         true, false, true, -0.03, 1.03},
        {"slots on the cards", truth, std::nullopt, &p.candidates, true, false, true, 0, 1},
        {"a hint, used as it is", moved(truth, 0.03, 1), KVSlotTransform{-0.03, 0, 1},
         &p.candidates, false, false, true, -0.03, 1},
        {"no candidate is on screen", truth, std::nullopt, &absent, true, true, false, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string debug;
        const KVPackIdentification result =
            KVVision::identifyPack(p.screen.image, c.slots, *c.candidates, c.hint, &debug);
        EXPECT_EQ(result.searched, c.searched) << debug;
        EXPECT_EQ(result.notAPack, c.notAPack) << debug;
        EXPECT_NEAR(result.transform.dx, c.dx, 0.011) << debug;
        EXPECT_NEAR(result.transform.scale, c.scale, 0.016) << debug;
        EXPECT_EQ(debug.find("[vision] not a pack") != std::string::npos, c.notAPack) << debug;
        ASSERT_EQ(result.matches.size(), c.slots.size());
        for (size_t i = 0; i < result.matches.size(); ++i) {
            const KVSlotMatch& m = result.matches[i];
            if (c.named) {
                ASSERT_NE(m.card, nullptr) << i;
                EXPECT_EQ(m.card->name, "card " + std::to_string(i));
                EXPECT_EQ(m.method, "phash");
            } else if (c.notAPack) {
                EXPECT_EQ(m.card, nullptr) << i;
                EXPECT_EQ(m.method, "none");
            }
            // The reported rectangle is where the art was read.
            EXPECT_NEAR(m.normRect.x, result.transform.apply(c.slots[i]).x, 1e-12);
        }
    }
}
