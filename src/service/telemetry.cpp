#include "service/telemetry.hpp"

#include "base/config.hpp"
#include "base/crypto.hpp"
#include "base/dispatch/background.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "base/time_format.hpp"
#include "service/api.hpp"

#include <algorithm>
#include <filesystem>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

bool isEvent(const KVJson& entry) {
    return entry.is_object() && KVJsonAt(entry, "type").is_string() &&
           KVJsonAt(entry, "ts").is_string();
}

KVJson arrayOf(const std::vector<KVJson>& events) {
    KVJson array = KVJson::array();
    for (const KVJson& event : events) {
        array.push_back(event);
    }
    return array;
}

double secondsLeft(Clock::time_point deadline) {
    return std::chrono::duration<double>(deadline - Clock::now()).count();
}

} // namespace

std::shared_ptr<KVTelemetry> KVTelemetry::create(std::shared_ptr<KVAPI> api, bool enabled,
                                                 Limits limits, std::string bufferPath) {
    std::shared_ptr<KVTelemetry> telemetry(
        new KVTelemetry(std::move(api), enabled, limits, std::move(bufferPath)));
    telemetry->load();
    telemetry->timer_ =
        KVTimer::start(*telemetry->queue_, limits.interval, limits.interval, limits.leeway,
                       [weak = std::weak_ptr<KVTelemetry>(telemetry)] {
                           if (auto self = weak.lock()) {
                               self->flushOnQueue();
                           }
                       });
    return telemetry;
}

std::shared_ptr<KVTelemetry> KVTelemetry::create(std::shared_ptr<KVAPI> api, bool enabled) {
    return create(std::move(api), enabled, Limits{}, bufferPath());
}

KVTelemetry::KVTelemetry(std::shared_ptr<KVAPI> api, bool enabled, Limits limits, std::string path)
    : enabled_(enabled), limits_(limits), path_(std::move(path)), sessionId_(KVRandomHex(16)),
      api_(std::move(api)), queue_(KVSerialQueue::create("kv.telemetry")) {}

KVTelemetry::~KVTelemetry() {
    if (timer_) {
        timer_->cancel();
    }
}

std::string KVTelemetry::bufferPath() {
    return KVJoinPath(KVConfig::dataDir(), "telemetry_queue.json");
}

std::string KVTelemetry::isoNow() {
    return KVUTCTimestamp(std::chrono::system_clock::now());
}

std::string KVTelemetry::isoFromLocal(std::string_view text) {
    const auto when = KVParseLocalISO(text);
    return when ? KVUTCTimestamp(*when) : isoNow();
}

// Before the timer starts, so on the creating thread alone.
void KVTelemetry::load() {
    if (!KVFileExists(path_)) {
        return;
    }
    const auto saved = KVConfig::readJSON(path_);
    if (!saved || !saved->is_array()) {
        KVLog("telemetry: %s is not a list of events; left as it is", path_.c_str());
        return;
    }
    size_t dropped = 0;
    for (const KVJson& entry : *saved) {
        if (!isEvent(entry)) {
            ++dropped;
        } else if (buffer_.size() < limits_.buffer) {
            buffer_.push_back(entry);
        }
    }
    if (dropped > 0) {
        KVLog("telemetry: dropped %zu saved entries that were not events", dropped);
    }
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

void KVTelemetry::record(std::string_view type, const KVJson& payload,
                         const std::optional<std::string>& localTime) {
    if (!enabled_) {
        return;
    }
    KVJson event = {{"type", type},
                    {"ts", localTime && !localTime->empty() ? isoFromLocal(*localTime) : isoNow()},
                    {"payload", payload.is_object() ? payload : KVJson::object()}};
    queue_->async([weak = weak_from_this(), event = std::move(event)]() mutable {
        if (auto self = weak.lock()) {
            self->append(std::move(event));
        }
    });
}

void KVTelemetry::append(KVJson event) {
    buffer_.push_back(std::move(event));
    while (buffer_.size() > limits_.buffer) {
        buffer_.pop_front();
    }
    if (buffer_.size() >= limits_.batch) {
        flushOnQueue();
    }
}

void KVTelemetry::flush() {
    queue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->flushOnQueue();
        }
    });
}

void KVTelemetry::flushOnQueue() {
    if (!enabled_ || shutDown_ || sending_ || buffer_.empty() || api_->token().empty()) {
        return;
    }
    const size_t count = std::min(limits_.batch, buffer_.size());
    inFlight_.assign(std::make_move_iterator(buffer_.begin()),
                     std::make_move_iterator(buffer_.begin() + static_cast<long>(count)));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(count));
    sending_ = true;
    KVBackground(KVQoS::utility)
        .async([weak = weak_from_this(), queue = queue_, api = api_, id = sessionId_,
                batch = arrayOf(inFlight_)] {
            bool retryable = false;
            const bool delivered = api->sendTelemetry(batch, id, &retryable);
            queue->async([weak, delivered, retryable] {
                if (auto self = weak.lock()) {
                    self->sent(std::exchange(self->inFlight_, {}), delivered, retryable);
                }
            });
        });
}

void KVTelemetry::sent(std::vector<KVJson> batch, bool delivered, bool retryable) {
    sending_ = false;
    if (!delivered && retryable) {
        buffer_.insert(buffer_.begin(), std::make_move_iterator(batch.begin()),
                       std::make_move_iterator(batch.end()));
        trimNewest();
    }
}

void KVTelemetry::trimNewest() {
    while (buffer_.size() > limits_.buffer) {
        buffer_.pop_back();
    }
}

size_t KVTelemetry::buffered() {
    size_t count = 0;
    queue_->sync([&] { count = buffer_.size(); });
    return count;
}

void KVTelemetry::save(const std::vector<KVJson>& events) {
    std::error_code ignored;
    if (events.empty()) {
        std::filesystem::remove(path_, ignored);
    } else if (!KVConfig::writeJSON(arrayOf(events), path_)) {
        KVLog("telemetry: could not save %zu events to %s", events.size(), path_.c_str());
    }
}

void KVTelemetry::shutdown() {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(limits_.shutdownCap));
    if (timer_) {
        timer_->cancel();
    }
    // What is undelivered goes to disk first: if quitting is cut short, nothing is lost.
    const auto undelivered = [this] {
        std::vector<KVJson> events = inFlight_;
        events.insert(events.end(), buffer_.begin(), buffer_.end());
        return events;
    };
    bool waitForBatch = false;
    queue_->sync([&] {
        shutDown_ = true;
        waitForBatch = sending_;
        save(undelivered());
    });
    // A batch on its way may still be answered; a retryable failure puts it back in front.
    for (bool settled = !waitForBatch; !settled && secondsLeft(deadline) > 0;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        queue_->sync([&] { settled = !sending_; });
    }

    KVJson batch = KVJson::array();
    queue_->sync([&] {
        if (enabled_ && !api_->token().empty()) {
            const size_t count = std::min(limits_.shutdownBatch, buffer_.size());
            batch = arrayOf({buffer_.begin(), buffer_.begin() + static_cast<long>(count)});
        }
    });
    // A request given less than a tenth of a second would only fail.
    const double left = secondsLeft(deadline);
    const bool delivered =
        !batch.empty() && left > 0.1 && api_->sendTelemetry(batch, sessionId_, nullptr, left);
    queue_->sync([&] {
        if (delivered) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(batch.size()));
        }
        save(undelivered());
    });
}
