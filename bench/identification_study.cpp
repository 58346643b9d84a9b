// How well the cards of a pack are identified on screen when they carry real pictures.
//
//   identification_study DIR...
//
// Card art: regions of the photographs under each DIR (one picture per wallpaper), each the size
// of a card's art box (410 × 354 on a 488 × 680 card), cut on a grid of half-box steps from the
// photograph shrunk so that its shorter side holds three boxes. Each region goes into the art box
// of a synthetic card face; the 488 × 680 card passes through JPEG (quality 90) as an image host
// serves it, and its art hash is the candidate's. Regions the contrast gate refuses are left out.
// 300 candidates are taken round-robin over the photographs.
//
// Screens: draft screens rendered with those card images in the slots (15, 14, 13 and 8 cards;
// 1280 × 720 to 3840 × 2160; several layouts; JPEG quality 85 as capture noise), each pack a
// different run of the candidates. Each screen is read as the program reads it: slots detected,
// then every slot identified against all 300 candidates. The report counts right cards over all
// slots of the screens found, and, apart, over the true slots of every screen (identification
// without detection). Run by scripts/identification-study; not part of the tests.
//
//   identification_study --detection [TEXT]
//
// Detection alone on the same matrix with the renderer's own card faces (no photographs needed),
// optionally only the screens whose description contains TEXT: screens found, and found with every
// edge within 1.5 % of the card's width, the others listed with their edges' errors.
//
// STUDY_DEBUG_SCREEN=TEXT prints the detector's debug lines for the screens whose description
// contains TEXT; STUDY_STATS=FILE writes every slot's distances there. STUDY_DUMP=1 prints every
// slot found (normalised x, y, width, height and the card's width in pixels) and the drawn card's
// rectangle, to compare two builds screen by screen.
#include "photographs.hpp"

#include "base/files.hpp"
#include "draft_screen/arena_screen.hpp"
#include "vision/image_codec.hpp"
#include "vision/image_crop.hpp"
#include "vision/phash.hpp"
#include "vision/vision.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kCardWidth = 488;
constexpr int kCardHeight = 680;
// The art box KVPHashOfArt reads, in whole pixels of a 488 × 680 card.
constexpr int kArtX = 39;
constexpr int kArtY = 68;
constexpr int kArtWidth = 410;
constexpr int kArtHeight = 354;
constexpr int kBoxesPerSide = 3;
constexpr size_t kCandidates = 300;

struct Art {
    std::string name;
    std::string jpeg; // the card image as hosted
    KVArtHash hash{};
};

// Every region of one photograph whose card hashes, in grid order.
std::vector<Art> artsOf(const std::string& name, const KVImage& photograph, uint32_t& seed) {
    KVImage photo = photograph;
    const double scale =
        static_cast<double>(kBoxesPerSide * kArtHeight) / std::min(photo.width, photo.height);
    if (scale < 1.0) {
        photo = KVShrinkImage(photo, static_cast<int>(photo.width * scale),
                              static_cast<int>(photo.height * scale));
    }
    std::vector<Art> arts;
    for (int y = 0; y + kArtHeight <= photo.height; y += kArtHeight / 2) {
        for (int x = 0; x + kArtWidth <= photo.width; x += kArtWidth / 2) {
            KVImage card = KVRenderCardFace(kCardWidth, kCardHeight, seed++);
            for (int row = 0; row < kArtHeight; ++row) {
                std::copy_n(photo.pixel(x, y + row), kArtWidth * 4, card.pixel(kArtX, kArtY + row));
            }
            const auto jpeg = KVEncodeJPEG(card, 90);
            const auto hosted = jpeg ? KVImageFromData(*jpeg) : std::nullopt;
            const auto hash = hosted ? KVPHashOfArt(*hosted) : std::nullopt;
            if (hash) {
                arts.push_back(
                    {name + " @" + std::to_string(x) + "," + std::to_string(y), *jpeg, *hash});
            }
        }
    }
    return arts;
}

