#include "base/dispatch/background.hpp"
#include "base/dispatch/work_list.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

class KVBackgroundPool final : public KVQueue {
public:
    explicit KVBackgroundPool(KVQoS qos) : qos_(qos) {}

    void async(Work work) override {
        bool spawn = false;
        {
            std::lock_guard lock(mutex_);
            work_.push_back(std::move(work));
            // Every queued item needs a waiting thread to take it; start one when it lacks.
            if (work_.size() > idle_ && threads_ < kMaxThreads) {
                ++threads_;
                spawn = true;
            }
        }
        if (spawn) {
            std::thread([this] { run(); }).detach();
        } else {
            changed_.notify_one();
        }
    }

private:
    static constexpr size_t kMaxThreads = 64;
    static constexpr auto kIdleExit = std::chrono::seconds(30);

    void run() {
        pthread_setname_np(pthread_self(),
                           qos_ == KVQoS::utility ? "kv.utility" : "kv.userInitiated");
        if (qos_ == KVQoS::utility) {
            // Linux nice values are per thread: housekeeping yields to the game and the UI.
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        }
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            const bool got = changed_.wait_for(lock, kIdleExit, [this] { return !work_.empty(); });
            --idle_;
            if (!got) {
                --threads_;
                return;
            }
            KVRunOldest(work_, lock);
        }
    }

    const KVQoS qos_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Work> work_;
    size_t idle_ = 0;
    size_t threads_ = 0;
};

} // namespace

KVQueue& KVBackground(KVQoS qos) {
    // Never destroyed: detached workers and late work may outlive static destruction.
    static auto* userInitiated = new std::shared_ptr<KVBackgroundPool>(
        std::make_shared<KVBackgroundPool>(KVQoS::userInitiated));
    static auto* utility =
        new std::shared_ptr<KVBackgroundPool>(std::make_shared<KVBackgroundPool>(KVQoS::utility));
    return qos == KVQoS::utility ? **utility : **userInitiated;
}
