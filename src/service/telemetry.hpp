#pragma once

#include "base/dispatch/serial_queue.hpp"
#include "base/dispatch/timer.hpp"
#include "base/json.hpp"

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class KVAPI;

// Collects what happens in a session as small typed events and sends them to the service in
// batches while the user is signed in. Events that could not be delivered are kept (at most
// `buffer` of them, the oldest dropped first) and, at the end of the run, saved to a file that
// the next run sends. Every call may come from any thread; the buffer lives on a private queue.
class KVTelemetry : public std::enable_shared_from_this<KVTelemetry> {
public:
    struct Limits {
        size_t batch = 25;
        size_t buffer = 2000;
        size_t shutdownBatch = 200;
        double interval = 15;   // seconds between timer flushes
        double leeway = 1;      // of the timer
        double shutdownCap = 3; // seconds quitting may wait for the service, all in all
    };

    // Loads and removes a buffer file left by an earlier run, and starts the timer.
    static std::shared_ptr<KVTelemetry> create(std::shared_ptr<KVAPI> api, bool enabled,
                                               Limits limits, std::string bufferPath);
    static std::shared_ptr<KVTelemetry> create(std::shared_ptr<KVAPI> api, bool enabled);
    ~KVTelemetry();

    KVTelemetry(const KVTelemetry&) = delete;
    KVTelemetry& operator=(const KVTelemetry&) = delete;

    // Buffers an event stamped now, or at `localTime` ("yyyy-MM-ddTHH:mm:ss", local) when it
    // is given and parses. Nothing happens when telemetry is off.
    void record(std::string_view type, const KVJson& payload,
                const std::optional<std::string>& localTime = std::nullopt);
    // Sends the next batch soon, when signed in and no batch is on its way.
    void flush();
    // Stops the timer, then: saves everything not yet delivered to the buffer file, tries to
    // deliver up to `shutdownBatch` events within `shutdownCap` (waiting for a batch already on
    // its way in that time too), and leaves in the file only what is still undelivered.
    void shutdown();

    const std::string& sessionId() const { return sessionId_; }
    // Events waiting on the queue (not those on their way); for tests and diagnostics.
    size_t buffered();

    static std::string isoNow();
    // "yyyy-MM-ddTHH:mm:ss" in local time as UTC "ts" text; other text gives isoNow().
    static std::string isoFromLocal(std::string_view text);
    static std::string bufferPath();

private:
    KVTelemetry(std::shared_ptr<KVAPI> api, bool enabled, Limits limits, std::string path);

    void load();
    void append(KVJson event);
    void flushOnQueue();
    void sent(std::vector<KVJson> batch, bool delivered, bool retryable);
    void trimNewest();
    void save(const std::vector<KVJson>& events);

    const bool enabled_;
    const Limits limits_;
    const std::string path_;
    const std::string sessionId_;
    const std::shared_ptr<KVAPI> api_;
    const std::shared_ptr<KVSerialQueue> queue_;
    std::shared_ptr<KVTimer> timer_;

    // Owned by queue_.
    std::deque<KVJson> buffer_;
    std::vector<KVJson> inFlight_; // the batch on its way, until its answer
    bool sending_ = false;
    bool shutDown_ = false;
};
