#pragma once

#include "draft_screen/arena_screen.hpp"

#include <cstdint>
#include <string>
#include <vector>

// The demo set's draft as Arena would show and log it: the log cut into steps that each end
// with a pack shown, and the draft screen of each pack drawn from the set's own art.
struct KVDemoStep {
    size_t lines = 0;          // log lines to append for this step
    std::vector<int64_t> pack; // the pack shown at its end, empty for the last step
    std::string name;          // "P1p1"
};

struct KVDemoCard {
    int64_t arenaId = 0;
    std::string name;
    std::string colour; // first colour letter, "" when colourless
};

class KVDemoDraft {
public:
    // Reads a log written by `korvane-service --write-demo-log`; empty steps when it is not one.
    explicit KVDemoDraft(const std::string& logPath);

    const std::vector<KVDemoStep>& steps() const { return steps_; }
    const std::string& failure() const { return failure_; }

    // The demo set's card with this Arena id (a card with id 0 when there is none).
    static KVDemoCard card(int64_t arenaId);

    // The draft screen of `pack`, slot i showing card pack[i] as the service serves its art.
    static KVArenaScreen screen(const std::vector<int64_t>& pack, int width, int height);

private:
    std::vector<KVDemoStep> steps_;
    std::string failure_;
};
