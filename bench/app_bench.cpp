// One live chunk of Arena's log with a pack in it, from the parser through the controller to
// the real panel painted into an image: what the user waits for after each pick.
#include "app/app.hpp"
#include "app/app_views.hpp"
#include "base/config.hpp"
#include "draft/draft_session.hpp"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

std::string packEntry(int pick) {
    std::string ids;
    for (int i = 0; i < 14; ++i) {
        ids += (i ? "," : "") + std::to_string(1001 + i);
    }
    return "[UnityCrossThreadLogger]12/6/2026 6:01:2" + std::to_string(pick % 10) +
           " PM\n<== BotDraftDraftStatus {\"DraftStatus\":\"PickNext\",\"PackNumber\":0,"
           "\"PickNumber\":" +
           std::to_string(pick) + ",\"NumCardsToPick\":1,\"DraftPack\":[" + ids +
           "],\"PickedCards\":[1001],\"EventName\":\"Mystery_1\"}\n";
}

void BM_LiveChunkToPaintedPanel(benchmark::State& state) {
    // Settings, sign-in and caches go to a scratch directory, never the user's.
    char scratch[] = "/tmp/kv-app-bench-XXXXXX";
    setenv("XDG_DATA_HOME", mkdtemp(scratch), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "app_bench";
    static char* argv[] = {name, nullptr};
    static QApplication qt(argc, argv);
    KVConfig::ensureDirs();
    KVConfig::save(KVJson{{"telemetry_enabled", false}});

    auto views = std::make_shared<KVHeadlessViews>();
    auto app = KVApp::create(KVAppServices::standard(), views);
    app->buildWindows();
    // A graded pack, as the panel shows it while the user picks.
    KVJson picks = KVJson::array();
    for (int i = 0; i < 14; ++i) {
        picks.push_back({{"name", "Unknown " + std::to_string(1001 + i)},
                         {"grade", i < 3 ? "A" : "C+"},
                         {"reason", "Strong in the open lane, cheap removal"}});
    }
    int pick = 1;
    app->parser.feed(packEntry(pick));
    app->session->setAnalysis({{"best", "Unknown 1001"},
                               {"runnerUp", "Unknown 1002"},
                               {"summary", "White-green is open"},
                               {"picks", picks}});
    size_t painted = 0;
    for (auto _ : state) {
        for (auto& event : app->parser.feed(packEntry(++pick % 12 + 1))) {
            app->onLogEvent(event);
        }
        const QImage image = views->paintPanel();
        painted += size_t(image.width()) * size_t(image.height());
    }
    benchmark::DoNotOptimize(painted);
    app->applicationWillTerminate();
}
BENCHMARK(BM_LiveChunkToPaintedPanel)->Unit(benchmark::kMillisecond);

} // namespace
