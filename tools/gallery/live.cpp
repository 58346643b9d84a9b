#include "live.hpp"

#include "checks.hpp"
#include "draft_screen/arena_screen.hpp"
#include "overlay_samples/overlay_samples.hpp"
#include "ui/panel.hpp"
#include "ui/stamps.hpp"
#include "x11_harness/x11_screen.hpp"
#include "x11_harness/xvfb.hpp"

#include <QImage>

#include <chrono>
#include <sstream>
#include <thread>

namespace {

// The game's window, on a larger screen: the fullest panel is taller than 720.
constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 900;

QImage gamePicture() {
    const KVArenaScreenSpec spec = KVSampleScreenSpec(kWidth, kHeight);
    const KVImage image = KVRenderArenaScreen(spec).image;
    return QImage(image.rgba.data(), image.width, image.height, int(image.stride()),
                  QImage::Format_RGBA8888)
        .copy();
}

// The stamps' shapes over the game's window, as the demo lays them.
QRegion stampsRegion(const QRect& arena) {
    const KVArenaScreenSpec spec = KVSampleScreenSpec(arena.width(), arena.height());
    KVStampsView view;
    view.width = arena.width();
    view.height = arena.height();
    view.advice = KVSampleAdvice(true);
    view.slots = KVArenaScreenSlots(spec);
    view.bestNames = {view.advice[0].card->name};
    view.nextName = "Stormcaller's Reach";
    return KVStampsRegion(view, false).translated(arena.topLeft());
}

bool sleepUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(long(seconds * 1000));
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

} // namespace

std::vector<GalleryShot> LiveShots(const std::string& directory) {
    std::vector<GalleryShot> shots;
    const std::string gamePath = directory + "/game-1280x720.png";
    const QImage game = gamePicture();
    game.save(QString::fromStdString(gamePath));

    GalleryShot plain{directory + "/live-no-compositor.png",
                      "live over fake-arena, no compositor: windows shaped, no black corners",
                      {}};
    GalleryShot composited{directory + "/live-compositor.png",
                           "live over fake-arena with xcompmgr: translucent corners and badges",
                           {}};

    KVXvfb::Options options;
    options.width = kScreenWidth;
    options.height = kScreenHeight;
    options.windowManager = true;
    KVXvfb xvfb(options);
    if (xvfb.display().empty()) {
        plain.problems.emplace_back("no Xvfb: " + xvfb.failure());
        return {plain};
    }
    KVFakeArena arena(xvfb.display(), {"--x", "0", "--y", "0", "--width", std::to_string(kWidth),
                                       "--height", std::to_string(kHeight), "--image", gamePath});
    KVX11Screen x(xvfb.display());
    const QRect arenaFrame = x.frameOf(arena.window);
    if (arena.window == 0 || arenaFrame.isEmpty()) {
        plain.problems.emplace_back("fake-arena did not come up");
        return {plain};
    }
    const QImage before = x.settled({}, 5);

    KVChildProcess demo({KV_OVERLAY_DEMO}, {"DISPLAY=" + xvfb.display(), "QT_QPA_PLATFORM=xcb"});
    if (demo.readLine(30) != "ready") {
        plain.problems.emplace_back("kv_overlay_demo did not start");
        return {plain};
    }
    const std::string panelAt = "panel pack-full " + std::to_string(kWidth - 330) + " 40";
    demo.command(panelAt);
    std::ostringstream stamps;
    stamps << "stamps " << arenaFrame.x() << " " << arenaFrame.y() << " " << arenaFrame.width()
           << " " << arenaFrame.height() << " graded";
    demo.command(stamps.str());
    demo.write("ids\n");
    std::string answer;
    for (int i = 0; i < 20 && answer.rfind("ok ", 0) != 0; ++i) {
        answer = demo.readLine();
    }
    std::istringstream ids(answer);
    std::string ok;
    unsigned panelWindow = 0;
    ids >> ok >> panelWindow;
    const QRect panel = x.frameOf(panelWindow);
    const QRegion drawn =
        KVPanelShape(panel.height()).translated(panel.topLeft()) + stampsRegion(arenaFrame);
    // Edge pixels a shape covers by half or more belong to it.
    QRegion edges;
    for (const QRect& rect : drawn) {
        edges += rect.adjusted(-1, -1, 1, 1);
    }

    const QImage shot = x.settled(before);
    shot.save(QString::fromStdString(plain.path));
    plain.problems = CheckScreenshot(shot, before, drawn, edges);
    if (panel.isEmpty()) {
        plain.problems.emplace_back("the panel window is not on the screen");
    }

    KVChildProcess compositor({"xcompmgr"}, {"DISPLAY=" + xvfb.display()});
    if (!sleepUntil([&] { return x.compositing(); }, 10)) {
        composited.problems.emplace_back("xcompmgr did not take the compositing selection");
    }
    // The windows notice the compositor within two seconds and drop their shapes.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const QImage blended = x.settled({});
    blended.save(QString::fromStdString(composited.path));
    // With a compositor the panel's corners show the game through them; its body does not.
    const QPoint corner = panel.topLeft() + QPoint(1, 1);
    if (blended.pixel(corner) != before.pixel(corner)) {
        composited.problems.emplace_back("the panel's corner does not show the game");
    }
    const QPoint body = panel.topLeft() + QPoint(200, 30);
    if (blended.pixel(body) == before.pixel(body)) {
        composited.problems.emplace_back("the panel's body is not painted");
    }
    demo.command("quit");
    compositor.kill();
    return {plain, composited};
}
