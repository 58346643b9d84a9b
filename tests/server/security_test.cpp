#include "server/password_hasher.hpp"
#include "server/rate_limiter.hpp"
#include "server/tokens.hpp"

#include <gtest/gtest.h>
#include <sodium.h>

#include <set>

namespace {

TEST(ServerSecurity, PasswordHashesAreSaltedArgon2idAndCheckExactly) {
    ASSERT_GE(sodium_init(), 0);
    KVSPasswordHasher hasher(true);
    const std::string first = hasher.hash("correct horse");
    const std::string second = hasher.hash("correct horse");
    EXPECT_EQ(first.rfind("$argon2id$", 0), 0u) << first;
    EXPECT_NE(first, second) << "each hash has its own salt";
    EXPECT_TRUE(hasher.verify(first, "correct horse"));
    EXPECT_TRUE(hasher.verify(second, "correct horse"));
    for (const char* wrong : {"correct hors", "correct horse ", "Correct horse", ""}) {
        EXPECT_FALSE(hasher.verify(first, wrong)) << wrong;
    }
    EXPECT_FALSE(hasher.verify("", "")) << "a password-less account never matches";
    EXPECT_FALSE(hasher.verify("$argon2id$garbage", "correct horse"));
}

TEST(ServerSecurity, TokensAreFreshAndStoredOnlyAsTheirHash) {
    ASSERT_GE(sodium_init(), 0);
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string token = KVSNewToken();
        ASSERT_EQ(token.size(), 68u);
        ASSERT_EQ(token.find_first_not_of("0123456789abcdef", 4), std::string::npos) << token;
        EXPECT_TRUE(seen.insert(token).second);
    }
    const std::string token = *seen.begin();
    EXPECT_EQ(KVSTokenHash(token), KVSTokenHash(token));
    EXPECT_NE(KVSTokenHash(token), KVSTokenHash(*seen.rbegin()));
    EXPECT_EQ(KVSTokenHash(token).find(token.substr(4, 8)), std::string::npos);
    EXPECT_EQ(KVSTokenHash("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(ServerSecurity, RateLimitCountsPerKeyOverASlidingMinute) {
    using namespace std::chrono_literals;
    KVSRateLimiter limiter(3);
    const auto start = KVSRateLimiter::Clock::time_point{} + 1h;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(limiter.exceeded("a", start + i * 10s));
        limiter.record("a", start + i * 10s);
    }
    EXPECT_TRUE(limiter.exceeded("a", start + 30s));
    EXPECT_FALSE(limiter.exceeded("b", start + 30s)) << "keys are counted apart";
    EXPECT_FALSE(limiter.exceeded("a", start + 60s)) << "the first event left the window";
    EXPECT_TRUE(limiter.admit("b", start));
    EXPECT_TRUE(limiter.admit("b", start));
    EXPECT_TRUE(limiter.admit("b", start));
    EXPECT_FALSE(limiter.admit("b", start + 59s));
    EXPECT_TRUE(limiter.admit("b", start + 61s));
}

} // namespace
