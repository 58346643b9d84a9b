#include "app/watchdog.hpp"

#include "base/config.hpp"
#include "base/dispatch/background.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/files.hpp"
#include "base/log.hpp"
#include "base/time_format.hpp"
#include "platform/resident_bytes.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <vector>

namespace {

constexpr double kMiB = 1048576.0;
constexpr double kGiB = 1073741824.0;

std::string formatted(const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

} // namespace

KVWatchdog::Sources KVWatchdog::systemSources() {
    return {[] { return KVResidentBytes(); }, [] { return std::chrono::system_clock::now(); }};
}

KVWatchdog::KVWatchdog(uint64_t limitBytes, std::string logPath, OnLimit onLimit, Sources sources)
    : limit_(limitBytes), logPath_(std::move(logPath)), onLimit_(std::move(onLimit)),
      sources_(std::move(sources)), started_(sources_.now()) {}

KVWatchdog::~KVWatchdog() {
    stop();
}

void KVWatchdog::start() {
    if (timer_) {
        return;
    }
    tick();
    timer_ = KVTimer::start(KVBackground(KVQoS::utility), 60, 60, 5, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->tick();
        }
    });
}

void KVWatchdog::stop() {
    if (timer_) {
        timer_->cancel();
        timer_.reset();
    }
}

void KVWatchdog::tick() {
    const uint64_t resident = sources_.residentBytes();
    if (resident == 0) {
        return;
    }
    peak_ = std::max(peak_, resident);
    const auto up = std::chrono::duration_cast<std::chrono::seconds>(sources_.now() - started_);
    append(formatted("%s  rss=%8.1f MB  peak=%8.1f MB  up=%4ld min",
                     KVLocalTimestamp(sources_.now()).c_str(), resident / kMiB, peak_ / kMiB,
                     static_cast<long>(up.count() / 60)));
    if (limit_ != 0 && resident > limit_ && !fired_) {
        fired_ = true;
        append(
            formatted("LIMIT %.1f GB exceeded -- quitting to protect the system", limit_ / kGiB));
        KVLog("memory: %.1f GB resident, over the ceiling; quitting", resident / kGiB);
        if (onLimit_) {
            KVMain().async([onLimit = onLimit_, resident] { onLimit(resident); });
        }
    }
}

void KVWatchdog::append(const std::string& line) {
    std::vector<std::string> lines;
    std::istringstream existing(KVReadFile(logPath_).value_or(""));
    for (std::string kept; std::getline(existing, kept);) {
        if (!kept.empty()) {
            lines.push_back(std::move(kept));
        }
    }
    if (lines.size() >= kMaxLines) {
        lines.erase(lines.begin(), lines.end() - static_cast<long>(kMaxLines - 1));
    }
    lines.push_back(line);
    std::string text;
    for (const std::string& kept : lines) {
        text += kept + "\n";
    }
    KVWriteFileAtomically(logPath_, text); // a lost sample is not worth more than a log line
}

uint64_t KVWatchdog::limitBytes(double gigabytes) {
    if (!(gigabytes > 0)) {
        return 0; // 0, negative or not a number
    }
    const double bytes = gigabytes * kGiB;
    // 2^64 itself does not convert: everything from there on is the largest ceiling.
    if (bytes >= 18446744073709551616.0) {
        return std::numeric_limits<uint64_t>::max();
    }
    return static_cast<uint64_t>(bytes);
}

std::string KVWatchdog::crashNote(uint64_t residentBytes, double limitGigabytes) {
    return formatted("Korvane quit itself at %.1f GB resident, over the %.0f GB ceiling "
                     "(memory_limit_gb in config.json). See memory.log for the climb.\n",
                     residentBytes / kGiB, limitGigabytes);
}

std::shared_ptr<KVWatchdog> KVStartWatchdog(double limitGigabytes, std::function<void()> terminate,
                                            KVWatchdog::Sources sources) {
    KVConfig::ensureDirs();
    const std::string notePath = KVJoinPath(KVConfig::dataDir(), "memory-crash.txt");
    auto watchdog = std::make_shared<KVWatchdog>(
        KVWatchdog::limitBytes(limitGigabytes), KVJoinPath(KVConfig::dataDir(), "memory.log"),
        [notePath, limitGigabytes, terminate = std::move(terminate)](uint64_t resident) {
            KVWriteFileAtomically(notePath, KVWatchdog::crashNote(resident, limitGigabytes));
            if (terminate) {
                terminate();
            }
        },
        std::move(sources));
    watchdog->start();
    return watchdog;
}
