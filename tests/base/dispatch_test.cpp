#include "base/dispatch/background.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/dispatch/semaphore.hpp"
#include "base/dispatch/serial_queue.hpp"
#include "base/dispatch/timer.hpp"
#include "base/sequence_checker.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::vector<int> upTo(int count) {
    std::vector<int> values(static_cast<size_t>(count));
    std::iota(values.begin(), values.end(), 0);
    return values;
}

TEST(SerialQueueIntegration, RunsEachProducersWorkInOrderOnOneThread) {
    auto queue = KVSerialQueue::create("test.serial");
    std::mutex mutex;
    std::vector<std::vector<int>> seen(3);
    std::set<std::thread::id> threads;
    std::vector<std::thread> producers;
    producers.reserve(seen.size());
    for (size_t p = 0; p < seen.size(); ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 500; ++i) {
                queue->async([&, p, i] {
                    std::lock_guard lock(mutex);
                    seen[p].push_back(i);
                    threads.insert(std::this_thread::get_id());
                });
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    ASSERT_TRUE(queue->sync([] {}));
    std::lock_guard lock(mutex);
    EXPECT_EQ(threads.size(), 1u);
    for (const auto& list : seen) {
        EXPECT_EQ(list, upTo(500));
    }
}

TEST(SerialQueueIntegration, CloseRunsQueuedWorkAndDropsLaterWork) {
    auto queue = KVSerialQueue::create("test.close");
    KVSemaphore gate;
    std::atomic<int> ran{0};
    queue->async([&] { gate.wait(); });
    for (int i = 0; i < 10; ++i) {
        queue->async([&] { ++ran; });
    }
    std::thread closer([&] { queue->close(); });
    gate.signal();
    closer.join();
    EXPECT_EQ(ran.load(), 10);
    queue->async([&] { ++ran; });
    EXPECT_FALSE(queue->sync([&] { ++ran; }));
    EXPECT_EQ(ran.load(), 10);
}

TEST(SerialQueueIntegration, ItsOwnWorkMaySyncOnItAndReleaseIt) {
    auto queue = KVSerialQueue::create("test.self");
    int value = 0;
    ASSERT_TRUE(queue->sync([&] {
        EXPECT_TRUE(queue->isCurrent());
        EXPECT_TRUE(queue->sync([&] { value = 7; })); // would deadlock if it queued
    }));
    EXPECT_EQ(value, 7);
    EXPECT_FALSE(queue->isCurrent());

    auto owner = std::make_shared<std::shared_ptr<KVSerialQueue>>(queue);
    KVSemaphore go;
    KVSemaphore done;
    queue->async([owner, &go, &done] {
        go.wait();
        owner->reset(); // the last owner goes away on the worker itself: no self-join
        done.signal();
    });
    queue.reset();
    go.signal();
    EXPECT_TRUE(done.waitFor(5));
}

TEST(BackgroundIntegration, GrowsWhenEveryThreadIsBlocked) {
    // Each task waits until all have started: a pool that queued work behind busy threads
    // instead of growing would never get there.
    constexpr int kTasks = 6;
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    int together = 0;
    KVSemaphore allDone;
    for (int i = 0; i < kTasks; ++i) {
        KVBackground(KVQoS::userInitiated).async([&] {
            std::unique_lock lock(mutex);
            ++started;
            changed.notify_all();
            together += changed.wait_for(lock, 10s, [&] { return started == kTasks; }) ? 1 : 0;
            lock.unlock();
            allDone.signal();
        });
    }
    for (int i = 0; i < kTasks; ++i) {
        ASSERT_TRUE(allDone.waitFor(20));
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(together, kTasks);
}

TEST(RunLoopIntegration, RunsPostedWorkOnTheDrivingThreadInOrder) {
    auto loop = KVRunLoop::create();
    std::vector<int> order;
    std::thread::id ranOn;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            loop->async([&, i] {
                order.push_back(i);
                ranOn = std::this_thread::get_id();
            });
        }
    });
    poster.join();
    EXPECT_TRUE(loop->runUntil([&] { return order.size() == 100; }, 5));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(order, upTo(100));
}

