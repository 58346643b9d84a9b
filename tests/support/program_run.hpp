#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Other programs run from a test: started with pipes, or run to their end; and curl as the
// browser or the command line would ask.

struct KVSpawnedProgram {
    pid_t pid = -1;
    int out = -1; // its stdout and stderr together
    int in = -1;  // its stdin
};

// Starts `program` with `args`; a failure to start is a test failure and pid -1.
KVSpawnedProgram KVSpawnProgram(const std::string& program, const std::vector<std::string>& args);

// What `fd` has within `seconds`; "" at its end or on time-out.
std::string KVReadSome(int fd, int seconds);

// Waits for `pid` to end: its exit status, or 128 + the signal that ended it.
int KVWaitForExit(pid_t pid);

struct KVProgramResult {
    int status = -1;    // the exit status
    std::string output; // stdout and stderr together
};

// Runs `program` to its end, `input` on its standard input.
KVProgramResult KVRunChildProgram(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& input = "");

// Runs curl with `args` (quiet, past any proxy, for at most a minute) and gives its output.
std::string KVCurl(const std::vector<std::string>& args);

// One request's answer as curl saw it.
struct KVCurlAnswer {
    int status = 0;
    std::string location; // where a redirect points, or ""
    std::string body;
};

// Runs curl with `args` for one request and gives its answer.
KVCurlAnswer KVCurlPage(std::vector<std::string> args);
