#include "base/dispatch/run_loop.hpp"
#include "platform/fake/fake_platform.hpp"
#include "support/fake_http_server.hpp"
#include "support/program_run.hpp"
#include "ui/login.hpp"

#include "offscreen_qt.hpp"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <thread>

namespace {

// The browser: hands each URL to curl, which follows the service's redirect back to the
// loopback receiver as a browser would. Without `follow` it opens nothing, like a user who
// never finishes in the browser.
class CurlBrowser : public KVFakeLauncher {
public:
    bool follow = true;

    ~CurlBrowser() override {
        for (std::thread& run : runs_) {
            run.join();
        }
    }
    bool openUrl(const std::string& url) override {
        if (follow) {
            runs_.emplace_back([url] {
                EXPECT_NE(KVCurlPage({"-L", "-o", "/dev/null", url}).status, 0) << url;
            });
        }
        return KVFakeLauncher::openUrl(url);
    }

private:
    std::vector<std::thread> runs_;
};

// The service: the answers the test sets for some addresses (any other signs in), Google's
// desktop page and the account record. Sign-ins from slow@example.com wait for `release`.
class FakeService {
public:
    bool googleGivesToken = true;
    bool meFails = false;

    KVFakeHTTPServer server{[this](KVFakeHTTPServer::Routes& routes) {
        const auto auth = [this](const httplib::Request& req, httplib::Response& res) {
            const std::string email = KVJsonString(KVJsonAt(KVJson::parse(req.body), "email"), "");
            std::unique_lock lock(mutex_);
            released_.wait(lock, [&] { return release_ || email != "slow@example.com"; });
            const auto answer = answers_.find(email);
            res.status = answer != answers_.end() ? answer->second.first : 200;
            res.set_content(
                answer != answers_.end()
                    ? answer->second.second
                    : KVJson{{"token", "kor_mail"}, {"user", {{"email", email}, {"credits", 3}}}}
                          .dump(),
                "application/json");
        };
        routes.Post("/api/auth/login", auth);
        routes.Post("/api/auth/register", auth);
        routes.Get("/auth/desktop", [this](const httplib::Request& req, httplib::Response& res) {
            std::string back =
                req.get_param_value("redirect_uri") + "?state=" + req.get_param_value("state");
            if (googleGivesToken) {
                back += "&token=kor_google";
            }
            res.set_redirect(back, 302);
        });
        routes.Get("/api/me", [this](const httplib::Request& req, httplib::Response& res) {
            if (meFails || req.get_header_value("Authorization") != "Bearer kor_google") {
                res.status = 500;
                return;
            }
            res.set_content(R"({"email": "g@example.com", "credits": 7})", "application/json");
        });
    }};

    void answer(const std::string& email, int status, const std::string& body) {
        std::lock_guard lock(mutex_);
        answers_[email] = {status, body};
    }
    void release() {
        std::lock_guard lock(mutex_);
        release_ = true;
        released_.notify_all();
    }
    ~FakeService() { release(); }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    std::map<std::string, std::pair<int, std::string>> answers_;
};

class LoginIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        OffscreenQt();
        KVPlatform platform;
        platform.launcher = browser;
        previous = KVPlatform::replace(std::move(platform));
        open(service.server.base());
    }
    void TearDown() override {
        login.reset();
        KVPlatform::restore(previous);
    }

    void open(const std::string& base, double googleWait = 10) {
        login = KVLogin::create(base, googleWait);
        login->onSignedIn = [this](const std::string& token, const KVJson& user) {
            signedIn.emplace_back(token, user);
        };
        login->onCancelled = [this] { ++cancels; };
        login->show();
    }

    void submit(const std::string& email, const QString& password) {
        login->email()->clear();
        QTest::keyClicks(login->email(), QString::fromStdString(email));
        login->password()->setText(password);
        QTest::keyClick(login->password(), Qt::Key_Return);
    }

    std::string errorText() const { return login->error()->text().toStdString(); }

    bool settle() {
        return KVMain().runUntil([this] { return !login->busy; }, 20);
    }

    FakeService service;
    std::shared_ptr<CurlBrowser> browser = std::make_shared<CurlBrowser>();
    std::shared_ptr<const KVPlatform> previous;
    std::shared_ptr<KVLogin> login;
    std::vector<std::pair<std::string, KVJson>> signedIn;
    int cancels = 0;
};

