#include "app/vision_runner.hpp"

#include "base/dispatch/semaphore.hpp"

std::shared_ptr<KVVisionRunner> KVVisionRunner::create(std::unique_ptr<KVVisionLoop> loop,
                                                       Callbacks callbacks, KVQueue& mainQueue) {
    return std::shared_ptr<KVVisionRunner>(
        new KVVisionRunner(std::move(loop), std::move(callbacks), mainQueue));
}

KVVisionRunner::KVVisionRunner(std::unique_ptr<KVVisionLoop> loop, Callbacks callbacks,
                               KVQueue& mainQueue)
    : queue_(KVSerialQueue::create("kv.vision")), main_(mainQueue.shared_from_this()),
      callbacks_(std::move(callbacks)), loop_(std::move(loop)) {}

void KVVisionRunner::start() {
    if (!started_.exchange(true)) {
        schedule(0.3);
    }
}

void KVVisionRunner::setInputs(KVVisionInputs inputs) {
    KVMutexLock lock(mutex_);
    inputs_ = std::move(inputs);
}

void KVVisionRunner::schedule(double delay) {
    if (stopped_) {
        return;
    }
    // The tick holds the runner: a runner released mid-tick lives until the tick ends.
    queue_->after(delay, [self = shared_from_this()] { self->tick(); });
}

void KVVisionRunner::tick() {
    if (stopped_) {
        return;
    }
    KVVisionInputs inputs;
    {
        KVMutexLock lock(mutex_);
        inputs = inputs_;
    }
    KVVisionStep step = loop_->tick(inputs);
    if (step.lost && callbacks_.onLost) {
        main_->async(callbacks_.onLost);
    }
    if (step.report && callbacks_.onVision) {
        main_->async([onVision = callbacks_.onVision, report = std::move(*step.report)] {
            onVision(report);
        });
    }
    schedule(step.nextDelay);
}

void KVVisionRunner::stop(double patience) {
    stopped_ = true;
    auto drained = std::make_shared<KVSemaphore>();
    queue_->async([drained] { drained->signal(); });
    drained->waitFor(patience);
}
