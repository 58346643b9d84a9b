// How well the art hash tells real pictures apart once they are shown on screen.
//
//   art_robustness DIR...
//
// Finds the photographs under each DIR (one picture per wallpaper: the largest of the sizes a
// Plasma wallpaper ships in contents/images/), shrinks each to at most three card heights, cuts
// it into a grid of card-sized 488 × 680 regions that do not overlap, and treats each region as a
// card image from the image host (JPEG, quality 90). Each card is then shown "on screen": shrunk to
// the card sizes Arena draws (200 × 280, 250 × 350, 300 × 420), JPEG-compressed at quality 80 as a
// stand-in for capture noise, and hashed with KVPHashOfArt. The report compares each on-screen hash
// with its own card's hash and with every other card's, and counts how often the nearest card is
// the right one. Run by scripts/art-robustness; not part of the tests.
#include "photographs.hpp"

#include "base/files.hpp"
#include "vision/image_codec.hpp"
#include "vision/image_crop.hpp"
#include "vision/phash.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kCardWidth = 488;
constexpr int kCardHeight = 680;
constexpr int kRowsPerPhoto = 3; // card heights in a photograph's shorter side, at most
constexpr int kMaxCardsPerPhoto = 24;

struct Variant {
    const char* name;
    int width;
    int height;
    int shift; // pixels the slot crop is off by, right and down
};
// The first three are the study; the last shows what a slot crop 2 px off costs.
const Variant kVariants[] = {{"200x280", 200, 280, 0},
                             {"250x350", 250, 350, 0},
                             {"300x420", 300, 420, 0},
                             {"250x350 2px off", 250, 350, 2}};
constexpr int kMainVariants = 3;

struct Card {
    int photo = 0;
    KVArtHash hash{};
};

struct Screen {
    int card = 0;
    int variant = 0;
    KVArtHash hash{};
};

int percentile(std::vector<int> values, double p) {
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(std::lround(p * static_cast<double>(values.size() - 1)))];
}