const int kSizes[][2] = {{1280, 720}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
const int kPackSizes[] = {15, 14, 13, 8};

struct Tally {
    int screens = 0;
    int found = 0;
    int slots = 0;
    int right = 0;
    int phash = 0;
    int deduced = 0;
    int none = 0;
    int trueSlots = 0;
    int trueRight = 0;
    int placed = 0; // screens found with every edge within 1.5 % of the card's width
    int placedSlots = 0;
    int placedRight = 0;
    int registered = 0;     // screens whose slots the art search moved
    int absentSlots = 0;    // slots identified against candidates without their cards
    int absentPhash = 0;    // of them, labelled "phash"
    int absentNotAPack = 0; // screens then reported as no pack

    void add(const Tally& other) {
        registered += other.registered;
        absentSlots += other.absentSlots;
        absentPhash += other.absentPhash;
        absentNotAPack += other.absentNotAPack;
        screens += other.screens;
        found += other.found;
        slots += other.slots;
        right += other.right;
        phash += other.phash;
        deduced += other.deduced;
        none += other.none;
        trueSlots += other.trueSlots;
        trueRight += other.trueRight;
        placed += other.placed;
        placedSlots += other.placedSlots;
        placedRight += other.placedRight;
    }
};

double percent(int part, int whole) {
    return whole > 0 ? 100.0 * part / whole : 0.0;
}

void printRow(const char* name, const Tally& t) {
    std::printf("%-10s %3d/%-3d %5d %5d (%5.1f %%) %5d %5d %5d | %3d %5d/%-5d (%5.1f %%) | "
                "%5d/%-5d (%5.1f %%)\n",
                name, t.found, t.screens, t.slots, t.right, percent(t.right, t.slots), t.phash,
                t.deduced, t.none, t.placed, t.placedRight, t.placedSlots,
                percent(t.placedRight, t.placedSlots), t.trueRight, t.trueSlots,
                percent(t.trueRight, t.trueSlots));
    std::printf("%-10s registered %d; cards absent: %d of %d slots labelled phash (%.2f %%), %d "
                "screens no pack\n",
                "", t.registered, t.absentPhash, t.absentSlots,
                percent(t.absentPhash, t.absentSlots), t.absentNotAPack);
}

// Every slot found (normalised x, y, width, height and the card's width in pixels) beside the
// drawn card's rectangle, one line each, to compare two builds screen by screen.
void printSlots(const std::string& name, const std::vector<KVNormRect>& slots,
                const KVArenaScreen& screen, const KVArenaScreenSpec& spec) {
    for (size_t i = 0; i < slots.size(); ++i) {
        const KVNormRect& g = slots[i];
        const KVNormRect& t = screen.slots[i];
        std::printf("RECT %s|%.6f %.6f %.6f %.6f %.3f|%.6f %.6f %.6f %.6f\n", name.c_str(), g.x,
                    g.y, g.width, g.height, screen.slots.front().width * spec.width, t.x, t.y,
                    t.width, t.height);
    }
}

// Detection alone on the same matrix of layouts with the renderer's own card faces: how many
// screens are found, and how many with every edge within 1.5 % of the card's width.
int detectionOnly(const char* only) {
    int found = 0;
    int placed = 0;
    int screens = 0;
    uint32_t seed = 7;
    for (const auto& size : kSizes) {
        for (const int packSize : kPackSizes) {
            for (size_t l = 0; l < kKVArenaLayouts.size(); ++l) {
                KVArenaScreenSpec spec;
                spec.width = size[0];
                spec.height = size[1];
                spec.cards = packSize;
                kKVArenaLayouts[l].applyTo(spec);
                spec.seed = seed++;
                spec.jpegQuality = 85;
                const std::string name = KVDescribeArenaScreen(spec);
                if (!KVArenaLayoutProblem(spec).empty() ||
                    (only && name.find(only) == std::string::npos)) {
                    continue;
                }
                ++screens;
                const KVArenaScreen screen = KVRenderArenaScreen(spec);
                const auto slots = KVVision::detectSlots(screen.image, packSize);
                if (!slots) {
                    std::printf("  not found: %s\n", name.c_str());
                    continue;
                }
                ++found;
                if (std::getenv("STUDY_DUMP")) {
                    printSlots(name, *slots, screen, spec);
                }
                double worst = 0;
                double e[4] = {0, 0, 0, 0};
                for (size_t i = 0; i < slots->size(); ++i) {
                    const KVNormRect& g = (*slots)[i];
                    const KVNormRect& t = screen.slots[i];
                    const double d[4] = {(g.x - t.x) * spec.width, (g.y - t.y) * spec.height,
                                         (g.x + g.width - t.x - t.width) * spec.width,
                                         (g.y + g.height - t.y - t.height) * spec.height};
                    for (int k = 0; k < 4; ++k) {
                        if (std::abs(d[k]) > worst) {
                            worst = std::abs(d[k]);
                            std::copy(d, d + 4, e);
                        }
                    }
                }
                const double cardWidth = screen.slots.front().width * spec.width;
                if (worst <= 0.015 * cardWidth) {
                    ++placed;
                } else {
                    std::printf("  %.2f %%: L %+.1f T %+.1f R %+.1f B %+.1f px (card %.1f): %s\n",
                                100 * worst / cardWidth, e[0], e[1], e[2], e[3], cardWidth,
                                name.c_str());
                }
            }
        }
    }
    std::printf("found %d of %d, %d within 1.5 %% of the card's width\n", found, screens, placed);
    return 0;
}

// A photograph filling a 1920 × 1080 window (cut to 16:9, shrunk) is no pack at any count.
bool photographReadAsAPack(const std::string& name, const KVImage& photo) {
    const double w = std::min<double>(photo.width, photo.height * 16.0 / 9.0);
    const double h = w * 9.0 / 16.0;
    KVImage screen = KVCropImage(photo, (photo.width - w) / 2, (photo.height - h) / 2, w, h);
    if (screen.width > 1920) {
        screen = KVShrinkImage(screen, 1920, 1080);
    }
    for (const int64_t expected : {15, 14, 13, 8}) {
        if (KVVision::detectSlots(screen, expected)) {
            std::printf("  photograph read as a pack of %d: %s\n", static_cast<int>(expected),
                        name.c_str());
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--detection") {
        return detectionOnly(argc >= 3 ? argv[2] : nullptr);
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR... | --detection [NAME PART]\n", argv[0]);
        return 2;
    }
    std::vector<std::vector<Art>> perPhoto;
    uint32_t seed = 1;
    int photoScreens = 0;
    int photoPacks = 0;
    for (const auto& [name, path] : KVFindPhotographs({argv + 1, argv + argc})) {
        const auto bytes = KVReadFile(path.string());
        const auto photo = bytes ? KVImageFromData(*bytes) : std::nullopt;
        if (!photo) {
            std::fprintf(stderr, "skipped (unreadable): %s\n", path.c_str());
            continue;
        }
        perPhoto.push_back(artsOf(name, *photo, seed));
        photoScreens += 1;
        photoPacks += photographReadAsAPack(name, *photo) ? 1 : 0;
    }
    // Round-robin over the photographs, so that every one lends art to the set.
    std::vector<Art> arts;
    size_t available = 0;
    for (const auto& list : perPhoto) {
        available += list.size();
    }
    for (size_t round = 0; arts.size() < kCandidates && arts.size() < available; ++round) {
        for (const auto& list : perPhoto) {
            if (round < list.size() && arts.size() < kCandidates) {
                arts.push_back(list[round]);
            }
        }
    }
    if (arts.size() < 15) {
        std::fprintf(stderr, "not enough pictures found\n");
        return 1;
    }
    std::vector<KVCandidate> candidates;
    std::vector<KVImage> cardImages;
    for (const Art& art : arts) {
        auto card = std::make_shared<KVCard>(art.name);
        candidates.push_back({card, {art.hash}});
        cardImages.push_back(KVImageFromData(art.jpeg).value_or(KVImage{}));
    }
    std::printf(
        "Identification study: %zu photographs, %zu hashable art regions, %zu candidates\n\n",
        perPhoto.size(), available, candidates.size());

    std::printf("%-10s %-7s %5s %-13s %5s %5s %5s | %-26s | %s\n", "screen", "found", "slots",
                "right", "phash", "deduc", "none", "placed within 1.5 %: right",
                "on the true slots: right");
    FILE* stats =
        std::getenv("STUDY_STATS") ? std::fopen(std::getenv("STUDY_STATS"), "w") : nullptr;
    Tally total;
    std::vector<Tally> perLayout(kKVArenaLayouts.size());
    size_t offset = 0;
    for (const auto& size : kSizes) {
        Tally tally;
        for (const int packSize : kPackSizes) {
            for (size_t l = 0; l < kKVArenaLayouts.size(); ++l) {
                const KVArenaLayout& layout = kKVArenaLayouts[l];
                KVArenaScreenSpec spec;
                spec.width = size[0];
                spec.height = size[1];
                spec.cards = packSize;
                layout.applyTo(spec);
                spec.seed = static_cast<uint32_t>(offset + 7);
                spec.jpegQuality = 85;
                if (const std::string problem = KVArenaLayoutProblem(spec); !problem.empty()) {
                    std::printf("layout %zu at %dx%d skipped: %s\n", l, size[0], size[1],
                                problem.c_str());
                    continue;
                }
                // A run of the candidates, moving on by a prime so every card is shown.
                std::vector<size_t> shown;
                for (int i = 0; i < packSize; ++i) {
                    shown.push_back((offset + static_cast<size_t>(i)) % candidates.size());
                    spec.cardImages.push_back(cardImages[shown.back()]);
                }
                offset += 37;
                const KVArenaScreen screen = KVRenderArenaScreen(spec);
                if (std::getenv("STUDY_DEBUG_SCREEN") != nullptr &&
                    KVDescribeArenaScreen(spec).find(std::getenv("STUDY_DEBUG_SCREEN")) !=
                        std::string::npos) {
                    std::string debug;
                    (void)KVVision::detectSlots(screen.image, packSize, &debug);
                    std::printf("%s\n%s", KVDescribeArenaScreen(spec).c_str(), debug.c_str());
                }
                Tally one;
                ++one.screens;
                const auto count = [&](const std::vector<KVSlotMatch>& matches, int& slots,
                                       int& right, bool methods) {
                    for (size_t i = 0; i < matches.size(); ++i) {
                        ++slots;
                        right += matches[i].card == candidates[shown[i]].card ? 1 : 0;
                        if (methods) {
                            one.phash += matches[i].method == "phash" ? 1 : 0;
                            one.deduced += matches[i].method == "deduced" ? 1 : 0;
                            one.none += matches[i].method == "none" ? 1 : 0;
                        }
                    }
                };
                count(KVVision::identifyPack(screen.image, screen.slots, candidates), one.trueSlots,
                      one.trueRight, false);
                const auto slots = KVVision::detectSlots(screen.image, packSize);
                if (!slots) {
                    std::printf("  not found: %d cards at %dx%d, layout %zu\n", packSize, size[0],
                                size[1], l);
                    tally.add(one);
                    perLayout[l].add(one);
                    continue;
                }
                ++one.found;
                std::string presentDebug;
                const KVPackIdentification pack = KVVision::identifyPack(
                    screen.image, *slots, candidates, std::nullopt, &presentDebug);
                const std::vector<KVSlotMatch>& matches = pack.matches;
                one.registered += pack.transform == KVSlotTransform{} ? 0 : 1;
                // The same slots against every other card: none of them is there, so a
                // "phash" label would be a lie.
                std::vector<KVCandidate> others;
                for (size_t c = 0; c < candidates.size(); ++c) {
                    if (std::find(shown.begin(), shown.end(), c) == shown.end()) {
                        others.push_back(candidates[c]);
                    }
                }
                std::string absentDebug;
                const KVPackIdentification absent = KVVision::identifyPack(
                    screen.image, *slots, others, std::nullopt, &absentDebug);
                if (stats) {
                    std::fprintf(stats, "gain %s | %s", presentDebug.c_str(), absentDebug.c_str());
                    std::vector<KVNormRect> moved;
                    for (const KVNormRect& slot : *slots) {
                        moved.push_back(pack.transform.apply(slot));
                    }
                    const auto hashes = KVVision::hashSlots(screen.image, moved);
                    for (size_t i = 0; i < hashes.size(); ++i) {
                        if (!hashes[i]) {
                            continue;
                        }
                        const auto words = KVArtHashWords::of(*hashes[i]);
                        int best[2] = {256, 256}, second[2] = {256, 256}, own = 256;
                        for (size_t c = 0; c < candidates.size(); ++c) {
                            const int d = KVPHashDistance(
                                words, KVArtHashWords::of(candidates[c].artHashes[0]));
                            const bool isShown =
                                std::find(shown.begin(), shown.end(), c) != shown.end();
                            if (c == shown[i]) {
                                own = d;
                            }
                            for (int k = 0; k < 2; ++k) {
                                if (k == 1 && isShown) {
                                    continue;
                                }
                                if (d < best[k]) {
                                    second[k] = best[k];
                                    best[k] = d;
                                } else if (d < second[k]) {
                                    second[k] = d;
                                }
                            }
                        }
                        std::fprintf(stats, "slot own %d present %d %d absent %d %d\n", own,
                                     best[0], second[0], best[1], second[1]);
                    }
                }
                one.absentSlots += static_cast<int>(absent.matches.size());
                one.absentNotAPack += absent.notAPack ? 1 : 0;
                for (const KVSlotMatch& m : absent.matches) {
                    one.absentPhash += m.method == "phash" ? 1 : 0;
                }
                const int rightBefore = one.right;
                count(matches, one.slots, one.right, true);
                double worst = 0;
                for (size_t i = 0; i < slots->size(); ++i) {
                    const KVNormRect& got = (*slots)[i];
                    const KVNormRect& want = screen.slots[i];
                    worst = std::max(
                        {worst, std::abs(got.x - want.x) * spec.width,
                         std::abs(got.y - want.y) * spec.height,
                         std::abs(got.x + got.width - want.x - want.width) * spec.width,
                         std::abs(got.y + got.height - want.y - want.height) * spec.height});
                }
                if (std::getenv("STUDY_DUMP")) {
                    printSlots(KVDescribeArenaScreen(spec), *slots, screen, spec);
                }
                const int right = one.right - rightBefore;
                const double cardWidth = screen.slots.front().width * spec.width;
                if (worst <= 0.015 * cardWidth) {
                    ++one.placed;
                    one.placedSlots += packSize;
                    one.placedRight += right;
                }
                if (right < packSize || worst > 0.015 * cardWidth) {
                    std::printf("  %d of %d right: %d cards at %dx%d, layout %zu, worst edge %.1f "
                                "px (%.2f %% of the card's width)\n",
                                right, packSize, packSize, size[0], size[1], l, worst,
                                100.0 * worst / cardWidth);
                }
                tally.add(one);
                perLayout[l].add(one);
            }
        }
        const std::string name = std::to_string(size[0]) + "x" + std::to_string(size[1]);
        printRow(name.c_str(), tally);
        total.add(tally);
    }
    printRow("all", total);
    std::printf("photographs as whole screens read as a pack (15, 14, 13 or 8 cards): %d of %d\n",
                photoPacks, photoScreens);
    std::printf("\n");
    for (size_t l = 0; l < perLayout.size(); ++l) {
        const std::string name = "layout " + std::to_string(l);
        printRow(name.c_str(), perLayout[l]);
    }
    return 0;
}
