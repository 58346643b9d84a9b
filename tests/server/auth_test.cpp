// Accounts through the program's own client, against the service as a real process.
#include "base/files.hpp"
#include "service/api.hpp"
#include "service_process.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <regex>

namespace {

struct Failure {
    long code;
    std::string message;
};

Failure failureOf(const std::function<std::optional<KVJson>(KVError*)>& call) {
    KVError error;
    const auto answer = call(&error);
    EXPECT_FALSE(answer) << (answer ? KVJsonDump(*answer) : "");
    return {error.code, error.message};
}

TEST(ServerAuthIntegration, RegistersSignsInAndKnowsTheAccount) {
    KVTempDir dir;
    KVSServiceProcess service(dir.file("korvane.db"), {"--free-credits", "4"});
    ASSERT_TRUE(service.running());
    KVAPI api(service.base(), "");

    KVError error;
    const auto registered = api.registerEmail("  New@Example.com", "correct horse", &error);
    ASSERT_TRUE(registered) << error.message;
    const std::string token = KVJsonString(KVJsonAt(*registered, "token"), "");
    EXPECT_TRUE(std::regex_match(token, std::regex("kor_[0-9a-f]{64}"))) << token;
    EXPECT_EQ(api.token(), token);
    EXPECT_EQ(KVJsonAt(KVJsonAt(*registered, "user"), "email"), "new@example.com");
    EXPECT_EQ(KVJsonAt(KVJsonAt(*registered, "user"), "credits"), 4);

    const auto me = api.me(&error);
    ASSERT_TRUE(me) << error.message;
    EXPECT_EQ(KVJsonAt(*me, "email"), "new@example.com");
    EXPECT_EQ(KVJsonAt(*me, "credits"), 4);

    KVAPI other(service.base(), "");
    const auto login = other.login("new@example.com", "correct horse", &error);
    ASSERT_TRUE(login) << error.message;
    EXPECT_NE(other.token(), token) << "every sign-in gets its own token";
    EXPECT_TRUE(other.me(nullptr));
}

TEST(ServerAuthIntegration, RefusesWithTheStatusAndWordsTheProgramExpects) {
    KVTempDir dir;
    KVSServiceProcess service(dir.file("korvane.db"));
    ASSERT_TRUE(service.running());
    KVAPI api(service.base(), "");
    ASSERT_TRUE(api.registerEmail("taken@example.com", "password1", nullptr));

    struct Case {
        std::function<std::optional<KVJson>(KVError*)> call;
        long code;
        std::string message;
    };
    KVAPI fresh(service.base(), "");
    KVAPI forged(service.base(), "kor_" + std::string(64, '0'));
    const Case cases[] = {
        {[&](KVError* e) { return fresh.registerEmail("taken@example.com", "password2", e); }, 409,
         "An account with that email already exists."},
        {[&](KVError* e) { return fresh.login("taken@example.com", "password2", e); }, 401,
         "invalid_credentials"},
        {[&](KVError* e) { return fresh.login("nobody@example.com", "password1", e); }, 401,
         "invalid_credentials"},
        {[&](KVError* e) { return fresh.registerEmail("no-at-sign", "password1", e); }, 400,
         "Enter a valid email address."},
        {[&](KVError* e) { return fresh.registerEmail("short@example.com", "1234567", e); }, 400,
         "Password must be at least 8 characters."},
        {[&](KVError* e) { return forged.me(e); }, 401, "invalid_token"},
        {[&](KVError* e) { return fresh.me(e); }, 401, "invalid_token"},
    };
    for (const Case& c : cases) {
        const Failure failure = failureOf(c.call);
        EXPECT_EQ(failure.code, c.code) << c.message;
        EXPECT_EQ(failure.message, c.message);
    }
    // Eight characters counted as the program counts them: "é" is one, not two bytes.
    EXPECT_TRUE(fresh.registerEmail("accent@example.com", "pässwör1", nullptr));
}

TEST(ServerAuthIntegration, SlowsGuessingAfterTenFailuresAMinute) {
    KVTempDir dir;
    KVSServiceProcess service(dir.file("korvane.db"));
    ASSERT_TRUE(service.running());
    KVAPI api(service.base(), "");
    ASSERT_TRUE(api.registerEmail("target@example.com", "the right one", nullptr));
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(failureOf([&](KVError* e) {
                      return api.login("target@example.com", "guess" + std::to_string(i), e);
                  }).code,
                  401);
    }
    const Failure blocked =
        failureOf([&](KVError* e) { return api.login("target@example.com", "the right one", e); });
    EXPECT_EQ(blocked.code, 429);
    // Another account is not held up by the first one's attacker.
    ASSERT_TRUE(api.registerEmail("bystander@example.com", "password1", nullptr));
    EXPECT_TRUE(api.login("bystander@example.com", "password1", nullptr));
}

