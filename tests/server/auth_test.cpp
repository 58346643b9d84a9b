// Accounts through the program's own client, against the service as a real process.
#include "base/files.hpp"
#include "service/api.hpp"
#include "service_process.hpp"
#include "support/test_environment.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ServerAuthIntegration, SignsInAndRefusesBadRequestsAndGuessesInTheProgramsWords) {
    KVTempDir dir;
    KVSServiceProcess service(dir.file("korvane.db"), {"--free-credits", "4"});
    ASSERT_TRUE(service.running());
    KVAPI api(service.base(), "");
    KVError error;
    const auto registered = api.registerEmail("  New@Example.com", "correct horse", &error);
    ASSERT_TRUE(registered) << error.message;
    const std::string token = KVJsonString(KVJsonAt(*registered, "token"), "");
    EXPECT_EQ(KVJsonAt(KVJsonAt(*registered, "user"), "email"), "new@example.com");
    const auto me = api.me(&error);
    ASSERT_TRUE(me) << error.message;
    EXPECT_EQ(KVJsonAt(*me, "email"), "new@example.com");
    EXPECT_EQ(KVJsonAt(*me, "credits"), 4);
    KVAPI other(service.base(), "");
    ASSERT_TRUE(other.login("new@example.com", "correct horse", &error)) << error.message;
    EXPECT_NE(other.token(), token) << "every sign-in gets its own token";
    EXPECT_TRUE(other.me(nullptr));

    KVAPI fresh(service.base(), "");
    KVAPI forged(service.base(), "kor_" + std::string(64, '0'));
    const std::tuple<std::function<std::optional<KVJson>()>, long, std::string> refusals[] = {
        {[&] { return fresh.registerEmail("new@example.com", "password2", &error); }, 409,
         "An account with that email already exists."},
        {[&] { return fresh.login("new@example.com", "password2", &error); }, 401,
         "invalid_credentials"},
        {[&] { return fresh.login("nobody@example.com", "password1", &error); }, 401,
         "invalid_credentials"},
        {[&] { return fresh.registerEmail("no-at-sign", "password1", &error); }, 400,
         "Enter a valid email address."},
        {[&] { return fresh.registerEmail("short@example.com", "1234567", &error); }, 400,
         "Password must be at least 8 characters."},
        {[&] { return forged.me(&error); }, 401, "invalid_token"},
        {[&] { return fresh.me(&error); }, 401, "invalid_token"},
    };
    for (const auto& [call, code, message] : refusals) {
        EXPECT_FALSE(call()) << message;
        EXPECT_EQ(error.code, code) << message;
        EXPECT_EQ(error.message, message);
    }
    // Eight characters counted as the program counts them: "é" is one, not two bytes.
    EXPECT_TRUE(fresh.registerEmail("accent@example.com", "pässwör1", nullptr));

    // Ten wrong passwords in a minute hold the account, and only that one.
    ASSERT_TRUE(api.registerEmail("target@example.com", "the right one", nullptr));
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(api.login("target@example.com", "guess" + std::to_string(i), &error));
        EXPECT_EQ(error.code, 401);
    }
    EXPECT_FALSE(api.login("target@example.com", "the right one", &error));
    EXPECT_EQ(error.code, 429);
    EXPECT_TRUE(api.login("new@example.com", "correct horse", nullptr));

    // Hostile request bodies get a clear refusal and leave the service answering.
    const auto post = [&](const std::string& body) {
        KVWriteTestFile(dir.file("body"), body); // from a file, so any size goes
        const KVCurlAnswer page =
            KVCurlPage({"-H", "Content-Type: application/json", "--data-binary",
                        "@" + dir.file("body"), service.base() + "/api/auth/register"});
        return std::to_string(page.status) + " " + page.body;
    };
    const std::string malformed = "400 {\"message\":\"The request body";
    const std::pair<std::string, std::string> bodies[] = {
        {R"({"email": "a@b.c", "pass)", malformed},
        {R"(["a@b.c"])", malformed},
        {"", malformed},
        {R"({"email": ")" + std::string(2 << 20, 'a') + R"("})",
         "413 {\"message\":\"The request is too large."},
    };
    for (const auto& [body, expected] : bodies) {
        const std::string answer = post(body);
        EXPECT_EQ(answer.substr(0, expected.size()), expected) << body.substr(0, 40) << answer;
    }
    EXPECT_EQ(post(R"({"email": "still@example.com", "password": "password1"})").substr(0, 3),
              "200");
}

