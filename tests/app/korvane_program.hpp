#pragma once

#include "support/test_environment.hpp"

#include <string>
#include <vector>

struct KVProgramRun {
    int status = -1; // the exit status; 128 + the signal when one ended it
    std::string out; // standard output
    std::string err; // standard error
};

// Runs the built korvane with `args` in exactly `environment` ("NAME=value" each; the
// sanitizers' options are passed on too), killed after `seconds`.
KVProgramRun KVRunKorvane(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment, double seconds = 60);

// A fresh home for the program: no settings, no sign-in, no Arena, no display.
struct KVFreshHome {
    KVTempDir dir;
    std::string korvane() const { return dir.file("data/Korvane"); }
    // HOME, XDG_DATA_HOME and PATH, then `extra`.
    std::vector<std::string> environment(const std::vector<std::string>& extra = {}) const;
    KVProgramRun run(const std::vector<std::string>& args,
                     const std::vector<std::string>& extra = {}) const {
        return KVRunKorvane(args, environment(extra));
    }
};

// A report with what changes from run to run masked: `tempDir` becomes "$TMP", dates and times
// "<TIME>", the distribution's name "<OS>", pids, sizes, ages and durations "<N>".
std::string KVMaskReport(std::string text, const std::string& tempDir);

// Compares `text` with tests/fixtures/run_modes/`name`; with KV_UPDATE_GOLDEN set, writes it
// there instead.
void KVExpectGolden(const std::string& text, const std::string& name);