TEST(ServerAuthIntegration, KeepsAccountsAndTokensOverARestartButNeverTheTokenItself) {
    KVTempDir dir;
    const std::string database = dir.file("korvane.db");
    std::string token;
    {
        KVSServiceProcess service(database);
        ASSERT_TRUE(service.running());
        KVAPI api(service.base(), "");
        ASSERT_TRUE(api.registerEmail("kept@example.com", "password1", nullptr));
        token = api.token();
        EXPECT_EQ(service.stop(), 0) << "SIGTERM ends the service cleanly";
    }
    KVSServiceProcess again(database);
    ASSERT_TRUE(again.running());
    KVAPI api(again.base(), token);
    EXPECT_TRUE(api.me(nullptr));
    EXPECT_TRUE(KVAPI(again.base(), "").login("kept@example.com", "password1", nullptr));
    again.stop();

    // What is kept on disk would sign no one in.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    int found = -1;
    const std::string query =
        "SELECT count(*) FROM tokens WHERE token_hash LIKE '%" + token.substr(4, 16) + "%'";
    sqlite3_exec(
        db, query.c_str(),
        [](void* out, int, char** values, char**) {
            *static_cast<int*>(out) = std::atoi(values[0]);
            return 0;
        },
        &found, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(found, 0);
}

TEST(ServerAuthIntegration, OperatorGrantsCreditsAndSetsPasswords) {
    KVTempDir dir;
    const std::string database = dir.file("korvane.db");
    {
        KVSServiceProcess service(database, {"--free-credits", "1"});
        ASSERT_TRUE(service.running());
        ASSERT_TRUE(
            KVAPI(service.base(), "").registerEmail("op@example.com", "password1", nullptr));
    }
    auto granted = KVSRunServiceProgram({"--db", database, "--grant", "OP@example.com", "5"});
    EXPECT_EQ(granted.status, 0) << granted.output;
    EXPECT_NE(granted.output.find("6 draft credits"), std::string::npos) << granted.output;
    auto set = KVSRunServiceProgram(
        {"--db", database, "--test-fast-hash", "--set-password", "op@example.com"},
        "brand new password\n");
    EXPECT_EQ(set.status, 0) << set.output;
    auto unknown = KVSRunServiceProgram({"--db", database, "--grant", "ghost@example.com", "1"});
    EXPECT_EQ(unknown.status, 1);

    KVSServiceProcess service(database);
    KVAPI api(service.base(), "");
    EXPECT_FALSE(api.login("op@example.com", "password1", nullptr));
    const auto user = api.login("op@example.com", "brand new password", nullptr);
    ASSERT_TRUE(user);
    EXPECT_EQ(KVJsonAt(KVJsonAt(*user, "user"), "credits"), 6);
}

TEST(ServerAuthIntegration, AnUnusableDatabaseStopsTheServiceWithAReason) {
    KVTempDir dir;
    KVWriteTestFile(dir.file("garbage.db"), std::string(2048, 'g'));
    KVWriteTestFile(dir.file("plain"), "x");
    const std::string cases[] = {dir.file("garbage.db"), dir.file("plain") + "/korvane.db"};
    for (const std::string& database : cases) {
        const auto result = KVSRunServiceProgram({"--db", database, "--listen", "127.0.0.1:0"});
        EXPECT_EQ(result.status, 1) << database;
        EXPECT_NE(result.output.find(database.substr(0, database.rfind('/'))), std::string::npos)
            << result.output;
    }
    EXPECT_EQ(KVReadFile(dir.file("garbage.db")).value_or(""), std::string(2048, 'g'));
}

} // namespace
