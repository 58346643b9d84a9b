#pragma once

#include "app/app.hpp"
#include "app/app_views.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/json.hpp"
#include "platform/fake/fake_platform.hpp"
#include "support/fake_http_server.hpp"
#include "support/test_environment.hpp"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Holds a server thread while shut: at most 20 s, so that a test that forgets to open it ends.
struct Gate {
    std::atomic<bool> shut{false};
    void wait() const {
        KVEventually([this] { return !shut.load(); }, 20);
    }
};

// The Korvane service on 127.0.0.1: each route answers what the test put in it last.
class FakeService {
public:
    struct Reply {
        Reply(int code = 200, KVJson json = KVJson::object(), std::shared_ptr<Gate> hold = {})
            : status(code), body(std::move(json)), gate(std::move(hold)) {}
        int status;
        KVJson body;
        std::shared_ptr<Gate> gate; // held while shut
    };
    using Route = std::function<Reply(const KVJson& body)>;

    FakeService();
    void on(const std::string& path, Route route);
    std::vector<KVJson> bodies(const std::string& path) const; // the requests it had, in order
    size_t count(const std::string& path) const { return bodies(path).size(); }
    std::string base() const { return server_->base(); }

private:
    mutable std::mutex mutex_;
    std::map<std::string, Route> routes_;
    std::unique_ptr<KVFakeHTTPServer> server_;
};

// Scryfall with one set, "TST": cards "Card 1"… "Card 40", Arena ids 1001… 1040; other sets
// have no cards. Searches for TST wait for `gate`, the others for `otherGate`.
//
// With `art`, TST's cards carry pictures at /art/tst/<n>.jpg, each answer held at `artGate`.
// With `otherSet`, "OTH" exists too: "Other 1"… "Other 40", Arena ids 2001… 2040, whose
// pictures (with `art`) are all missing.
class FakeScryfall {
public:
    FakeScryfall();
    std::string base() const { return server_->base(); }
    // Requests whose path and query hold `part`: "q=e:tst%20" for TST's searches, "/art/tst/"
    // for its pictures.
    size_t requests(const std::string& part) const;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::shared_ptr<Gate> otherGate = std::make_shared<Gate>();
    std::shared_ptr<Gate> artGate = std::make_shared<Gate>();
    std::atomic<bool> art{false};
    std::atomic<bool> otherSet{false};

private:
    std::unique_ptr<KVFakeHTTPServer> server_;
};

// Log entries as Arena writes them.
namespace ArenaLog {
std::string botPack(int pick, const std::vector<int>& ids, const std::vector<int>& picked);
std::string botComplete(const std::vector<int>& picked);
} // namespace ArenaLog

// One controller with headless windows, fake desktop services, the two fake servers and a
// Player.log in a temporary directory.
class AppHarness {
public:
    AppHarness();
    ~AppHarness();

    FakeService service;
    FakeScryfall scryfall;
    std::unique_ptr<KVScopedEnvironment> env;
    KVScopedFakePlatform platform;
    KVTempDir dir;
    std::string logPath;
    std::shared_ptr<KVHeadlessViews> views = std::make_shared<KVHeadlessViews>();
    std::shared_ptr<KVApp> app;
    int quits = 0;
    KVJson config;       // the settings file the controller finds (log_path set)
    double clock = 1000; // the controller's wall clock, moved by the test

    void storeSignIn(); // as "ann@example.com"
    void appendLog(const std::string& text);
    // Creates the controller and runs its launch.
    void launch(const std::function<void(KVAppServices&)>& adjust = {});
    bool runUntil(const std::function<bool()>& done, double seconds = 10) {
        return KVMain().runUntil(done, seconds);
    }
    // Drives the main queue for a while: for "nothing more happens".
    void settle(double seconds = 0.4) {
        KVMain().runUntil([] { return false; }, seconds);
    }
};
