#pragma once

#include "server/options.hpp"

// Opens the database, runs an operator action or serves until SIGINT/SIGTERM; the exit
// status of the program. Failures are explained on stderr.
int KVSServiceMain(KVSOptions options);