// Accounts, tokens and passwords live in the database: over a restart, and changed by the
// operator's commands while the service is down.
TEST(ServerAuthIntegration, KeepsAccountsOverARestartAndTakesTheOperatorsChanges) {
    KVTempDir dir;
    const std::string database = dir.file("korvane.db");
    std::string token;
    {
        KVSServiceProcess service(database, {"--free-credits", "1"});
        ASSERT_TRUE(service.running());
        KVAPI api(service.base(), "");
        ASSERT_TRUE(api.registerEmail("kept@example.com", "password1", nullptr));
        token = api.token();
        EXPECT_EQ(service.stop(), 0) << "SIGTERM ends the service cleanly";
    }
    auto granted = KVSRunServiceProgram({"--db", database, "--grant", "KEPT@example.com", "5"});
    EXPECT_EQ(granted.status, 0) << granted.output;
    EXPECT_NE(granted.output.find("6 draft credits"), std::string::npos) << granted.output;
    auto set = KVSRunServiceProgram(
        {"--db", database, "--test-fast-hash", "--set-password", "kept@example.com"},
        "brand new password\n");
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_EQ(KVSRunServiceProgram({"--db", database, "--grant", "ghost@example.com", "1"}).status,
              1);

    KVSServiceProcess again(database);
    ASSERT_TRUE(again.running());
    const auto me = KVAPI(again.base(), token).me(nullptr);
    ASSERT_TRUE(me) << "the token still signs in";
    EXPECT_EQ(KVJsonAt(*me, "credits"), 6);
    KVAPI api(again.base(), "");
    EXPECT_FALSE(api.login("kept@example.com", "password1", nullptr));
    EXPECT_TRUE(api.login("kept@example.com", "brand new password", nullptr));
    again.stop();

    // What is kept on disk would sign no one in.
    EXPECT_EQ(KVSQueryNumber(database, "SELECT count(*) FROM tokens WHERE token_hash LIKE '%" +
                                           token.substr(4, 16) + "%'"),
              0);
}

TEST(ServerAuthIntegration, AnUnusableDatabaseStopsTheServiceWithAReasonAndStaysAsItWas) {
    KVTempDir dir;
    KVWriteTestFile(dir.file("garbage.db"), std::string(2048, 'g'));
    KVWriteTestFile(dir.file("plain"), "x");
    KVWriteTestFile(dir.file("folder.db/x"), "x");
    const std::string newer = dir.file("newer.db");
    KVSQueryNumber(newer, "PRAGMA user_version=99"); // made by a later version
    const std::pair<std::string, std::string> cases[] = {
        {dir.file("garbage.db"), "not a database"},
        {newer, "newer than this service"},
        {dir.file("plain") + "/korvane.db", "cannot create the folder"},
        {dir.file("folder.db"), "Cannot open"},
    };
    for (const auto& [database, says] : cases) {
        const auto before = KVReadFile(database);
        const auto result = KVSRunServiceProgram({"--db", database, "--listen", "127.0.0.1:0"});
        EXPECT_EQ(result.status, 1) << database;
        EXPECT_NE(result.output.find(says), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(database), std::string::npos) << result.output;
        EXPECT_TRUE(KVReadFile(database) == before) << "the file must stay as it was: " << database;
    }
}

} // namespace
