#include "server/options.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ServerOptions, ReadsWhatTheOperatorGives) {
    KVError error;
    const auto options =
        KVSOptions::parse({"--listen", "127.0.0.1:0", "--db", "/tmp/x.db", "--free-credits", "5",
                           "--grant", "a@b.c", "-2", "--demo", "--test-fast-hash"},
                          &error);
    ASSERT_TRUE(options) << error.message;
    EXPECT_EQ(options->port, 0);
    EXPECT_EQ(options->databasePath, "/tmp/x.db");
    EXPECT_EQ(options->freeCredits, 5);
    ASSERT_TRUE(options->grant);
    EXPECT_EQ(options->grant->second, -2);
    EXPECT_TRUE(options->demo);
    EXPECT_TRUE(options->testFastHash);
}

TEST(ServerOptions, RefusesBadArgumentsWithTheReason) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"--listen", "0.0.0.0:80"}, "--tls-cert"},
        {{"--listen", "127.0.0.1"}, "--listen"},
        {{"--listen", "127.0.0.1:70000"}, "--listen"},
        {{"--free-credits", "-1"}, "--free-credits"},
        {{"--free-credits", "3x"}, "--free-credits"},
        {{"--db"}, "--db"},
        {{"--grant", "a@b.c"}, "--grant"},
        {{"--tls-cert", "c.pem", "--listen", "0.0.0.0:443"}, "go together"},
        {{"--frobnicate"}, "unknown option --frobnicate"},
        {{"--public-url", "korvane.example"}, "--public-url"},
        {{"--public-url", "ftp://korvane.example"}, "--public-url"},
        {{"--public-url", "https://"}, "--public-url"},
        {{"--public-url", "https://me@evil.example"}, "--public-url"},
        {{"--public-url", "https://korvane.example/?next=x"}, "--public-url"},
        {{"--public-url", "https://korvane.example/a\"onmouseover"}, "--public-url"},
    };
    for (const Case& c : cases) {
        KVError error;
        EXPECT_FALSE(KVSOptions::parse(c.args, &error)) << c.args[0];
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
    }
    EXPECT_TRUE(KVSOptions::parse({"--listen", "0.0.0.0:80", "--behind-proxy"}, nullptr));
    const auto proxied = KVSOptions::parse({"--public-url", "https://korvane.example/"}, nullptr);
    ASSERT_TRUE(proxied);
    EXPECT_EQ(proxied->publicURL, "https://korvane.example");
}

} // namespace
