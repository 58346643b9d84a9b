// The deck window's refit (measuring the content, sizing the window, scrolling to the top) on a
// 45-row build: target ≤ 2 ms. Offscreen Qt, real fonts.
#include "ui/deck_window.hpp"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "deck_window_bench";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication application(argc, argv);
    return application;
}

// 38 spells, a heading for them and one for the lands, five lands: 45 rows, with both
// explanations and a sideboard.
KVJson build45() {
    KVJson spells = KVJson::array();
    for (int i = 1; i <= 38; ++i) {
        spells.push_back({{"name", "Spell number " + std::to_string(i)}, {"count", 1}});
    }
    return {{"colors", {"W", "U"}},
            {"spells", spells},
            {"lands", {{"W", 1}, {"U", 1}, {"B", 1}, {"R", 1}, {"G", 1}}},
            {"reasoning", "The pool's fliers and its two best removal spells carry the deck; "
                          "the curve is low enough to race the usual green decks."},
            {"howToPlay", "Hold the counterspell for their bomb, attack in the air early."}};
}

std::vector<std::string> pool45() {
    std::vector<std::string> pool;
    for (int i = 1; i <= 45; ++i) {
        pool.push_back("Spell number " + std::to_string(i));
    }
    return pool;
}

// A window that has shown this build before: the layout measures texts it has seen.
void BM_Refit(benchmark::State& state) {
    app();
    auto deck = KVDeckWindow::create();
    deck->setDeck(build45(), pool45(), nullptr);
    for (auto _ : state) {
        deck->refit();
    }
    state.counters["rows"] = double(deck->view.content.maindeck.size());
}
BENCHMARK(BM_Refit)->Unit(benchmark::kMillisecond);

// A new build in a new window: rows made from the answer, every text measured for the first
// time.
void BM_SetDeckFirstTime(benchmark::State& state) {
    app();
    const KVJson answer = build45();
    const std::vector<std::string> pool = pool45();
    for (auto _ : state) {
        state.PauseTiming();
        auto deck = KVDeckWindow::create();
        state.ResumeTiming();
        deck->setDeck(answer, pool, nullptr);
        state.PauseTiming();
        deck.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SetDeckFirstTime)->Unit(benchmark::kMillisecond);

} // namespace
