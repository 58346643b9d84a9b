#pragma once

#include "base/dispatch/queue.hpp"
#include "base/sequence_checker.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Follows Arena's Player.log as the game appends to it. Every 250 ms it looks at the file, reads
// what was added since the last look and hands the text to a handler on the main queue, in file
// order. A replaced or shortened file is followed from its last 6 MiB again, as is the file
// found at the first look: older content is never read.
class KVLogTail {
public:
    // (text, first): `first` is true for the first non-empty chunk of the tailer's life only.
    using Handler = std::function<void(const std::string& text, bool first)>;

    static constexpr uint64_t kBacklogBytes = 6291456;
    // The most one polling step reads: a huge append arrives over several steps.
    static constexpr uint64_t kMaxReadBytes = 8388608;

    // `mainQueue` receives the handler calls; it must live as long as the tailer (the main
    // queue does). `interval` is the polling period in seconds.
    explicit KVLogTail(std::string path, KVQueue* mainQueue = nullptr, double interval = 0.25);
    ~KVLogTail(); // stops

    KVLogTail(const KVLogTail&) = delete;
    KVLogTail& operator=(const KVLogTail&) = delete;

    // Starts polling on a private queue, first look at once. Starting again replaces the
    // handler and restarts polling.
    void start(Handler handler);

    // Stops polling. Chunks already on their way to the main queue are dropped: after stop the
    // handler is not called again. A second stop does nothing.
    void stop();

    // One polling step: the text appended since the last step, or nothing. Runs on the
    // tailer's queue while polling; tests may call it directly on a tailer not started.
    std::optional<std::string> readMore();

    const std::string& path() const;

    struct Core;

private:
    std::shared_ptr<Core> core_;
    KVSequenceChecker sequence_; // start and stop come from the main thread
};
