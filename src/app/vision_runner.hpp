#pragma once

#include "app/vision_loop.hpp"
#include "base/dispatch/queue.hpp"
#include "base/dispatch/serial_queue.hpp"
#include "base/thread_annotations.hpp"

#include <atomic>
#include <functional>
#include <memory>

// Drives a KVVisionLoop on its own serial queue, one pending tick at a time, and hands what it
// sees to the main queue. The main thread sets the inputs; each tick reads a copy of them.
class KVVisionRunner : public std::enable_shared_from_this<KVVisionRunner> {
public:
    struct Callbacks {
        std::function<void(const KVVisionReport&)> onVision; // main queue
        std::function<void()> onLost;                        // main queue
    };

    static std::shared_ptr<KVVisionRunner> create(std::unique_ptr<KVVisionLoop> loop,
                                                  Callbacks callbacks, KVQueue& mainQueue);

    // The first tick in 0.3 s; later calls do nothing.
    void start();
    void setInputs(KVVisionInputs inputs);
    // No tick starts after this. Waits up to `patience` seconds for one already running (it
    // may be downloading art), then leaves it to finish on its own.
    void stop(double patience = 1.0);

private:
    KVVisionRunner(std::unique_ptr<KVVisionLoop> loop, Callbacks callbacks, KVQueue& mainQueue);
    void schedule(double delay);
    void tick();

    const std::shared_ptr<KVSerialQueue> queue_;
    const std::shared_ptr<KVQueue> main_;
    const Callbacks callbacks_;
    std::unique_ptr<KVVisionLoop> loop_; // touched on queue_ only
    std::atomic<bool> started_{false};
    std::atomic<bool> stopped_{false};
    KVMutex mutex_;
    KVVisionInputs inputs_ GUARDED_BY(mutex_);
};
