#pragma once

#include "base/dispatch/queue.hpp"
#include "base/error.hpp"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// One program per user. The first launch holds a locked file and listens on a Unix socket beside
// it; a later launch finds the lock taken and asks the first, through the socket, to show itself.
class KVSingleInstance {
public:
    enum class Outcome {
        first,      // we are the one: requests to show arrive through `onShow`
        handedOver, // another instance runs and was asked to show itself
        failed,     // neither: no place for the lock, or the other instance did not answer
    };

    // `directory` holds the lock and the socket ($XDG_RUNTIME_DIR). `onShow` runs on `queue`
    // (the main thread's) for every later launch.
    KVSingleInstance(const std::string& directory, std::shared_ptr<KVQueue> queue,
                     std::function<void()> onShow);
    ~KVSingleInstance();
    KVSingleInstance(const KVSingleInstance&) = delete;
    KVSingleInstance& operator=(const KVSingleInstance&) = delete;

    Outcome acquire(KVError* error = nullptr);

    // What a second launch prints before it exits with status 0.
    static constexpr const char* kAlreadyRunning = "Korvane is already running.";

private:
    bool listen(KVError* error);
    bool handOver(KVError* error);
    void serve();

    std::string lockPath_;
    std::string socketPath_;
    std::shared_ptr<KVQueue> queue_;
    std::function<void()> onShow_;
    int lock_ = -1;
    int socket_ = -1;
    int wake_[2] = {-1, -1};
    std::thread listener_;
};
