#include "service/api.hpp"
#include "support/fake_http_server.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// A socket on a free loopback port: listening, it takes connections into its backlog and
// never answers; closed, nothing is listening there.
class LoopbackSocket {
public:
    explicit LoopbackSocket(bool listening) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length), 0);
        EXPECT_EQ(listening ? ::listen(fd_, 8) : ::close(std::exchange(fd_, -1)), 0);
        base_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
    ~LoopbackSocket() { ::close(fd_); }
    const std::string& base() const { return base_; }

private:
    int fd_;
    std::string base_;
};

void answer(KVFakeHTTPServer::Routes& server, const std::string& path, int status,
            const std::string& body, const std::string& type = "application/json") {
    const auto handler = [=](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, type);
    };
    server.Get(path, handler);
    server.Post(path, handler);
}

TEST(APIIntegration, JoinsPathsAndSendsTheProgramsHeaders) {
    KVFakeHTTPServer fake([](KVFakeHTTPServer::Routes& s) {
        answer(s, "/api/me", 200, R"({"email":"a@b.c","credits":3})");
        answer(s, "//api/me", 200, "{}");
    });
    KVAPI api(fake.base() + "/", "");
    KVError error;
    const auto me = api.me(&error);
    ASSERT_TRUE(me.has_value()) << error.message;
    EXPECT_EQ((*me)["credits"], 3);
    auto seen = fake.lastRequest();
    EXPECT_EQ(seen.path, "/api/me");
    EXPECT_EQ(seen.method, "GET");
    EXPECT_FALSE(seen.hasHeader("Authorization")); // not even "Bearer "
    EXPECT_FALSE(seen.hasHeader("Content-Type"));
    EXPECT_EQ(seen.header("Accept"), "application/json");
    EXPECT_EQ(seen.header("User-Agent"),
              "Korvane/0.1.38 (MTG Arena overlay; Linux native; +https://korvane.app)");

    api.setBaseURL(fake.base() + "//"); // only one slash is dropped
    api.setToken("kor_abc");
    ASSERT_TRUE(api.me(&error).has_value());
    seen = fake.lastRequest();
    EXPECT_EQ(seen.path, "//api/me");
    EXPECT_EQ(seen.header("Authorization"), "Bearer kor_abc");
}

TEST(APIIntegration, ATokenWithControlCharactersIsNeverSent) {
    KVFakeHTTPServer fake([](KVFakeHTTPServer::Routes& s) {
        answer(s, "/api/me", 200, "{}");
        answer(s, "/api/auth/login", 200, R"({"token":"kor_x\r\nX-Injected: 1","user":{}})");
    });
    const std::vector<std::string> hostile = {"kor_a\r\nX-Injected: 1", "kor_a\nb",
                                              std::string("kor_a\0b", 7), "kor_a\tb", "kor_a\x7f"};
    for (const auto& token : hostile) {
        SCOPED_TRACE(token);
        KVAPI api(fake.base(), "kor_ok");
        EXPECT_FALSE(api.setToken(token));
        EXPECT_EQ(api.token(), "kor_ok");                 // refused, not half-taken
        EXPECT_EQ(KVAPI(fake.base(), token).token(), ""); // as read from an old sign-in file
    }
    KVAPI api(fake.base(), "kor_ok");
    EXPECT_TRUE(api.setToken("")); // signing out is always allowed

    // A token the service sends is taken only when it could go into a header.
    KVError error;
    const auto answer = api.login("a@b.c", "pw", &error);
    ASSERT_TRUE(answer.has_value()) << error.message;
    EXPECT_FALSE(answer->contains("token")); // so nobody saves it as the sign-in either
    EXPECT_EQ(api.token(), "");
    ASSERT_TRUE(api.me(&error).has_value());
    EXPECT_FALSE(fake.lastRequest().hasHeader("X-Injected"));
    EXPECT_FALSE(fake.lastRequest().hasHeader("Authorization"));
}

TEST(APIIntegration, TheTokenMayChangeWhileRequestsAreBuiltElsewhere) {
    KVFakeHTTPServer fake([](KVFakeHTTPServer::Routes& s) { answer(s, "/api/me", 200, "{}"); });
    KVAPI api(fake.base(), "kor_a");
    std::atomic<bool> stop{false};
    std::thread signer([&] {
        for (int i = 0; !stop; ++i) {
            api.setToken(i % 2 ? "kor_a" : "kor_bb");
        }
    });
    for (int i = 0; i < 20; ++i) {
        const auto header = api.request("/api/me", "GET", nullptr, 5).header("Authorization");
        EXPECT_TRUE(header == "Bearer kor_a" || header == "Bearer kor_bb") << *header;
    }
    ASSERT_TRUE(api.me(nullptr).has_value());
    stop = true;
    signer.join();
}

