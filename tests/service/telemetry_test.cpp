#include "service/telemetry.hpp"

#include "base/config.hpp"
#include "base/files.hpp"
#include "service/api.hpp"
#include "support/fake_http_server.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <numeric>
#include <thread>

namespace {

std::vector<int> numbersIn(const KVJson& events) {
    std::vector<int> out;
    for (const KVJson& event : events) {
        out.push_back(event["payload"].value("n", -1));
    }
    return out;
}

std::vector<int> numbers(int first, int last) {
    std::vector<int> out(size_t(last - first + 1));
    std::iota(out.begin(), out.end(), first);
    return out;
}

std::vector<int> savedNumbers(const std::string& path) {
    return numbersIn(KVConfig::readJSON(path).value_or(KVJson::array()));
}

struct FakeService {
    std::mutex mutex;
    std::deque<int> statuses;
    KVFakeHTTPServer server{[this](KVFakeHTTPServer::Routes& routes) {
        routes.Post("/api/telemetry", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(mutex);
            res.status = statuses.empty() ? 200 : statuses.front();
            if (!statuses.empty()) {
                statuses.pop_front();
            }
            res.set_content("{}", "application/json");
        });
    }};

    std::vector<std::vector<int>> batches() const {
        std::vector<std::vector<int>> out;
        for (const auto& request : server.requests()) {
            out.push_back(numbersIn(KVJson::parse(request.body)["events"]));
        }
        return out;
    }
};

class Telemetry : public ::testing::Test {
protected:
    KVScopedEnvironment env;
    FakeService service;
    std::shared_ptr<KVAPI> api = std::make_shared<KVAPI>(service.server.base(), "token");
    // No timer flush during a test unless it asks for one.
    KVTelemetry::Limits limits{25, 2000, 200, 3600, 1, 3};
    std::string path = KVJoinPath(env.home(), "telemetry_queue.json");

    std::shared_ptr<KVTelemetry> start(bool enabled = true) {
        return KVTelemetry::create(api, enabled, limits, path);
    }
    static void recordRange(KVTelemetry& telemetry, int first, int last) {
        for (int n = first; n <= last; ++n) {
            telemetry.record("pack_analyzed", {{"n", n}});
        }
    }
};

TEST_F(Telemetry, TheTwentyFifthEventSendsABatchAndSignedOutKeepsTheNewest2000) {
    auto telemetry = start();
    recordRange(*telemetry, 1, 24);
    EXPECT_EQ(telemetry->buffered(), 24u); // waiting for the timer
    telemetry->record("pack_analyzed", {{"n", 25}});
    ASSERT_TRUE(KVEventually([&] { return service.server.requests().size() == 1; }));
    EXPECT_EQ(service.batches()[0], numbers(1, 25));
    const KVJson body = KVJson::parse(service.server.requests()[0].body);
    EXPECT_EQ(body["sessionId"], telemetry->sessionId());
    EXPECT_EQ(telemetry->sessionId().size(), 32u);
    const KVJson& event = body["events"][0];
    EXPECT_EQ(event["type"], "pack_analyzed");
    EXPECT_EQ(event["ts"].get<std::string>().size(), 24u); // 2026-03-01T18:04:05.123Z

    api->setToken("");
    recordRange(*telemetry, 1, 2001);
    EXPECT_EQ(telemetry->buffered(), 2000u);
    telemetry->shutdown();
    EXPECT_EQ(savedNumbers(path), numbers(2, 2001));
    EXPECT_EQ(service.server.requests().size(), 1u);
}

TEST_F(Telemetry, ARetryableRefusalIsSentFirstAgainAndAFinalOneIsDropped) {
    service.statuses = {429, 400};
    auto telemetry = start();
    recordRange(*telemetry, 1, 25);
    ASSERT_TRUE(KVEventually([&] { return telemetry->buffered() == 25; })); // put back
    telemetry->record("pack_analyzed", {{"n", 26}});
    // Each flush does nothing while a batch is on its way.
    ASSERT_TRUE(KVEventually([&] {
        telemetry->flush();
        return service.server.requests().size() == 3;
    }));
    EXPECT_EQ(service.batches(),
              (std::vector<std::vector<int>>{numbers(1, 25), numbers(1, 25), numbers(26, 26)}));
}