TEST(RunLoopIntegration, DrainRunsOnlyWhatWasPostedAndNothingRunsAfterTheEnd) {
    auto loop = KVRunLoop::create();
    int runs = 0;
    std::function<void()> repost = [&] {
        ++runs;
        loop->async(repost);
    };
    loop->async(repost);
    loop->drain();
    EXPECT_EQ(runs, 1); // work that posts more work can't keep drain() from returning
    loop->drain();
    EXPECT_EQ(runs, 2);
    loop->end(); // the reposted work is dropped, and so is any posted later
    loop->async([&] { ++runs; });
    EXPECT_FALSE(loop->runUntil([&] { return runs > 2; }, 0.05));
    EXPECT_TRUE(loop->ended());
    EXPECT_EQ(runs, 2);

    auto running = KVRunLoop::create();
    std::thread ender([&] { running->async([&] { running->end(); }); });
    running->run(); // returns once the posted end() has run
    ender.join();
    EXPECT_TRUE(running->ended());
}

TEST(RunLoopIntegration, ForwardsQueuedAndLaterWorkInOrderToTheGuiLoop) {
    // Work posted by another thread while the queued work is being handed over must follow
    // it, not overtake it.
    auto loop = KVRunLoop::create();
    std::vector<int> order;
    loop->async([&] { order.push_back(1); });
    loop->async([&] { order.push_back(2); });
    std::mutex mutex;
    std::vector<KVQueue::Work> forwarded;
    loop->forwardTo([&](KVQueue::Work work) {
        std::unique_lock lock(mutex);
        forwarded.push_back(std::move(work));
        if (forwarded.size() == 1) {
            lock.unlock();
            std::thread poster([&] { loop->async([&] { order.push_back(3); }); });
            poster.join();
        }
    });
    loop->async([&] { order.push_back(4); });
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(forwarded.size(), 4u);
        for (auto& work : forwarded) {
            work();
        }
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    loop->end();
    loop->async([&] { order.push_back(5); });
    std::lock_guard lock(mutex);
    EXPECT_EQ(forwarded.size(), 4u);
}

TEST(DelayedWorkIntegration, RunsAfterItsDelayAndNotForAGoneQueue) {
    auto loop = KVRunLoop::create();
    const auto posted = Clock::now();
    Clock::time_point ranAt;
    bool ran = false;
    loop->after(0.1, [&] {
        ranAt = Clock::now();
        ran = true;
    });
    ASSERT_TRUE(loop->runUntil([&] { return ran; }, 5));
    EXPECT_GE(ranAt - posted, 100ms);

    auto gone = KVSerialQueue::create("test.gone");
    auto token = std::make_shared<int>(1);
    std::weak_ptr<int> watch = token;
    gone->after(0.05, [token] {});
    token.reset();
    gone.reset();
    // The scheduler drops the work once it finds the queue gone, releasing what it held.
    EXPECT_TRUE(KVMain().runUntil([&] { return watch.expired(); }, 5));
}

TEST(TimerIntegration, WaitsForTheStartDelayThenRepeats) {
    auto queue = KVSerialQueue::create("test.timer");
    std::vector<Clock::time_point> ticks; // touched only on the queue
    KVSemaphore fifth;
    const auto started = Clock::now();
    auto timer = KVTimer::start(*queue, 0.1, 0.02, 0.01, [&] {
        ticks.push_back(Clock::now());
        if (ticks.size() == 5) {
            fifth.signal();
        }
    });
    ASSERT_TRUE(fifth.waitFor(5));
    timer->cancel();
    queue->sync([] {});
    // Tick i is due at start + delay + i intervals (never earlier), whenever the one before ran.
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_GE(ticks[i] - started, 100ms + std::chrono::milliseconds(20 * i)) << i;
    }
}

