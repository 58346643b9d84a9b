#pragma once

#include "base/json.hpp"
#include "server/options.hpp"
#include "server/password_hasher.hpp"
#include "server/rate_limiter.hpp"
#include "server/store.hpp"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class KVSAuthProvider;
class KVSCardIndex;
class KVSScryfallFetcher;

// The Korvane service over HTTP: the JSON API, the browser pages, downloads and the demo set.
// One object over several files, one per group of routes. Handlers keep nothing but caches;
// every lasting fact goes through the store.
class KVSService {
public:
    static constexpr size_t kMaxBodyBytes = 1 << 20;
    static constexpr int kLoginFailuresPerMinute = 10;
    static constexpr int kTelemetryBatchesPerMinute = 120;
    static constexpr size_t kMaxTelemetryEvents = 200;
    static constexpr int64_t kNonceSeconds = 600;

    KVSService(KVSOptions options, std::shared_ptr<KVSStore> store,
               std::shared_ptr<KVSCardIndex> cards);
    ~KVSService();
    KVSService(const KVSService&) = delete;
    KVSService& operator=(const KVSService&) = delete;

    // Binds the listening socket; the port is the one given or, for 0, the one chosen.
    bool bind(KVError* error);
    int port() const { return port_; }
    // Serves until stop(); call bind() first.
    void run();
    void stop();

private:
    using Request = httplib::Request;
    using Response = httplib::Response;

    void addAuthRoutes();
    void addDraftRoutes();
    void addPageRoutes();
    void addDesktopSignIn();
    void addReleaseRoutes();
    void addDemoRoutes();
    // The address clients reach this service at, for links in answers: --public-url, else the
    // listen address.
    std::string publicBase() const;

    // JSON answers; errors carry their text in "message" (or "error" where the client reads
    // a code word).
    static void sendJSON(Response& response, int status, const KVJson& body);
    static void sendMessage(Response& response, int status, const std::string& message);
    // `formTarget`: an address outside the service a form on the page may end up at.
    static void sendHTML(Response& response, int status, const std::string& html,
                         const std::string& formTarget = "");
    // The body as a JSON object, or nothing after answering 400.
    static std::optional<KVJson> readBody(const Request& request, Response& response);
    // The signed-in account, or nothing after answering 401.
    std::optional<KVSAccount> authorize(const Request& request, Response& response);
    // Both for a signed-in call with a JSON body: nothing after answering 401 or 400.
    struct SignedInCall {
        KVSAccount account;
        KVJson body;
    };
    std::optional<SignedInCall> signedInCall(const Request& request, Response& response);

    std::optional<KVSAccount> signIn(const std::string& email, const std::string& password,
                                     Response& response);
    KVJson tokenAnswer(const KVSAccount& account, const std::string& device);
    // Makes sure the set's cards are known: from the store, else fetched from Scryfall once
    // (unless offline; a failed fetch is not retried for ten minutes). Cards still unknown
    // afterwards are graded "?".
    void ensureCards(const std::string& setCode);
    bool googleAllowed() const { return options_.onLoopback() || options_.devProvider; }

    const KVSOptions options_;
    const std::shared_ptr<KVSStore> store_;
    const std::shared_ptr<KVSCardIndex> cards_;
    std::unique_ptr<KVSScryfallFetcher> scryfall_; // null with --offline
    std::mutex fetching_;                          // one set download at a time
    std::map<std::string, std::chrono::steady_clock::time_point> failedSets_;
    std::unique_ptr<httplib::Server> server_;
    std::unique_ptr<KVSAuthProvider> google_;
    KVSPasswordHasher passwords_;
    KVSRateLimiter loginFailures_{kLoginFailuresPerMinute};
    KVSRateLimiter telemetryBatches_{kTelemetryBatchesPerMinute};
    std::atomic<int64_t> lastTelemetryPrune_{0};
    std::mutex demoArtMutex_;
    std::map<int, std::string> demoArt_; // JPEGs drawn so far
    int port_ = 0;
    int listening_ = -1; // the listening socket, once bound
};
