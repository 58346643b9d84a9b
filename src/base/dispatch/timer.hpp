#pragma once

#include "base/dispatch/queue.hpp"

#include <functional>
#include <memory>

// A repeating timer whose ticks run on a queue. The first tick comes after `startDelay`, the
// next ones every `interval`, each up to `leeway` late so that wake-ups can be shared. A tick
// that is still queued or running when the next is due is not doubled: the late one is
// skipped. The timer holds its queue weakly, and ends when the queue does.
class KVTimer {
public:
    static std::shared_ptr<KVTimer> start(KVQueue& queue, double startDelay, double interval,
                                          double leeway, std::function<void()> tick);

    // Safe from any thread, the timer's own ticks included. A tick checks the flag as it
    // begins on the queue, so none begins after cancel() returns; one that had already begun
    // on another thread finishes. Work a tick posted elsewhere is the caller's to drop.
    void cancel();
    bool cancelled() const;

    KVTimer(const KVTimer&) = delete;
    KVTimer& operator=(const KVTimer&) = delete;
    ~KVTimer(); // cancels

    struct State;

private:
    explicit KVTimer(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};
