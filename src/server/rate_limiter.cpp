#include "server/rate_limiter.hpp"

void KVSRateLimiter::expire(std::deque<Clock::time_point>& times, Clock::time_point now) const {
    while (!times.empty() && now - times.front() >= window_) {
        times.pop_front();
    }
}

void KVSRateLimiter::sweep(Clock::time_point now) {
    // Keys that went quiet are dropped now and then, so the map stays as small as the traffic.
    if (now - lastSweep_ < window_) {
        return;
    }
    lastSweep_ = now;
    for (auto it = events_.begin(); it != events_.end();) {
        expire(it->second, now);
        it = it->second.empty() ? events_.erase(it) : std::next(it);
    }
}

bool KVSRateLimiter::exceeded(const std::string& key, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto found = events_.find(key);
    if (found == events_.end()) {
        return false;
    }
    expire(found->second, now);
    return found->second.size() >= limit_;
}

void KVSRateLimiter::record(const std::string& key, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    sweep(now);
    events_[key].push_back(now);
}

bool KVSRateLimiter::admit(const std::string& key, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    sweep(now);
    auto& times = events_[key];
    expire(times, now);
    if (times.size() >= limit_) {
        return false;
    }
    times.push_back(now);
    return true;
}
