#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

// Counts events per key over a sliding window (a minute by default). A cache, not state: a
// restart forgets it.
class KVSRateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    KVSRateLimiter(size_t limit, Clock::duration window = std::chrono::minutes(1))
        : limit_(limit), window_(window) {}

    // True when `key` has reached the limit within the window.
    bool exceeded(const std::string& key, Clock::time_point now = Clock::now());
    // Counts one event for `key`.
    void record(const std::string& key, Clock::time_point now = Clock::now());
    // Counts one event unless the limit is reached: true when it was counted.
    bool admit(const std::string& key, Clock::time_point now = Clock::now());

private:
    void expire(std::deque<Clock::time_point>& times, Clock::time_point now) const;
    void sweep(Clock::time_point now);

    const size_t limit_;
    const Clock::duration window_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::deque<Clock::time_point>> events_;
    Clock::time_point lastSweep_{};
};
