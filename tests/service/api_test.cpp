#include "service/api.hpp"
#include "support/fake_http_server.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

void answer(KVFakeHTTPServer::Routes& server, const std::string& path, int status,
            const std::string& body, const std::string& type = "application/json") {
    const auto handler = [=](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, type);
    };
    server.Get(path, handler);
    server.Post(path, handler);
}

TEST(APIIntegration, SendsTheProgramsHeadersAndATokenOnlyWhenItFitsInOne) {
    KVFakeHTTPServer fake([](KVFakeHTTPServer::Routes& s) {
        answer(s, "/api/me", 200, R"({"email":"a@b.c","credits":3})");
        answer(s, "/api/auth/login", 200, R"({"token":"kor_x\r\nX-Injected: 1","user":{}})");
    });
    KVAPI api(fake.base() + "/", "");
    KVError error;
    const auto me = api.me(&error);
    ASSERT_TRUE(me.has_value()) << error.message;
    EXPECT_EQ((*me)["credits"], 3);
    const auto seen = fake.lastRequest();
    EXPECT_EQ(seen.path, "/api/me"); // the base's slash is not doubled
    EXPECT_EQ(seen.method, "GET");
    EXPECT_FALSE(seen.hasHeader("Authorization")); // not even "Bearer "
    EXPECT_FALSE(seen.hasHeader("Content-Type"));
    EXPECT_EQ(seen.header("Accept"), "application/json");
    EXPECT_EQ(seen.header("User-Agent"),
              "Korvane/0.1.38 (MTG Arena overlay; Linux native; +https://korvane.app)");

    const std::vector<std::string> hostile = {"kor_a\r\nX-Injected: 1", "kor_a\nb",
                                              std::string("kor_a\0b", 7), "kor_a\tb", "kor_a\x7f"};
    for (const auto& token : hostile) {
        SCOPED_TRACE(token);
        KVAPI other(fake.base(), "kor_ok");
        EXPECT_FALSE(other.setToken(token));
        EXPECT_EQ(other.token(), "kor_ok");               // refused, not half-taken
        EXPECT_EQ(KVAPI(fake.base(), token).token(), ""); // as read from an old sign-in file
    }
    // A token the service sends is taken only when it could go into a header.
    const auto answer = api.login("a@b.c", "pw", &error);
    ASSERT_TRUE(answer.has_value()) << error.message;
    EXPECT_FALSE(answer->contains("token")); // so nobody saves it as the sign-in either
    EXPECT_EQ(api.token(), "");

    // The token may change while requests are built on another thread.
    ASSERT_TRUE(api.setToken("kor_a"));
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
    stop = true;
    signer.join();
    EXPECT_TRUE(api.setToken("")); // signing out is always allowed
}

TEST(APIIntegration, ReadsEveryAnswerAlike) {
    struct Case {
        int status;
        std::string body;
        std::optional<std::string> refusal;
    };
    const Case cases[] = {
        {200, "[1,2]", {}},
        {201, "", {}},
        {200, "not json", {}},
        {401, R"({"error":"invalid_credentials"})", "invalid_credentials"},
        {409, R"({"message":"That e-mail is taken","error":"x"})", "That e-mail is taken"},
        {500, "<html><body>Bad gateway</body></html>", "HTTP 500"},
        {400, R"({"message":42})", "HTTP 400"},
        {402, R"({"message":""})", "request failed"},
    };
    std::atomic<const Case*> now{nullptr};
    KVFakeHTTPServer fake([&now](KVFakeHTTPServer::Routes& s) {
        const auto handler = [&now](const httplib::Request&, httplib::Response& res) {
            res.status = (*now).status;
            res.set_content((*now).body, "application/json");
        };
        s.Get(".*", handler);
        s.Post(".*", handler);
    });
    KVAPI api(fake.base(), "");
    KVError error;
    const std::function<std::optional<KVJson>()> calls[] = {
        [&] { return api.login("a@b.c", "pw", &error); },
        [&] { return api.me(&error); },
        [&] { return api.analyzeDraft("", {}, {}, 1, 1, "", "", KVJson(), 1, &error); },
        [&] { return api.buildDeck({}, "", "", "", &error); },
        [&] { return api.latestVersion(&error); },
    };
    for (const Case& c : cases) {
        now = &c;
        for (const auto& call : calls) {
            SCOPED_TRACE(c.body);
            EXPECT_EQ(call(), c.refusal ? std::nullopt : std::optional(KVJson::object()));
            if (c.refusal) {
                EXPECT_EQ(error.domain, "KorvaneAPI");
                EXPECT_EQ(error.code, c.status);
                EXPECT_EQ(error.message, *c.refusal);
            }
        }
    }
}