TEST_F(LoginIntegration, EveryRefusalHasItsOwnWords) {
    const struct {
        const char* email;
        QString password;
        bool registering;
        int status; // what the service answers; 0: refused before any request
        const char* body;
        const char* error;
    } cases[] = {
        {"  nobody.example.com ", "long enough", false, 0, "", "Enter a valid email address."},
        {"a@b", "1234567", false, 0, "", "Password must be at least 8 characters."},
        // Seven UTF-16 units in fourteen bytes.
        {"a@b", QString::fromUtf8("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"),
         false, 0, "", "Password must be at least 8 characters."},
        {"bad@example.com", "password1", false, 401, R"({"error": "invalid_credentials"})",
         "Email or password is incorrect."},
        {"taken@example.com", "password1", true, 409, "",
         "An account with that email already exists. Sign in instead."},
        {"google@example.com", "password1", false, 400,
         R"({"message": "This account does not have a password yet"})",
         "This account signs in with Google. Use Sign in with Google."},
        {"broken@example.com", "password1", false, 500,
         R"({"message": "The database is being moved"})", "The database is being moved"},
        {"empty@example.com", "password1", false, 200, "{}", "Sign-in did not return a token."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.email);
        service.answer(c.email, c.status, c.body);
        if (login->registering != c.registering) {
            login->toggleTapped();
        }
        const size_t requests = service.server.requests().size();
        submit(c.email, c.password);
        if (c.status != 0) {
            EXPECT_EQ(errorText(),
                      c.registering ? "Creating your account\u2026" : "Signing in\u2026");
            EXPECT_FALSE(login->email()->isEnabled());
            ASSERT_TRUE(settle());
            EXPECT_TRUE(login->email()->isEnabled());
            EXPECT_EQ(service.server.lastRequest().path,
                      c.registering ? "/api/auth/register" : "/api/auth/login");
        }
        EXPECT_EQ(service.server.requests().size(), requests + (c.status != 0 ? 1 : 0));
        EXPECT_EQ(errorText(), c.error);
        EXPECT_FALSE(login->busy);
    }
    EXPECT_TRUE(signedIn.empty());

    open("http://127.0.0.1:1"); // nothing listens there
    submit("ana@example.com", "password1");
    ASSERT_TRUE(settle());
    EXPECT_EQ(errorText(), "Could not reach 127.0.0.1. Check your connection and try again.");
}

TEST_F(LoginIntegration, ASignInHandsOverTheTokenAndTheUserAndCloses) {
    // Eight UTF-16 units, two of them a surrogate pair; blanks around the e-mail go.
    submit(" \tana@example.com\t ", QString::fromUtf8("1234567\xF0\x9F\x98\x80").left(8));
    ASSERT_TRUE(KVMain().runUntil([this] { return !signedIn.empty(); }, 20));
    EXPECT_EQ(KVJsonAt(KVJson::parse(service.server.lastRequest().body), "email"),
              "ana@example.com");
    EXPECT_EQ(signedIn[0].first, "kor_mail");
    EXPECT_EQ(KVJsonAt(signedIn[0].second, "credits"), 3);
}

TEST_F(LoginIntegration, ModesBusyStateAndForgottenPasswords) {
    const struct {
        const char* heading;
        const char* submit;
        const char* note;
        const char* toggle;
        bool forgot;
    } modes[] = {{"Create your account", "Create account", "Already a member?", "Sign in", false},
                 {"Sign in to Korvane", "Sign in", "New to Korvane?", "Create an account", true}};
    for (const auto& mode : modes) {
        login->error()->setText("old error");
        QTest::mouseClick(login->toggle(), Qt::LeftButton);
        EXPECT_EQ(login->heading()->text().toStdString(), mode.heading);
        EXPECT_EQ(login->submit()->text().toStdString(), mode.submit);
        EXPECT_EQ(login->toggleNote()->text().toStdString(), mode.note);
        EXPECT_EQ(login->toggle()->text().toStdString(), mode.toggle);
        EXPECT_EQ(login->forgot()->isVisibleTo(login->window()), mode.forgot);
        EXPECT_EQ(errorText(), "");
    }

    login->beginRestore();
    EXPECT_EQ(errorText(), "Checking your session\u2026");
    for (QWidget* control :
         std::initializer_list<QWidget*>{login->submit(), login->google(), login->toggle(),
                                         login->email(), login->password()}) {
        EXPECT_FALSE(control->isEnabled());
    }
    EXPECT_TRUE(login->forgot()->isEnabled());
    QTest::keyClick(login->window(), Qt::Key_Return);
    login->googleTapped();
    EXPECT_TRUE(service.server.requests().empty()) << "nothing starts while busy";
    EXPECT_FALSE(login->googleRunning());
    QTest::mouseClick(login->forgot(), Qt::LeftButton);
    EXPECT_EQ(browser->urls, (std::vector<std::string>{service.server.base() + "/login"}));
    login->endRestore();
    EXPECT_TRUE(login->email()->isEnabled());
    EXPECT_EQ(errorText(), "");
}