TEST(APIIntegration, SuccessWithoutAnObjectIsAnEmptyAnswer) {
    KVFakeHTTPServer fake([](KVFakeHTTPServer::Routes& s) {
        answer(s, "/api/me", 200, "[1,2]");
        answer(s, "/api/draft/deck", 201, "", "text/plain");
        answer(s, "/api/app/version", 200, "not json", "text/plain");
    });
    KVAPI api(fake.base(), "kor_t");
    for (auto answer :
         {api.me(nullptr), api.buildDeck({}, "", "", "", nullptr), api.latestVersion(nullptr)}) {
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(*answer, KVJson::object());
    }
}

TEST(APIIntegration, RefusalsCarryTheStatusAndTheServicesWords) {
    KVFakeHTTPServer fake([](KVFakeHTTPServer::Routes& s) {
        answer(s, "/api/auth/login", 401, R"({"error":"invalid_credentials"})");
        answer(s, "/api/auth/register", 409, R"({"message":"That e-mail is taken","error":"x"})");
        answer(s, "/api/me", 500, "<html><body>Bad gateway</body></html>", "text/html");
        answer(s, "/api/draft/analyze", 400, R"({"message":42})");
        answer(s, "/api/draft/deck", 402, R"({"message":""})");
    });
    KVAPI api(fake.base(), "");
    const auto expectError = [](const std::optional<KVJson>& result, const KVError& error,
                                long code, const std::string& message) {
        EXPECT_FALSE(result.has_value());
        EXPECT_EQ(error.domain, "KorvaneAPI");
        EXPECT_EQ(error.code, code);
        EXPECT_EQ(error.message, message);
    };
    KVError error;
    expectError(api.login("a@b.c", "pw", &error), error, 401, "invalid_credentials");
    expectError(api.registerEmail("a@b.c", "pw", &error), error, 409, "That e-mail is taken");
    expectError(api.me(&error), error, 500, "HTTP 500");
    expectError(api.analyzeDraft("", {}, {}, 1, 1, "", "", KVJson(), 1, &error), error, 400,
                "HTTP 400");
    expectError(api.buildDeck({}, "", "", "", &error), error, 402, "request failed");
    EXPECT_EQ(api.token(), ""); // a refused sign-in leaves the client signed out
}

TEST(APIIntegration, SendsBodiesExactlyAsTheServiceExpectsThem) {
    KVFakeHTTPServer fake([](KVFakeHTTPServer::Routes& s) {
        answer(s, "/api/auth/login", 200, R"({"token":"kor_new","user":{"email":"a@b.c"}})");
        answer(s, "/api/draft/analyze", 200, R"({"picks":[]})");
        answer(s, "/api/draft/deck", 200, "{}");
        answer(s, "/api/app/version", 200, R"({"version":"0.2.0"})");
    });
    KVAPI api(fake.base(), "");
    const auto body = [&fake] { return KVJson::parse(fake.lastRequest().body); };

    ASSERT_TRUE(api.login(" a@b.c", "pässword", nullptr).has_value());
    EXPECT_EQ(body(), KVJson::parse(R"({"email":" a@b.c","password":"pässword",
        "device":"Korvane Linux"})"));
    EXPECT_EQ(fake.lastRequest().header("Content-Type"), "application/json");
    EXPECT_EQ(fake.lastRequest().body.find('\n'), std::string::npos); // compact
    EXPECT_EQ(api.token(), "kor_new");

    const KVJson seen = KVJson::parse(R"([{"pack":1,"pick":1,"names":["Opt"]}])");
    ASSERT_TRUE(api.analyzeDraft("d-1", {"Opt", "Shock"}, {"Giant Growth"}, 2, 3, "", "SOS", seen,
                                 0, nullptr)
                    .has_value());
    EXPECT_EQ(fake.lastRequest().header("Authorization"), "Bearer kor_new");
    EXPECT_EQ(body(), KVJson::parse(R"({"draftId":"d-1","packNumber":2,"pickNumber":3,
        "format":"PremierDraft","setCode":"SOS","pack":["Opt","Shock"],"pool":["Giant Growth"],
        "seen":[{"pack":1,"pick":1,"names":["Opt"]}],"picks":1})"));
    ASSERT_TRUE(api.analyzeDraft("", {}, {}, 1, 1, "PickTwoDraft", "", KVJson(), 2, nullptr));
    EXPECT_EQ(body()["picks"], 2);
    EXPECT_EQ(body()["seen"], KVJson::array());
    EXPECT_EQ(body()["format"], "PickTwoDraft");

    ASSERT_TRUE(api.buildDeck({"Opt", "Opt"}, "", "", "ev-1", nullptr).has_value());
    EXPECT_EQ(body(), KVJson::parse(R"({"pool":["Opt","Opt"],"format":"Sealed","setCode":"",
        "eventId":"ev-1"})"));

    ASSERT_TRUE(api.latestVersion(nullptr).has_value());
    EXPECT_EQ(fake.lastRequest().path,
              "/api/app/version?platform=linux&arch=" + std::string(KVAPI::arch()));
}

