#pragma once

#include <functional>
#include <memory>

// Something work can be posted to. Queues are always owned by shared pointers, so that
// delayed work and timers can hold them weakly: work aimed at a queue that is gone is dropped.
class KVQueue : public std::enable_shared_from_this<KVQueue> {
public:
    using Work = std::function<void()>;

    KVQueue() = default;
    KVQueue(const KVQueue&) = delete;
    KVQueue& operator=(const KVQueue&) = delete;
    virtual ~KVQueue() = default;

    // Runs `work` on this queue, after the work posted before it.
    virtual void async(Work work) = 0;

    // Runs `work` on this queue once `seconds` have passed (at once when <= 0).
    void after(double seconds, Work work);
};
