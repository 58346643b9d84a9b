#pragma once

#include "base/dispatch/timer.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Samples the program's resident memory once a minute into a rolling log ("memory.log") and,
// the first time it climbs past the ceiling, has the program quit in order with a note saying
// why: a leak must not take the player's game down with it.
class KVWatchdog : public std::enable_shared_from_this<KVWatchdog> {
public:
    using OnLimit = std::function<void(uint64_t residentBytes)>;
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr size_t kMaxLines = 720; // 12 hours of samples

    struct Sources {
        std::function<uint64_t()> residentBytes; // 0 = unknown
        Clock now;
    };
    static Sources systemSources();

    // `onLimit` runs once on the main queue. A limit of 0 means no ceiling.
    KVWatchdog(uint64_t limitBytes, std::string logPath, OnLimit onLimit,
               Sources sources = systemSources());
    ~KVWatchdog();

    KVWatchdog(const KVWatchdog&) = delete;
    KVWatchdog& operator=(const KVWatchdog&) = delete;

    // One sample now, then one a minute on a background queue.
    void start();
    void stop();
    // One sample; runs on the sampling queue (or the starting thread before the timer runs).
    void tick();
    // Adds a line to the log, keeping the newest kMaxLines.
    void append(const std::string& line);

    // The ceiling for "memory_limit_gb": none for 0, a negative or a non-number, the largest
    // figure for one too big to count in bytes.
    static uint64_t limitBytes(double gigabytes);
    static std::string crashNote(uint64_t residentBytes, double limitGigabytes);

private:
    const uint64_t limit_;
    const std::string logPath_;
    const OnLimit onLimit_;
    const Sources sources_;
    const std::chrono::system_clock::time_point started_;
    std::shared_ptr<KVTimer> timer_;

    // Touched by the sampling queue only.
    bool fired_ = false;
    uint64_t peak_ = 0;
};

// The controller's watchdog: the ceiling from "memory_limit_gb", the log in the data directory,
// and at the ceiling the crash note, then `terminate` (the program's orderly quit).
std::shared_ptr<KVWatchdog>
KVStartWatchdog(double limitGigabytes, std::function<void()> terminate,
                KVWatchdog::Sources sources = KVWatchdog::systemSources());
