#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <queue>
#include <vector>

// The one clock thread behind delayed work and timers. It only hands work to queues, so its
// callbacks are short; entries whose leeway allows it are fired together to save wake-ups.
class KVScheduler {
public:
    using Clock = std::chrono::steady_clock;

    static KVScheduler& shared();

    // Calls `fire` on the clock thread at `deadline`, or up to `leeway` later.
    void schedule(Clock::time_point deadline, Clock::duration leeway, std::function<void()> fire);

    static Clock::duration seconds(double s) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    }

private:
    KVScheduler();
    void run();

    struct Entry {
        Clock::time_point deadline;
        Clock::time_point latest;
        unsigned long long order;
        std::function<void()> fire;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const {
            return a.latest != b.latest ? a.latest > b.latest : a.order > b.order;
        }
    };

    std::mutex mutex_;
    std::condition_variable changed_;
    std::priority_queue<Entry, std::vector<Entry>, Later> entries_;
    unsigned long long nextOrder_ = 0;
};
