#pragma once

#include "base/dispatch/queue.hpp"

#include <deque>
#include <mutex>

// Work waiting for a thread, and the one way every worker (serial queues, the background pools,
// the run loop) takes it: the oldest item, run with the owner's lock released, its captured
// values destroyed on the worker before the lock is taken again.
inline bool KVRunOldest(std::deque<KVQueue::Work>& work, std::unique_lock<std::mutex>& lock) {
    if (work.empty()) {
        return false;
    }
    KVQueue::Work next = std::move(work.front());
    work.pop_front();
    lock.unlock();
    next();
    next = nullptr;
    lock.lock();
    return true;
}
