#pragma once

#include "support/program_run.hpp"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// The korvane-service program running as its own process on a database file, listening on a
// port of 127.0.0.1 it chose. Stopped with SIGTERM when the object goes.
class KVSServiceProcess {
public:
    // Starts the program with `args` after "--db <database> --listen 127.0.0.1:0
    // --test-fast-hash" and waits for the line naming its address.
    KVSServiceProcess(const std::string& database, const std::vector<std::string>& args = {});
    ~KVSServiceProcess();
    KVSServiceProcess(const KVSServiceProcess&) = delete;
    KVSServiceProcess& operator=(const KVSServiceProcess&) = delete;

    bool running() const { return port_ > 0; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // SIGTERM, then the exit status.
    int stop();

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// Runs korvane-service to its end with `args`, `input` on its standard input.
KVProgramResult KVSRunServiceProgram(const std::vector<std::string>& args,
                                     const std::string& input = "");

// The number in the first column of the first row `sql` finds in `database`, or -1.
int64_t KVSQueryNumber(const std::string& database, const std::string& sql);