TEST(APIIntegration, TelemetryTellsWhichFailuresAreWorthRetrying) {
    std::atomic<int> status{204};
    KVFakeHTTPServer fake([&status](KVFakeHTTPServer::Routes& s) {
        s.Post("/api/telemetry",
               [&status](const httplib::Request&, httplib::Response& res) { res.status = status; });
    });
    KVAPI api(fake.base(), "kor_t");
    const KVJson events = KVJson::parse(R"([{"type":"pick"}])");
    bool retryable = false;
    EXPECT_TRUE(api.sendTelemetry(events, "s-1", &retryable));
    EXPECT_EQ(
        KVJson::parse(fake.lastRequest().body),
        KVJson::parse(R"({"sessionId":"s-1","appVersion":"0.1.38","events":[{"type":"pick"}]})"));
    const std::vector<std::pair<int, bool>> retryWhen = {
        {401, true},  {408, true},  {429, true},  {500, true},  {503, true},
        {400, false}, {402, false}, {403, false}, {404, false}, {413, false}};
    for (const auto& [code, retry] : retryWhen) {
        status = code;
        retryable = !retry;
        EXPECT_FALSE(api.sendTelemetry(events, "s-1", &retryable)) << code;
        EXPECT_EQ(retryable, retry) << code;
    }
    KVAPI unreachable(LoopbackSocket(false).base(), "");
    retryable = false;
    EXPECT_FALSE(unreachable.sendTelemetry(events, "s-1", &retryable));
    EXPECT_TRUE(retryable);
}

TEST(APIIntegration, ATimeOutIsAFailureNotAnEmptyAnswer) {
    LoopbackSocket silent(true);
    KVAPI api(silent.base(), "kor_t");
    KVError error;
    const auto started = Clock::now();
    const auto answer = api.call("/api/me", "GET", nullptr, 1, &error);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(answer.has_value());
    EXPECT_EQ(error.domain, "KorvaneAPI");
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(error.message.rfind("Could not reach 127.0.0.1 (", 0), 0u) << error.message;

    EXPECT_FALSE(KVAPI::get(silent.base() + "/card.jpg", 1, &error).has_value());
    EXPECT_EQ(error.domain, "KorvaneNet");
    EXPECT_EQ(error.code, 28); // CURLE_OPERATION_TIMEDOUT, passed through unwrapped
}

TEST(APIIntegration, TheServiceClientFollowsNoRedirect) {
    KVFakeHTTPServer elsewhere(
        [](KVFakeHTTPServer::Routes& s) { answer(s, "/steal", 200, R"({"token":"kor_theirs"})"); });
    const std::string target = elsewhere.base() + "/steal";
    KVFakeHTTPServer fake([&target](KVFakeHTTPServer::Routes& s) {
        for (const char* path : {"/api/auth/login", "/api/telemetry"}) {
            s.Post(path, [&target](const httplib::Request&, httplib::Response& res) {
                res.set_redirect(target, 307); // a 307 repeats the POST, body and all
            });
        }
        s.Get("/api/me", [&target](const httplib::Request&, httplib::Response& res) {
            res.set_redirect(target, 302);
        });
    });
    KVAPI api(fake.base(), "");
    KVError error;
    EXPECT_FALSE(api.login("a@b.c", "secret", &error).has_value());
    EXPECT_EQ(error.domain, "KorvaneAPI");
    EXPECT_EQ(error.code, 307);
    EXPECT_EQ(error.message, "HTTP 307");
    EXPECT_EQ(api.token(), "");

    api.setToken("kor_mine");
    EXPECT_FALSE(api.me(&error).has_value());
    EXPECT_EQ(error.code, 302);
    bool retryable = true;
    EXPECT_FALSE(api.sendTelemetry(KVJson::array(), "s-1", &retryable)); // not delivered
    EXPECT_FALSE(retryable);                   // the same place would send it away again
    EXPECT_TRUE(elsewhere.requests().empty()); // neither the password nor the token went there
}

