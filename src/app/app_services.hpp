#pragma once

#include "platform/platform.hpp"
#include "service/telemetry.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class KVQueue;

// What the controller takes from its surroundings besides its windows: the clock, the queues
// its work runs on, the intervals of its timers and retries, the desktop services, and how the
// program ends. The GUI uses standard(); tests shorten the intervals and watch quit().
struct KVAppServices {
    // Seconds on the wall clock (any fixed origin) and the local hour, 0 to 23.
    std::function<double()> now;
    std::function<int()> localHour;

    // The main thread's queue and the shared background pools.
    KVQueue* main = nullptr;
    KVQueue* userInitiated = nullptr;
    KVQueue* utility = nullptr;

    double meRetryFirst = 30; // a stored sign-in the service could not check: first recheck
    double meRetryCap = 300;  // ... doubling up to this
    double lockRecheck = 60;  // while out of credits, at most one account check this often
    double pickHold = 12;     // a live pick keeps the draft counted as in progress this long
    double tailInterval = 0.25;
    double screenshotHold = 12; // the overlay stays in screenshots this long after the key

    std::string telemetryBuffer; // empty: KVTelemetry::bufferPath()
    // False: nothing is recorded, sent or saved, and the buffer an earlier run left is not
    // touched (a replay of an old draft is not a session).
    bool telemetry = true;
    KVTelemetry::Limits telemetryLimits;

    // The program's resident memory for the watchdog; empty: the system's figure.
    std::function<uint64_t()> residentBytes;

    // Ends the application's event loop; termination runs from there.
    std::function<void()> quit;

    std::shared_ptr<const KVPlatform> platform() const { return KVPlatform::current(); }

    // The real clock, KVMain() and the shared pools; quit does nothing until the GUI sets it.
    static KVAppServices standard();
};
