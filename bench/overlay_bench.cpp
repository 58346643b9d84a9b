// The overlay's drawing: the panel's fullest render, a full paint of 15 stamps at 1920 × 1080
// and one pulse step of pending stamps. Offscreen Qt, DejaVu fonts.
#include "draft_screen/arena_screen.hpp"
#include "overlay_samples/overlay_samples.hpp"
#include "platform/fake/fake_platform.hpp"
#include "ui/overlay_window.hpp"
#include "ui/panel.hpp"
#include "ui/qt_canvas.hpp"
#include "ui/stamps.hpp"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>

namespace {

void qt() {
    static int argc = 1;
    static char name[] = "overlay_bench";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication app(argc, argv);
}

// renderSession of the fullest PACK state (15 rows, chips, call, warning, HOLE/WATCH), then the
// paint it asks for, as the window's paint event does it, its texts laid out before (a render of
// the pack shown). `compositing` false adds the shaping.
void renderSession(benchmark::State& state, bool compositing) {
    qt();
    KVScopedFakePlatform platform;
    platform.screens->composited = compositing;
    KVCompositorWatch::instance().check(); // the watch asks the platform in force now
    auto panel = KVPanel::create();
    KVCompositorWatch::instance().check();
    panel->setInDraft(true);
    const auto session = KVFullPackSession();
    QImage image(320, 1000, QImage::Format_ARGB32_Premultiplied);
    KVQtCanvas canvas; // the window's canvas, kept across paints
    for (auto _ : state) {
        panel->renderSession(session);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        canvas.setPainter(&painter);
        panel->view.drawRect(canvas);
        canvas.setPainter(nullptr);
    }
    state.counters["height"] = panel->view.contentHeight;
}

// The same, every text laid out from scratch, as for a pack never shown before: a fresh
// measuring canvas for the render and a fresh one for the paint.
void BM_PanelRenderSessionFullestCold(benchmark::State& state) {
    qt();
    KVPanelView view;
    view.inDraft = true;
    view.session = KVFullPackSession();
    QImage image(320, 1000, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        KVQtCanvas metrics;
        view.measure(metrics);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        KVQtCanvas canvas(&painter);
        view.drawRect(canvas);
    }
    state.counters["height"] = view.contentHeight;
}
BENCHMARK(BM_PanelRenderSessionFullestCold)->Unit(benchmark::kMicrosecond);

void BM_PanelRenderSessionFullest(benchmark::State& state) {
    renderSession(state, true);
}
BENCHMARK(BM_PanelRenderSessionFullest)->Unit(benchmark::kMicrosecond);

void BM_PanelRenderSessionFullestShaped(benchmark::State& state) {
    renderSession(state, false);
}
BENCHMARK(BM_PanelRenderSessionFullestShaped)->Unit(benchmark::kMicrosecond);

KVStampsView stampsAt1080p(bool pending) {
    KVStampsView view;
    view.width = 1920;
    view.height = 1080;
    view.advice = KVSampleAdvice(!pending);
    view.slots = KVArenaScreenSlots(KVSampleScreenSpec(1920, 1080));
    view.pending = pending;
    if (!pending) {
        view.bestNames = {view.advice[0].card->name};
        view.nextName = view.advice[1].card->name;
    }
    return view;
}

// The stamps' paint event over the whole window: cleared, then 15 badges and two rings.
void BM_StampsFullPaint1080p(benchmark::State& state) {
    qt();
    KVStampsView view = stampsAt1080p(false);
    QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(image.rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        KVQtCanvas canvas(&painter);
        view.drawRect(canvas);
    }
}
BENCHMARK(BM_StampsFullPaint1080p)->Unit(benchmark::kMicrosecond);

// One pulse step: the dots move on, and the badges alone are cleared and repainted.
void BM_StampsPulseStep(benchmark::State& state) {
    qt();
    KVStampsView view = stampsAt1080p(true);
    QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QRegion badges = KVStampsRegion(view, true); // kept by the window between steps
    KVQtCanvas canvas;
    for (auto _ : state) {
        ++view.tick;
        QPainter painter(&image);
        painter.setClipRegion(badges);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& rect : badges) {
            painter.fillRect(rect, Qt::transparent);
        }
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        canvas.setPainter(&painter);
        view.drawBadges(canvas);
        canvas.setPainter(nullptr);
    }
}
BENCHMARK(BM_StampsPulseStep)->Unit(benchmark::kMicrosecond);

} // namespace
