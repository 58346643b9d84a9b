#include "server/options.hpp"

#include <gtest/gtest.h>

namespace {

// What each option sets is seen by the integration tests that start the service with it;
// here, what is refused and the words of the refusal.
TEST(ServerOptions, RefusesBadArgumentsWithTheReason) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--listen", "0.0.0.0:80"}, "--tls-cert"},
        {{"--listen", "127.0.0.1"}, "--listen"},
        {{"--listen", "127.0.0.1:70000"}, "--listen"},
        {{"--free-credits", "-1"}, "--free-credits"},
        {{"--free-credits", "3x"}, "--free-credits"},
        {{"--db"}, "--db"},
        {{"--grant", "a@b.c"}, "--grant"},
        {{"--tls-cert", "c.pem", "--listen", "0.0.0.0:443"}, "go together"},
        {{"--frobnicate"}, "unknown option --frobnicate"},
    };
    for (const auto& [args, says] : cases) {
        KVError error;
        EXPECT_FALSE(KVSOptions::parse(args, &error)) << args[0];
        EXPECT_NE(error.message.find(says), std::string::npos) << error.message;
    }
    EXPECT_TRUE(KVSOptions::parse({"--listen", "0.0.0.0:80", "--behind-proxy"}, nullptr));
    // A negative grant takes credits away: "-2" is its number, not an option.
    const auto take = KVSOptions::parse({"--grant", "a@b.c", "-2"}, nullptr);
    ASSERT_TRUE(take && take->grant);
    EXPECT_EQ(take->grant->second, -2);
}

} // namespace
