#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One step of a draft played back beside the program: a piece of Player.log to append and, when
// that piece shows a pack, the pack's Arena ids (what the draft screen shows meanwhile).
struct KVDemoStep {
    std::string text;
    std::vector<int64_t> pack;
    std::string name; // "P1p1" for a pack, "complete" for what follows the last one

    // How many lines `text` holds, a last one without its newline included: what a player
    // appending the log line by line appends for this step.
    size_t lines() const;
};

// The log cut after each entry that shows a pack, so each step ends with a pack the program
// can grade at once. Entries begin at a line starting with Arena's logger marker; text before
// the first marker stays in the first step. The steps' texts joined are the log, byte for byte.
std::vector<KVDemoStep> KVDemoSteps(const std::string& log);