TEST(TimerIntegration, NoTickRunsOnceStopped) {
    enum class Stop { cancelFromAnotherThread, cancelFromItsOwnTick, dropItsQueue };
    for (Stop stop :
         {Stop::cancelFromAnotherThread, Stop::cancelFromItsOwnTick, Stop::dropItsQueue}) {
        SCOPED_TRACE(static_cast<int>(stop));
        auto queue = KVSerialQueue::create("test.stop");
        std::atomic<int> ticks{0};
        std::atomic<bool> stopped{false};
        std::atomic<int> afterStop{0};
        std::shared_ptr<KVTimer> timer;
        KVSemaphore third;
        queue->sync([&] { // on the queue, so no tick runs before `timer` is set
            timer = KVTimer::start(*queue, 0, 0.001, 0, [&] {
                if (stopped.load()) {
                    ++afterStop;
                }
                if (++ticks == 3) {
                    if (stop == Stop::cancelFromItsOwnTick) {
                        timer->cancel();
                        stopped = true;
                    }
                    third.signal();
                }
            });
        });
        ASSERT_TRUE(third.waitFor(5));
        if (stop == Stop::cancelFromAnotherThread) {
            // Cancelling on the queue itself orders it after any tick already running.
            queue->sync([&] {
                timer->cancel();
                stopped = true;
            });
        } else if (stop == Stop::dropItsQueue) {
            queue.reset(); // joins the worker; later firings find no queue
            stopped = true;
        }
        const int seen = ticks.load();
        std::this_thread::sleep_for(30ms); // a live timer would tick ~30 more times
        if (queue) {
            queue->sync([] {});
        }
        EXPECT_EQ(afterStop.load(), 0);
        EXPECT_EQ(ticks.load(), seen);
        EXPECT_EQ(timer->cancelled(), stop != Stop::dropItsQueue);
    }
}

TEST(TimerIntegration, SlowTicksAreNotQueuedUpBehindEachOther) {
    auto queue = KVSerialQueue::create("test.slow");
    std::atomic<int> ticks{0};
    std::atomic<int> ranBehindTheSlowTick{-1};
    KVSemaphore blocked;
    KVSemaphore release;
    KVSemaphore twoTicks;
    auto timer = KVTimer::start(*queue, 0, 0.005, 0, [&] {
        const int tick = ++ticks;
        if (tick == 1) {
            blocked.signal();
            release.wait(); // while this runs, some 40 periods pass
            // Anything the timer queued during those periods is ahead of this in the queue.
            queue->async([&] { ranBehindTheSlowTick = ticks.load(); });
        } else if (tick == 2) {
            twoTicks.signal();
        }
    });
    ASSERT_TRUE(blocked.waitFor(5));
    // The periods must really pass while the first tick blocks; nothing waits on this sleep.
    std::this_thread::sleep_for(200ms);
    release.signal();
    ASSERT_TRUE(twoTicks.waitFor(5)); // the timer goes on after the slow tick
    timer->cancel();
    queue->sync([] {});
    // The periods missed while the first tick ran are skipped, not stacked behind it.
    EXPECT_EQ(ranBehindTheSlowTick.load(), 1);
}

TEST(SequenceChecker, BindsToTheFirstThreadUntilDetachedAndCopiesStartUnbound) {
    KVSequenceChecker checker;
    const auto onOtherThread = [](const KVSequenceChecker& used) {
        bool valid = true;
        std::thread([&] { valid = used.calledOnValidSequence(); }).join();
        return valid;
    };
    EXPECT_TRUE(checker.calledOnValidSequence());
    EXPECT_TRUE(checker.calledOnValidSequence());
    EXPECT_FALSE(onOtherThread(checker));

    const KVSequenceChecker copy = checker;
    EXPECT_TRUE(onOtherThread(copy));
    EXPECT_FALSE(copy.calledOnValidSequence());

    checker.detach();
    EXPECT_TRUE(onOtherThread(checker));
    EXPECT_FALSE(checker.calledOnValidSequence());
}

} // namespace
