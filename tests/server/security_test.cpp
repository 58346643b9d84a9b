#include "server/password_hasher.hpp"
#include "server/rate_limiter.hpp"

#include <gtest/gtest.h>
#include <sodium.h>

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

// The count and the keys are seen through the service; here the window slides.
TEST(ServerSecurity, RateLimitCountsOverASlidingMinute) {
    using namespace std::chrono_literals;
    KVSRateLimiter limiter(3);
    const auto start = KVSRateLimiter::Clock::time_point{} + 1h;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(limiter.exceeded("a", start + i * 10s));
        limiter.record("a", start + i * 10s);
    }
    EXPECT_TRUE(limiter.exceeded("a", start + 30s));
    EXPECT_FALSE(limiter.exceeded("a", start + 60s)) << "the first event left the window";
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(limiter.admit("b", start));
    }
    EXPECT_FALSE(limiter.admit("b", start + 59s));
    EXPECT_TRUE(limiter.admit("b", start + 61s));
}

} // namespace
