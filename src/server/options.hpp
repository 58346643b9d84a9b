#pragma once

#include "base/error.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How the service was started. Operator actions (--grant, --set-password, --write-demo-log)
// run against the database and exit instead of serving.
struct KVSOptions {
    std::string host = "127.0.0.1";
    int port = 8787;
    std::string databasePath; // "" until resolved: $XDG_DATA_HOME/Korvane/service/korvane.db
    std::string tlsCert;
    std::string tlsKey;
    bool behindProxy = false;
    // The address clients reach the service at, for links in answers (update downloads, the
    // demo set's art); "" for the listen address. Never taken from a request's headers, which
    // the sender chooses and a shared cache would pass on to others.
    std::string publicURL;
    bool testFastHash = false; // lowers the password hash's cost; the test suite's only
    bool devProvider = false;  // the local Google step away from loopback
    int64_t freeCredits = 3;
    int threads = 64; // one per keep-alive connection served at once
    std::string releasesDir;
    int64_t telemetryDays = 30;
    std::string cardsDir;
    bool offline = false;
    std::string ratingsFile;
    bool demo = false;

    std::optional<std::pair<std::string, int64_t>> grant; // --grant EMAIL N
    std::string setPasswordEmail;                         // --set-password EMAIL
    std::string writeDemoLog;                             // --write-demo-log FILE

    // The command-line arguments after the program name. Unknown options, missing or bad
    // values, and a non-loopback address without TLS or --behind-proxy fail with a message
    // fit for the operator.
    static std::optional<KVSOptions> parse(const std::vector<std::string>& args, KVError* error);
    static std::string usage();

    bool onLoopback() const;
};
