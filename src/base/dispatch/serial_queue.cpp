#include "base/dispatch/serial_queue.hpp"

#include "base/dispatch/semaphore.hpp"
#include "base/dispatch/work_list.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>

// Shared with the worker thread, so that a worker left running (the queue destroyed from its
// own thread) never touches freed memory.
struct KVSerialQueue::Core {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Work> work;
    bool closed = false;
    std::thread::id workerId;

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return closed || !work.empty(); });
            if (!KVRunOldest(work, lock)) {
                return; // closed and drained
            }
        }
    }
};

std::shared_ptr<KVSerialQueue> KVSerialQueue::create(std::string name) {
    return std::shared_ptr<KVSerialQueue>(new KVSerialQueue(std::move(name)));
}

KVSerialQueue::KVSerialQueue(std::string name) : core_(std::make_shared<Core>()) {
    std::lock_guard lock(core_->mutex);
    worker_ = std::thread([core = core_, name = std::move(name)] {
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        core->run();
    });
    core_->workerId = worker_.get_id();
}

void KVSerialQueue::async(Work work) {
    {
        std::lock_guard lock(core_->mutex);
        if (core_->closed) {
            return;
        }
        core_->work.push_back(std::move(work));
    }
    core_->changed.notify_one();
}

bool KVSerialQueue::sync(Work work) {
    if (isCurrent()) {
        work();
        return true;
    }
    auto done = std::make_shared<KVSemaphore>();
    auto ran = std::make_shared<bool>(false);
    {
        std::lock_guard lock(core_->mutex);
        if (core_->closed) {
            return false;
        }
        core_->work.emplace_back([&work, done, ran] {
            work();
            *ran = true;
            done->signal();
        });
    }
    core_->changed.notify_one();
    done->wait();
    return *ran;
}

bool KVSerialQueue::isCurrent() const {
    std::lock_guard lock(core_->mutex);
    return std::this_thread::get_id() == core_->workerId;
}

void KVSerialQueue::close() {
    {
        std::lock_guard lock(core_->mutex);
        core_->closed = true;
    }
    core_->changed.notify_one();
    std::lock_guard joinLock(joinMutex_);
    if (!worker_.joinable()) {
        return;
    }
    if (worker_.get_id() == std::this_thread::get_id()) {
        worker_.detach(); // finishes the drained queue on its own; it owns the core
    } else {
        worker_.join();
    }
}

KVSerialQueue::~KVSerialQueue() {
    close();
}