TEST(APIIntegration, SendsBodiesExactlyAsTheServiceExpectsThem) {
    std::atomic<int> telemetryStatus{204};
    KVFakeHTTPServer fake([&telemetryStatus](KVFakeHTTPServer::Routes& s) {
        answer(s, "/api/auth/login", 200, R"({"token":"kor_new","user":{"email":"a@b.c"}})");
        answer(s, "/api/draft/analyze", 200, R"({"picks":[]})");
        answer(s, "/api/draft/deck", 200, "{}");
        answer(s, "/api/app/version", 200, R"({"version":"0.2.0"})");
        s.Post("/api/telemetry",
               [&telemetryStatus](const httplib::Request&, httplib::Response& res) {
                   res.status = telemetryStatus;
               });
    });
    KVAPI api(fake.base(), "");
    const auto body = [&fake] { return KVJson::parse(fake.lastRequest().body); };

    ASSERT_TRUE(api.login(" a@b.c", "pässword", nullptr).has_value());
    EXPECT_EQ(body(), KVJson::parse(R"({"email":" a@b.c","password":"pässword",
        "device":"Korvane Linux"})"));
    EXPECT_EQ(fake.lastRequest().header("Content-Type"), "application/json");
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

    // Telemetry, and which of its failures are worth retrying.
    const KVJson events = KVJson::parse(R"([{"type":"pick"}])");
    bool retryable = false;
    EXPECT_TRUE(api.sendTelemetry(events, "s-1", &retryable));
    EXPECT_EQ(body(), KVJson::parse(R"({"sessionId":"s-1","appVersion":"0.1.38",
        "events":[{"type":"pick"}]})"));
    const std::vector<std::pair<int, bool>> retryWhen = {
        {401, true},  {408, true},  {429, true},  {500, true},  {503, true},
        {400, false}, {402, false}, {403, false}, {404, false}, {413, false}};
    for (const auto& [code, retry] : retryWhen) {
        telemetryStatus = code;
        retryable = !retry;
        EXPECT_FALSE(api.sendTelemetry(events, "s-1", &retryable)) << code;
        EXPECT_EQ(retryable, retry) << code;
    }
}

TEST(APIIntegration, ATimeOutOrNoServiceIsAFailureNotAnEmptyAnswer) {
    // Takes each request and answers only after the client has given up.
    KVFakeHTTPServer silent([](KVFakeHTTPServer::Routes& s) {
        s.Get(".*", [](const httplib::Request&, httplib::Response&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        });
    });
    KVAPI api(silent.base(), "kor_t");
    KVError error;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(api.call("/api/me", "GET", nullptr, 1, &error).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(error.domain, "KorvaneAPI");
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(error.message.rfind("Could not reach 127.0.0.1 (", 0), 0u) << error.message;

    EXPECT_FALSE(KVAPI::get(silent.base() + "/card.jpg", 1, &error).has_value());
    EXPECT_EQ(error.domain, "KorvaneNet");
    EXPECT_EQ(error.code, 28); // CURLE_OPERATION_TIMEDOUT, passed through unwrapped

    const std::string closed = "http://127.0.0.1:1"; // nothing listens there
    EXPECT_FALSE(KVAPI::get(closed + "/x", 10, &error).has_value());
    EXPECT_EQ(error.domain, "KorvaneNet");
    EXPECT_EQ(error.code, 7); // CURLE_COULDNT_CONNECT
    bool retryable = false;
    EXPECT_FALSE(KVAPI(closed, "").sendTelemetry(KVJson::array(), "s-1", &retryable));
    EXPECT_TRUE(retryable) << "the service may be back later";
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

TEST(APIIntegration, PlainGetReturnsRawBytesCappedAndNamesTheFailedAddress) {
    const std::string jpeg("\xff\xd8\xff\xe0\0\x10JFIF", 10);
    const std::string big(300000, 'a');
    KVFakeHTTPServer fake([&jpeg, &big](KVFakeHTTPServer::Routes& s) {
        answer(s, "/art.jpg", 200, jpeg, "image/jpeg");
        answer(s, "/big", 200, big, "text/plain");
        s.Get("/streamed", [&big](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [&big](size_t, httplib::DataSink& sink) {
                sink.write(big.data(), big.size());
                sink.done();
                return true;
            });
        });
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
    const std::pair<std::string, long> redirects[] = {
        {"/secure", 35},   // CURLE_SSL_CONNECT_ERROR: followed
        {"/moved", 1},     // CURLE_UNSUPPORTED_PROTOCOL: http is not followed
        {"/elsewhere", 1}, // nor is file:
    };
    for (const auto& [path, code] : redirects) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(KVAPI::get(fake.base() + path, 10, &error).has_value());
        EXPECT_EQ(error.domain, "KorvaneNet");
        EXPECT_EQ(error.code, code) << error.message;
    }

    // Answers are taken compressed, and refused past the cap.
    KVHTTPRequest request;
    request.url = fake.base() + "/big";
    long status = 0;
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
