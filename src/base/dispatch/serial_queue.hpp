#pragma once

#include "base/dispatch/queue.hpp"

#include <memory>
#include <mutex>
#include <string>
#include <thread>

// One worker thread running posted work in order (FIFO).
class KVSerialQueue final : public KVQueue {
public:
    // `name` names the worker thread (at most 15 characters show in debuggers).
    static std::shared_ptr<KVSerialQueue> create(std::string name);

    // Dropped once the queue is closed.
    void async(Work work) override;

    // Runs `work` on the queue and waits for it; runs it at once when called from the queue's
    // own thread. Returns false when the queue was closed and the work did not run.
    bool sync(Work work);

    // Stops taking work; what was posted before still runs. Waits for the worker unless called
    // on it. Safe from any thread; also done by the destructor.
    void close();

    bool isCurrent() const;

    ~KVSerialQueue() override;

    struct Core;

private:
    explicit KVSerialQueue(std::string name);

    std::shared_ptr<Core> core_;
    std::mutex joinMutex_; // close() may come from two threads at once
    std::thread worker_;
};
