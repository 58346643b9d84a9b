#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// A counting semaphore with deadline waits, on a mutex and a condition variable.
class KVSemaphore {
public:
    explicit KVSemaphore(long initial = 0) : count_(initial) {}

    // Notifies under the lock: a waiter that wakes may destroy the semaphore at once, so
    // signal() must be done with it before the waiter can get the mutex.
    void signal() {
        std::lock_guard lock(mutex_);
        ++count_;
        ready_.notify_one();
    }

    void wait() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return count_ > 0; });
        --count_;
    }

    // False when the deadline passed before a signal arrived.
    bool waitUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_until(lock, deadline, [this] { return count_ > 0; })) {
            return false;
        }
        --count_;
        return true;
    }

    bool waitFor(double seconds) {
        return waitUntil(std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(seconds)));
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    long count_;
};
