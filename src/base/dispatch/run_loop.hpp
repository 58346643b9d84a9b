#pragma once

#include "base/dispatch/queue.hpp"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// A queue whose work runs on whichever thread drives it: the main thread's queue. Run modes
// and tests drive it themselves; the GUI hands its work to the toolkit's event loop through
// forwardTo(). After end() posting does nothing.
class KVRunLoop final : public KVQueue {
public:
    static std::shared_ptr<KVRunLoop> create();

    void async(Work work) override;

    // Runs posted work on the calling thread until `done` holds (checked before each item and
    // after it) or `timeoutSeconds` have passed. Returns done().
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds);

    // Runs the work posted so far, without waiting for more.
    void drain();

    // Runs posted work until end() is called.
    void run();

    // Ends the loop: run() returns, queued work is dropped and later posts do nothing.
    void end();
    bool ended() const;

    // From now on posted work, and what is queued, goes to `forwarder` (the GUI's event loop)
    // instead of waiting for runUntil()/run(), in the order it was posted.
    using Forwarder = std::function<void(Work)>;
    void forwardTo(const Forwarder& forwarder);

private:
    KVRunLoop() = default;
    bool runOne(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Work> work_;
    Forwarder forwarder_;
    bool ended_ = false;
};

// The main thread's queue: controller state, the session, the parser and every window live
// there.
KVRunLoop& KVMain();
