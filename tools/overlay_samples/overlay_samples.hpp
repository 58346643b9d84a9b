#pragma once

#include "draft/card.hpp"
#include "draft_screen/arena_screen.hpp"
#include "draft/draft_session.hpp"

#include <memory>
#include <string>
#include <vector>

// Draft sessions in every state the overlay shows, with believable cards and answers: the
// gallery's pictures, the benchmarks, the overlay demo and the tests draw the same ones.

// One state of the panel: the session and the flags the controller sets.
struct KVPanelSample {
    std::string name; // a file name's worth: "pack-full", "table", "arena-not-installed"…
    std::string description;
    std::shared_ptr<KVDraftSession> session;
    bool inDraft = true;
    std::string view = "pack";
    bool arenaRunning = true;
    bool arenaInstalled = true;
    bool minimized = false;
};

// A pack of 15 graded cards with the call, chips, a warning, HOLE and WATCH, the table read
// and the pool read: the fullest state.
std::shared_ptr<KVDraftSession> KVFullPackSession();

// Every state and tab of the panel.
std::vector<KVPanelSample> KVPanelSamples();

// The full pack's advice rows with slots 0…14, for the stamps.
std::vector<KVAdvice> KVSampleAdvice(bool graded);

// The draft screen the stamps are shown over: 15 cards in a layout Arena uses at that size.
KVArenaScreenSpec KVSampleScreenSpec(int width, int height);