TEST(APIIntegration, PlainGetReturnsRawBytesAndNamesTheFailedAddress) {
    const std::string jpeg("\xff\xd8\xff\xe0\0\x10JFIF", 10);
    KVFakeHTTPServer fake([&jpeg](KVFakeHTTPServer::Routes& s) {
        answer(s, "/art.jpg", 200, jpeg, "image/jpeg");
        answer(s, "/missing", 404, R"({"object":"error"})");
        s.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/art.jpg");
        });
        s.Get("/secure", [](const httplib::Request& req, httplib::Response& res) {
            res.set_redirect("https://" + req.get_header_value("Host") + "/art.jpg");
        });
        s.Get("/elsewhere", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("file:///etc/passwd");
        });
    });
    KVAPI api(fake.base(), "kor_secret");
    KVError error;
    EXPECT_EQ(KVAPI::get(fake.base() + "/art.jpg", 10, &error), jpeg);
    EXPECT_FALSE(fake.lastRequest().hasHeader("Authorization"));

    EXPECT_FALSE(KVAPI::get(fake.base() + "/missing", 10, &error).has_value());
    EXPECT_EQ(error.domain, "KorvaneAPI");
    EXPECT_EQ(error.code, 404);
    EXPECT_EQ(error.message, "HTTP 404 for " + fake.base() + "/missing");

    // Redirects are followed to https only. This server speaks plain HTTP, so one that was
    // followed to https fails in the TLS handshake, and one that was refused fails at once.
    struct Redirect {
        std::string path;
        long code;
    };
    const std::vector<Redirect> redirects = {
        {"/secure", 35},   // CURLE_SSL_CONNECT_ERROR: followed
        {"/moved", 1},     // CURLE_UNSUPPORTED_PROTOCOL: http is not followed
        {"/elsewhere", 1}, // nor is file:
    };
    for (const auto& r : redirects) {
        SCOPED_TRACE(r.path);
        EXPECT_FALSE(KVAPI::get(fake.base() + r.path, 10, &error).has_value());
        EXPECT_EQ(error.domain, "KorvaneNet");
        EXPECT_EQ(error.code, r.code) << error.message;
    }

    KVAPI::get(LoopbackSocket(false).base() + "/x", 10, &error);
    EXPECT_EQ(error.domain, "KorvaneNet");
    EXPECT_EQ(error.code, 7); // CURLE_COULDNT_CONNECT
}

TEST(APIIntegration, CapsAnswersAndAcceptsCompressedOnes) {
    const std::string big(300000, 'a');
    KVFakeHTTPServer fake([&big](KVFakeHTTPServer::Routes& s) {
        answer(s, "/big", 200, big, "text/plain");
        s.Get("/streamed", [&big](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [&big](size_t, httplib::DataSink& sink) {
                sink.write(big.data(), big.size());
                sink.done();
                return true;
            });
        });
    });
    KVHTTPRequest request;
    request.url = fake.base() + "/big";
    long status = 0;
    KVError error;
    EXPECT_EQ(KVHTTPPerform(request, &status, &error), big);
    EXPECT_EQ(status, 200);
    EXPECT_NE(fake.lastRequest().header("Accept-Encoding").find("gzip"), std::string::npos);

    for (const char* path : {"/big", "/streamed"}) { // length announced, or not
        request.url = fake.base() + path;
        EXPECT_FALSE(KVHTTPPerform(request, &status, &error, 100000).has_value()) << path;
        EXPECT_EQ(error.domain, "KorvaneNet");
        EXPECT_NE(error.message.find("larger than"), std::string::npos) << error.message;
    }
}

} // namespace
