#include "base/dispatch/timer.hpp"

#include "base/dispatch/scheduler.hpp"

#include <atomic>
#include <cassert>

struct KVTimer::State : std::enable_shared_from_this<KVTimer::State> {
    std::weak_ptr<KVQueue> queue;
    KVScheduler::Clock::duration interval;
    KVScheduler::Clock::duration leeway;
    std::function<void()> tick; // read only on the queue once started
    std::atomic<bool> cancelled{false};
    std::atomic<bool> pending{false};

    void arm(KVScheduler::Clock::time_point deadline) {
        KVScheduler::shared().schedule(
            deadline, leeway, [self = shared_from_this(), deadline] { self->fire(deadline); });
    }

    // On the scheduler's thread.
    void fire(KVScheduler::Clock::time_point deadline) {
        if (cancelled.load()) {
            return;
        }
        auto target = queue.lock();
        if (!target) {
            return;
        }
        if (!pending.exchange(true)) {
            target->async([self = shared_from_this()] {
                if (!self->cancelled.load()) {
                    self->tick();
                }
                self->pending.store(false);
            });
        }
        auto next = deadline + interval;
        const auto now = KVScheduler::Clock::now();
        if (next < now) {
            next = now + interval; // fell behind: skip the missed ticks
        }
        arm(next);
    }
};

std::shared_ptr<KVTimer> KVTimer::start(KVQueue& queue, double startDelay, double interval,
                                        double leeway, std::function<void()> tick) {
    auto state = std::make_shared<State>();
    state->queue = queue.weak_from_this();
    assert(!state->queue.expired() && "queues are owned by shared pointers");
    state->interval = KVScheduler::seconds(interval > 0.001 ? interval : 0.001);
    state->leeway = KVScheduler::seconds(leeway > 0 ? leeway : 0);
    state->tick = std::move(tick);
    state->arm(KVScheduler::Clock::now() + KVScheduler::seconds(startDelay > 0 ? startDelay : 0));
    return std::shared_ptr<KVTimer>(new KVTimer(std::move(state)));
}

void KVTimer::cancel() {
    state_->cancelled.store(true);
}

bool KVTimer::cancelled() const {
    return state_->cancelled.load();
}

KVTimer::~KVTimer() {
    cancel();
}
