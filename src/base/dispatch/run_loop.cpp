#include "base/dispatch/run_loop.hpp"
#include "base/dispatch/work_list.hpp"

#include <chrono>

std::shared_ptr<KVRunLoop> KVRunLoop::create() {
    return std::shared_ptr<KVRunLoop>(new KVRunLoop());
}

void KVRunLoop::async(Work work) {
    Forwarder forwarder;
    {
        std::lock_guard lock(mutex_);
        if (ended_) {
            return;
        }
        if (!forwarder_) {
            work_.push_back(std::move(work));
            changed_.notify_all();
            return;
        }
        forwarder = forwarder_;
    }
    forwarder(std::move(work));
}

bool KVRunLoop::runOne(std::unique_lock<std::mutex>& lock) {
    return KVRunOldest(work_, lock);
}

bool KVRunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    std::unique_lock lock(mutex_);
    for (;;) {
        lock.unlock();
        const bool finished = done();
        lock.lock();
        if (finished) {
            return true;
        }
        if (ended_ || std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        if (!runOne(lock)) {
            // Nothing queued: wait for a post, but look at `done` again now and then, since
            // it may watch state that other threads change without posting here.
            changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                             std::chrono::milliseconds(5)));
        }
    }
    lock.unlock();
    return done();
}

void KVRunLoop::drain() {
    std::unique_lock lock(mutex_);
    size_t count = work_.size(); // work posted by the drained items waits for the next call
    while (count-- > 0 && !ended_ && runOne(lock)) {
    }
}

void KVRunLoop::run() {
    std::unique_lock lock(mutex_);
    while (!ended_) {
        if (!runOne(lock)) {
            changed_.wait(lock, [this] { return ended_ || !work_.empty(); });
        }
    }
}

void KVRunLoop::end() {
    std::deque<Work> dropped;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        forwarder_ = nullptr;
        dropped.swap(work_);
    }
    changed_.notify_all();
    // `dropped` dies here, outside the lock, in case captured values post from destructors.
}

bool KVRunLoop::ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

void KVRunLoop::forwardTo(const Forwarder& forwarder) {
    // Posts go straight to the forwarder only once the queue has been found empty under the
    // lock. Until then they join the queue behind the batch being handed over, so nothing
    // posted during the hand-over overtakes older work.
    std::unique_lock lock(mutex_);
    while (!ended_) {
        if (work_.empty()) {
            forwarder_ = forwarder;
            return;
        }
        std::deque<Work> batch;
        batch.swap(work_);
        lock.unlock();
        for (Work& work : batch) {
            forwarder(std::move(work));
        }
        lock.lock();
    }
}

KVRunLoop& KVMain() {
    // Never destroyed: background threads may still post while statics are torn down.
    static auto* loop = new std::shared_ptr<KVRunLoop>(KVRunLoop::create());
    return **loop;
}