TEST_F(LoginIntegration, GoogleSignInThroughTheBrowser) {
    const struct {
        const char* name;
        bool token;
        bool meFails;
        const char* error; // nullptr: signed in
    } cases[] = {
        {"a token and the account", true, false, nullptr},
        {"the account fails to load", true, true,
         "Signed in, but your account could not be loaded. Try again."},
        {"the service sends no token", false, false, "Google sign-in did not finish. Try again."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Without a token the callback is refused and the receiver waits on until its time.
        open(service.server.base(), c.token ? 20 : 1);
        service.googleGivesToken = c.token;
        service.meFails = c.meFails;
        browser->urls.clear();
        QTest::mouseClick(login->google(), Qt::LeftButton);
        EXPECT_EQ(errorText(), "Finish signing in with Google in your browser\u2026");
        ASSERT_TRUE(KVMain().runUntil([this] { return !login->googleRunning(); }, 30));
        ASSERT_EQ(browser->urls.size(), 1u);
        const std::string& url = browser->urls[0];
        const std::string start =
            service.server.base() + "/auth/desktop?redirect_uri=http%3A%2F%2F127%2E0%2E0%2E1%3A";
        EXPECT_EQ(url.rfind(start, 0), 0u) << url;
        EXPECT_NE(url.find("%2Fcallback&provider=google&state="), std::string::npos) << url;
        EXPECT_EQ(url.size() - url.find("&state=") - 7, 32u) << "16 random bytes in hex";
        if (c.error == nullptr) {
            ASSERT_EQ(signedIn.size(), 1u);
            EXPECT_EQ(signedIn[0].first, "kor_google");
            EXPECT_EQ(KVJsonAt(signedIn[0].second, "email"), "g@example.com");
            signedIn.clear();
        } else {
            EXPECT_EQ(errorText(), c.error);
            EXPECT_TRUE(login->google()->isEnabled());
            EXPECT_TRUE(signedIn.empty());
        }
    }
}

// Closed while an answer or the browser is awaited: one cancel, and nothing that comes after
// signs anyone in.
TEST_F(LoginIntegration, ClosingTheWindowCancelsWhatIsUnderway) {
    submit("slow@example.com", "password1");
    ASSERT_TRUE(login->busy);
    login->window()->close();
    EXPECT_EQ(cancels, 1);
    service.release();
    // Nothing may happen, so give the answer time to arrive and be dropped.
    KVMain().runUntil([this] { return !signedIn.empty(); }, 2);
    EXPECT_TRUE(signedIn.empty());
    EXPECT_EQ(cancels, 1);

    // The Google wait (one that runs out is the no-token case above).
    browser->follow = false; // the user never finishes in the browser
    open(service.server.base(), 30);
    login->googleTapped();
    // The receiver's port, from the address the browser was sent to.
    ASSERT_TRUE(KVMain().runUntil([this] { return browser->urls.size() == 1; }, 20));
    const std::string& url = browser->urls[0];
    const int port = std::atoi(url.c_str() + url.find("%3A", url.find("127%2E0%2E0%2E1")) + 3);
    ASSERT_GT(port, 0);
    login->window()->close();
    EXPECT_EQ(cancels, 2);
    ASSERT_TRUE(KVMain().runUntil([this] { return !login->googleRunning(); }, 20));
    EXPECT_EQ(cancels, 2);
    EXPECT_TRUE(signedIn.empty());
    EXPECT_EQ(errorText(), "Finish signing in with Google in your browser\u2026")
        << "a cancelled sign-in shows nothing more";
    EXPECT_EQ(KVCurlPage({"http://127.0.0.1:" + std::to_string(port) + "/"}).status, 0)
        << "the receiver's port is still open";
}

} // namespace
