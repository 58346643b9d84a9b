// demo-draft: the demo set's draft cut into steps that a player can play back beside the
// program: each step is a piece of Player.log to append and, when the piece shows a pack, the
// draft screen Arena would show for it, drawn from the demo set's own card art.
//
//   demo-draft OUT_DIR [--width N] [--height N]
//
// Writes OUT_DIR/NNN.log for every step (001, 002, ... in order) and OUT_DIR/NNN.png beside
// each step that shows a pack, at the given window size (default 1600 × 900). scripts/run
// --demo shows the picture in fake-arena, then appends the text to the log the program follows.
#include "base/files.hpp"
#include "demo_draft/demo_art.hpp"
#include "demo_draft/demo_steps.hpp"
#include "server/demo_log.hpp"
#include "vision/image_codec.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "demo-draft: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: demo-draft OUT_DIR [--width N] [--height N]\n");
        return 2;
    }
    const std::string out = argv[1];
    // Arena's default window size.
    int width = 1600;
    int height = 900;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if ((option != "--width" && option != "--height") || value < 320 || value > 7680) {
            return fail("unknown option or size: " + option + " " + argv[i + 1]);
        }
        (option == "--width" ? width : height) = value;
    }

    if (const std::string problem = KVArenaLayoutProblem(KVDemoScreenSpec(width, height));
        !problem.empty()) {
        return fail("the program would not read these draft screens: " + problem);
    }

    KVError error;
    if (!KVMakeDirectories(out, &error)) {
        return fail("cannot create " + out + ": " + error.message);
    }
    const std::string logPath = KVJoinPath(out, "demo.log");
    if (!KVSWriteDemoLog(logPath, &error)) {
        return fail("cannot write the demo log: " + error.message);
    }
    const auto log = KVReadFile(logPath, &error);
    if (!log) {
        return fail(error.message);
    }

    KVDemoArt art;
    int packs = 0;
    const auto cut = KVDemoSteps(*log);
    for (size_t i = 0; i < cut.size(); ++i) {
        std::string name = std::to_string(i + 1);
        name.insert(0, name.size() < 3 ? 3 - name.size() : 0, '0');
        const std::string base = KVJoinPath(out, name);
        if (!cut[i].pack.empty()) {
            // A seed per step, so the screens around the packs differ as Arena's do.
            const auto screen = art.screen(cut[i].pack, width, height, static_cast<uint32_t>(i + 1),
                                           &error.message);
            if (!screen) {
                return fail(error.message);
            }
            const auto png = KVEncodePNG(screen->image, &error);
            if (!png || !KVWriteFileAtomically(base + ".png", *png, &error)) {
                return fail("cannot write " + base + ".png: " + error.message);
            }
            ++packs;
        }
        if (!KVWriteFileAtomically(base + ".log", cut[i].text, &error)) {
            return fail("cannot write " + base + ".log: " + error.message);
        }
    }
    std::printf("%zu steps, %d packs in %s\n", cut.size(), packs, out.c_str());
    return packs > 0 ? 0 : fail("the demo log shows no pack");
}