int median(const std::vector<int>& values) {
    return percentile(values, 0.5);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR...\n", argv[0]);
        return 2;
    }
    const auto photoFiles = KVFindPhotographs(std::vector<std::string>(argv + 1, argv + argc));
    std::vector<std::string> photoNames;
    std::vector<int> photoRegions; // regions cut from each photograph
    std::vector<int> photoFlat;    // of which the contrast gate refused
    std::vector<Card> cards;
    std::vector<Screen> screens;
    int flatCards = 0;
    int flatScreens = 0;

    for (const auto& [name, path] : photoFiles) {
        const auto bytes = KVReadFile(path.string());
        auto photo = bytes ? KVImageFromData(*bytes) : std::nullopt;
        if (!photo) {
            std::fprintf(stderr, "skipped (unreadable): %s\n", path.c_str());
            continue;
        }
        // Shrink so that the shorter side holds three card heights: a card then shows a part of
        // a scene rather than a patch of sky, and a photograph still gives many cards.
        const double scale = static_cast<double>(kRowsPerPhoto * kCardHeight) /
                             std::min(photo->width, photo->height);
        if (scale < 1.0) {
            photo = KVShrinkImage(*photo, static_cast<int>(photo->width * scale),
                                  static_cast<int>(photo->height * scale));
        }
        const int columns = photo->width / kCardWidth;
        const int rows = photo->height / kCardHeight;
        const int tiles = columns * rows;
        if (tiles == 0) {
            continue;
        }
        const int photoIndex = static_cast<int>(photoNames.size());
        photoNames.push_back(name);
        photoRegions.push_back(0);
        photoFlat.push_back(0);
        const int take = std::min(tiles, kMaxCardsPerPhoto);
        for (int t = 0; t < take; ++t) {
            const int tile = t * tiles / take; // spread over the grid, never overlapping
            const int x = (photo->width - columns * kCardWidth) / 2 + (tile % columns) * kCardWidth;
            const int y = (photo->height - rows * kCardHeight) / 2 + (tile / columns) * kCardHeight;
            const KVImage region = KVCropImage(*photo, x, y, kCardWidth, kCardHeight);
            const auto hosted = KVThroughJPEG(region, 90);
            const auto hash = hosted ? KVPHashOfArt(*hosted) : std::nullopt;
            ++photoRegions[photoIndex];
            if (!hash) {
                ++flatCards;
                ++photoFlat[photoIndex];
                continue;
            }
            const int cardIndex = static_cast<int>(cards.size());
            cards.push_back({photoIndex, *hash});
            for (int v = 0; v < static_cast<int>(std::size(kVariants)); ++v) {
                const Variant& variant = kVariants[v];
                KVImage shown = KVShrinkImage(region, variant.width, variant.height);
                if (variant.shift != 0) {
                    shown =
                        KVCropImage(shown, variant.shift, variant.shift,
                                    variant.width - variant.shift, variant.height - variant.shift);
                }
                const auto captured = KVThroughJPEG(shown, 80);
                const auto screenHash = captured ? KVPHashOfArt(*captured) : std::nullopt;
                if (!screenHash) {
                    ++flatScreens;
                    continue;
                }
                screens.push_back({cardIndex, v, *screenHash});
            }
        }
    }
    if (cards.size() < 2) {
        std::fprintf(stderr, "not enough pictures found\n");
        return 1;
    }

    // Per variant and per photograph: own distances, distances to other cards, right answers.
    const size_t variantCount = std::size(kVariants);
    std::vector<std::vector<int>> same(variantCount), other(variantCount), margin(variantCount);
    std::vector<int> right(variantCount, 0), ties(variantCount, 0), shownCount(variantCount, 0);
    std::vector<std::vector<int>> photoSame(photoNames.size()), photoOther(photoNames.size());
    std::vector<int> photoRight(photoNames.size(), 0), photoShown(photoNames.size(), 0);
    for (const Screen& screen : screens) {
        const int own = KVPHashDistance(screen.hash, cards[screen.card].hash);
        int nearestOther = 257;
        for (size_t c = 0; c < cards.size(); ++c) {
            if (static_cast<int>(c) != screen.card) {
                const int d = KVPHashDistance(screen.hash, cards[c].hash);
                other[screen.variant].push_back(d);
                nearestOther = std::min(nearestOther, d);
            }
        }
        same[screen.variant].push_back(own);
        margin[screen.variant].push_back(nearestOther - own);
        ++shownCount[screen.variant];
        right[screen.variant] += own < nearestOther ? 1 : 0;
        ties[screen.variant] += own == nearestOther ? 1 : 0;
        if (screen.variant < kMainVariants) {
            const int photo = cards[screen.card].photo;
            photoSame[photo].push_back(own);
            photoOther[photo].push_back(nearestOther);
            ++photoShown[photo];
            photoRight[photo] += own < nearestOther ? 1 : 0;
        }
    }
    std::vector<int> allSame, allOther, allMargin;
    int allRight = 0;
    int allShown = 0;
    for (int v = 0; v < kMainVariants; ++v) {
        allSame.insert(allSame.end(), same[v].begin(), same[v].end());
        allOther.insert(allOther.end(), other[v].begin(), other[v].end());
        allMargin.insert(allMargin.end(), margin[v].begin(), margin[v].end());
        allRight += right[v];
        allShown += shownCount[v];
    }

    std::printf("Art-hash robustness: %zu photographs, %zu cards (488x680 regions, JPEG q90), "
                "on-screen crops JPEG q80\n",
                photoNames.size(), cards.size());
    std::printf("Refused by the contrast gate: %d card regions, %d on-screen crops\n\n", flatCards,
                flatScreens);
    std::printf("Distances in bits of 256. Same = on-screen crop vs its own card; other = vs "
                "every other card.\n");
    std::printf("%-16s %6s | %-20s | %-16s | %-14s | %s\n", "on screen", "crops",
                "same min/med/p95/max", "other min/p5/med", "margin min/p5", "nearest is right");
    const auto row = [&](const char* name, const std::vector<int>& s, const std::vector<int>& o,
                         const std::vector<int>& m, int ok, int n, int tie) {
        char sameText[32];
        char otherText[32];
        char marginText[32];
        std::snprintf(sameText, sizeof sameText, "%d/%d/%d/%d", percentile(s, 0), median(s),
                      percentile(s, 0.95), percentile(s, 1));
        std::snprintf(otherText, sizeof otherText, "%d/%d/%d", percentile(o, 0),
                      percentile(o, 0.05), median(o));
        std::snprintf(marginText, sizeof marginText, "%d/%d", percentile(m, 0),
                      percentile(m, 0.05));
        std::printf("%-16s %6d | %-20s | %-16s | %-14s | %d/%d (%.1f %%)%s\n", name, n, sameText,
                    otherText, marginText, ok, n, n > 0 ? 100.0 * ok / n : 0.0,
                    tie > 0 ? (" ties " + std::to_string(tie)).c_str() : "");
    };
    for (size_t v = 0; v < variantCount; ++v) {
        if (static_cast<int>(v) == kMainVariants) {
            row("all three sizes", allSame, allOther, allMargin, allRight, allShown,
                ties[0] + ties[1] + ties[2]);
        }
        row(kVariants[v].name, same[v], other[v], margin[v], right[v], shownCount[v], ties[v]);
    }

    std::printf("\nA threshold on the distance (three sizes):\n  %-9s %-22s %s\n", "distance",
                "same crops within", "other pairs within");
    for (const int limit : {16, 24, 32, 40, 48, 56, 64, 72, 80}) {
        const auto within = [limit](const std::vector<int>& values) {
            return 100.0 *
                   static_cast<double>(std::count_if(values.begin(), values.end(),
                                                     [&](int d) { return d <= limit; })) /
                   static_cast<double>(std::max<size_t>(values.size(), 1));
        };
        std::printf("  <= %-6d %-22.1f %.3f\n", limit, within(allSame), within(allOther));
    }

    std::printf("\nPer photograph (three sizes):\n  %-16s %-15s %-6s %-16s %-20s %s\n",
                "photograph", "regions/flat", "crops", "same med/max", "nearest other min/med",
                "nearest is right");
    for (size_t p = 0; p < photoNames.size(); ++p) {
        char regions[24];
        std::snprintf(regions, sizeof regions, "%d/%d", photoRegions[p], photoFlat[p]);
        if (photoShown[p] == 0) {
            std::printf("  %-16s %-15s (every region below the contrast gate)\n",
                        photoNames[p].c_str(), regions);
            continue;
        }
        char sameText[24];
        char otherText[24];
        std::snprintf(sameText, sizeof sameText, "%d/%d", median(photoSame[p]),
                      percentile(photoSame[p], 1));
        std::snprintf(otherText, sizeof otherText, "%d/%d", percentile(photoOther[p], 0),
                      median(photoOther[p]));
        std::printf("  %-16s %-15s %-6d %-16s %-20s %d/%d\n", photoNames[p].c_str(), regions,
                    photoShown[p], sameText, otherText, photoRight[p], photoShown[p]);
    }
    return 0;
}