TEST_F(Telemetry, ShutdownSendsTwoHundredAndSavesTheRest) {
    api->setToken("");
    auto telemetry = start();
    recordRange(*telemetry, 1, 300);
    EXPECT_EQ(telemetry->buffered(), 300u);
    api->setToken("token");
    telemetry->shutdown();
    EXPECT_EQ(service.batches(), std::vector<std::vector<int>>{numbers(1, 200)});
    EXPECT_EQ(savedNumbers(path), numbers(201, 300));

    // The next run sends them; nothing left means no file.
    auto next = start();
    EXPECT_FALSE(KVFileExists(path));
    next->shutdown();
    EXPECT_EQ(service.batches().back(), numbers(201, 300));
    EXPECT_FALSE(KVFileExists(path));
}

TEST_F(Telemetry, ASilentServiceHoldsQuittingForTheCapAndLosesNothing) {
    // A service that takes each batch and never answers, until the test ends.
    std::atomic<bool> ended{false};
    KVFakeHTTPServer silent([&ended](KVFakeHTTPServer::Routes& routes) {
        routes.Post("/api/telemetry", [&ended](const httplib::Request&, httplib::Response&) {
            for (int i = 0; i < 2000 && !ended; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    });
    api->setBaseURL(silent.base());

    auto telemetry = start();
    recordRange(*telemetry, 1, 25); // on its way, never answered
    ASSERT_TRUE(KVEventually([&] { return telemetry->buffered() == 0; }));
    recordRange(*telemetry, 26, 40);
    const auto before = std::chrono::steady_clock::now();
    telemetry->shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4));
    EXPECT_EQ(savedNumbers(path), numbers(1, 40));
    ended = true;
}

TEST_F(Telemetry, SavedFilesAreReadWhateverTheSettingAndJunkIsDropped) {
    // Off: nothing new is kept, but what an earlier run saved goes back to the file.
    KVWriteTestFile(path, R"([{"type": "a", "ts": "t", "payload": {"n": 1}}, 5, "x", null,
                             {"type": 7, "ts": "t"}, {"ts": "t"},
                             {"type": "b", "ts": "t", "payload": {"n": 2}}])");
    auto off = start(false);
    EXPECT_FALSE(KVFileExists(path));
    EXPECT_EQ(off->buffered(), 2u);
    off->record("pack_analyzed", {{"n", 3}});
    off->shutdown();
    EXPECT_EQ(savedNumbers(path), (std::vector<int>{1, 2}));
    EXPECT_TRUE(service.server.requests().empty());

    for (const std::string unreadable : {"[{\"type\": ", "{\"type\": \"a\"}"}) {
        KVWriteTestFile(path, unreadable);
        auto telemetry = start();
        EXPECT_EQ(telemetry->buffered(), 0u);
        EXPECT_EQ(KVReadFile(path), unreadable); // left for a person to look at
    }
}

TEST(TelemetryTime, LocalLogTimesBecomeUTCAndAnythingElseIsNow) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    ::setenv("TZ", "XYZ-2", 1); // two hours east of UTC, no daylight saving
    ::tzset();
    EXPECT_EQ(KVTelemetry::isoFromLocal("2026-03-01T18:04:05"), "2026-03-01T16:04:05.000Z");
    EXPECT_EQ(KVTelemetry::isoFromLocal("2026-01-01T01:00:00"), "2025-12-31T23:00:00.000Z");
    for (const char* text :
         {"", "2026-02-30T10:00:00", "2026-03-01 18:04:05", "2026-03-01T24:00:00",
          "2026-03-01T18:04:05Z", "x026-03-01T18:04:05"}) {
        const std::string before = KVTelemetry::isoNow();
        const std::string read = KVTelemetry::isoFromLocal(text);
        EXPECT_TRUE(before <= read && read <= KVTelemetry::isoNow()) << text << ": " << read;
    }
    if (previous) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

} // namespace
