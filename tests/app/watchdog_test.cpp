#include "app/watchdog.hpp"

#include "base/dispatch/run_loop.hpp"
#include "base/files.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace {

using namespace std::chrono_literals;
constexpr uint64_t kGiB = 1073741824;

std::vector<std::string> linesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream text(KVReadFile(path).value_or(""));
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(Watchdog, CeilingsFromTheSettingNeverConvertOutOfRange) {
    const struct {
        double gigabytes;
        uint64_t bytes;
    } cases[] = {
        {8, 8 * kGiB},
        {0.5, 536870912},
        {0, 0},
        {-3, 0},
        {std::nan(""), 0},
        {1e30, std::numeric_limits<uint64_t>::max()},
        {std::numeric_limits<double>::infinity(), std::numeric_limits<uint64_t>::max()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KVWatchdog::limitBytes(c.gigabytes), c.bytes) << c.gigabytes;
    }
}

TEST(Watchdog, SamplesRollOverAndTheCeilingFiresOnceOnTheMainQueue) {
    KVScopedEnvironment env;
    const std::string log = KVJoinPath(env.home(), "memory.log");
    // 720 lines and blank ones from an earlier run: the oldest goes, the blanks too.
    std::string earlier;
    for (int i = 0; i < 720; ++i) {
        earlier += "old " + std::to_string(i) + "\n\n";
    }
    KVWriteTestFile(log, earlier);

    uint64_t resident = uint64_t(100) << 20;
    auto now = std::chrono::system_clock::now();
    std::vector<uint64_t> fired;
    KVWatchdog watchdog(kGiB, log, [&](uint64_t bytes) { fired.push_back(bytes); },
                        {[&] { return resident; }, [&] { return now; }});
    now += 59s;
    resident = kGiB; // at the ceiling, not over it
    watchdog.tick();
    auto lines = linesOf(log);
    ASSERT_EQ(lines.size(), 720u);
    EXPECT_EQ(lines.front(), "old 1");
    EXPECT_EQ(lines.back().substr(19), "  rss=  1024.0 MB  peak=  1024.0 MB  up=   0 min");

    now += 1s;
    resident = kGiB + 1;
    watchdog.tick();
    resident = 0; // unknown: no sample
    watchdog.tick();
    resident = 2 * kGiB;
    watchdog.tick();
    lines = linesOf(log);
    ASSERT_EQ(lines.size(), 720u);
    EXPECT_EQ(lines[717].substr(19), "  rss=  1024.0 MB  peak=  1024.0 MB  up=   1 min");
    EXPECT_EQ(lines[718], "LIMIT 1.0 GB exceeded -- quitting to protect the system");
    EXPECT_EQ(lines[719].substr(19), "  rss=  2048.0 MB  peak=  2048.0 MB  up=   1 min");
    EXPECT_TRUE(fired.empty()); // not before the main queue runs
    KVMain().drain();
    EXPECT_EQ(fired, std::vector<uint64_t>{kGiB + 1});
}

} // namespace
