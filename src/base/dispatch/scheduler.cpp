#include "base/dispatch/scheduler.hpp"

#include "base/dispatch/queue.hpp"

#include <pthread.h>
#include <thread>

KVScheduler& KVScheduler::shared() {
    // Never destroyed: queues and timers may still schedule while statics are torn down.
    static KVScheduler* instance = new KVScheduler();
    return *instance;
}

KVScheduler::KVScheduler() {
    std::thread([this] { run(); }).detach();
}

void KVScheduler::schedule(Clock::time_point deadline, Clock::duration leeway,
                           std::function<void()> fire) {
    {
        std::lock_guard lock(mutex_);
        entries_.push(Entry{deadline, deadline + leeway, nextOrder_++, std::move(fire)});
    }
    changed_.notify_one();
}

void KVScheduler::run() {
    pthread_setname_np(pthread_self(), "kv.scheduler");
    std::unique_lock lock(mutex_);
    for (;;) {
        if (entries_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const Clock::time_point wake = entries_.top().latest;
        if (Clock::now() < wake) {
            changed_.wait_until(lock, wake);
            continue;
        }
        // Fire everything that is due, not only the entry that woke us.
        std::vector<Entry> due;
        const Clock::time_point now = Clock::now();
        while (!entries_.empty() && entries_.top().deadline <= now) {
            due.push_back(entries_.top());
            entries_.pop();
        }
        lock.unlock();
        for (Entry& entry : due) {
            entry.fire();
        }
        due.clear();
        lock.lock();
    }
}

void KVQueue::after(double seconds, Work work) {
    if (seconds <= 0) {
        async(std::move(work));
        return;
    }
    std::weak_ptr<KVQueue> target = weak_from_this();
    KVScheduler::shared().schedule(KVScheduler::Clock::now() + KVScheduler::seconds(seconds),
                                   KVScheduler::Clock::duration::zero(),
                                   [target, work = std::move(work)]() mutable {
                                       if (auto queue = target.lock()) {
                                           queue->async(std::move(work));
                                       }
                                   });
}
