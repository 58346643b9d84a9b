#include "service/loopback_request.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

const std::string kState = "9f1c2e";

std::string get(const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

TEST(LoopbackRequest, ReadsTheQueryLikeAURLAndTakesOnlyURLSafeTokens) {
    const std::string longest = "kor_" + std::string(512, 'x');
    std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"s=1&token=kor_second", "kor_second"},
        {"tok%65n=kor_named", "kor_named"},
        {"token=kor_first&token=kor_last", "kor_last"},
        {"token=kor_kept&token=abc_1", "kor_kept"},
        {"token=kor_frag#token=kor_x", "kor_frag"},
        {"token=abc_1", std::nullopt},
        {"token=KOR_upper", std::nullopt},
        {"xtoken=kor_1&token", std::nullopt},
        {"token=kor_AZaz09._~-", "kor_AZaz09._~-"},
        {"token=dk_%41b", "dk_Ab"}, // an escaped letter is still a letter
        {"token=" + longest, longest},
        {"token=" + longest + "x", std::nullopt},
        {"token=kor_", std::nullopt},
        {"token=kor_good&token=kor_bad%0A", "kor_good"}, // a refused item replaces nothing
    };
    // Anything not URL-safe refuses the token: a line break would put a header in every request.
    for (const char* bad : {"%0D%0AX-Injected:%201", "%0Ab", "%00", "%09b", "%20b", "+b", "%2Bb",
                            "%22b", "%C3%A9", "%zz"}) {
        cases.emplace_back(std::string("token=kor_a") + bad, std::nullopt);
    }
    for (const auto& [query, token] : cases) {
        SCOPED_TRACE(query);
        EXPECT_EQ(
            KVJudgeLoopbackRequest(get("/callback?state=" + kState + "&" + query), kState).token,
            token);
    }
}

TEST(LoopbackRequest, OnlyTheTokenWithTheExpectedStateEndsTheWait) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"/callback?state=9f1c2e&token=kor_ok", true},
        {"/callback?token=kor_ok&state=9f1c2e", true},
        {"/callback?state=%39f1c2e&token=kor_ok", true}, // an escaped digit is still the digit
        {"/callback?token=kor_ok", false},               // planted by another local page
        {"/callback?state=wrong&token=kor_ok", false},
        {"/callback?state=&token=kor_ok", false},
        {"/callback?state=9f1c2e0&token=kor_ok", false},
        {"/callback?state=9f1c2&token=kor_ok", false},
        {"/callback?state=9F1C2E&token=kor_ok", false},
        {"/callback?state=9f1c2e&state=wrong&token=kor_ok", false}, // the last one counts
        {"/callback?state=9f1c2e", false},                          // the service sent no token
        {"/callback?state=9f1c2e&token=abc_1", false},
        {"/callback", false},
        {"/favicon.ico?state=9f1c2e&token=kor_ok", false},
    };
    for (const auto& [target, signsIn] : cases) {
        SCOPED_TRACE(target);
        const KVLoopbackVerdict verdict = KVJudgeLoopbackRequest(get(target), kState);
        EXPECT_EQ(verdict.ends, signsIn);
        EXPECT_EQ(verdict.status, signsIn ? 200 : 404);
        EXPECT_EQ(verdict.message, signsIn ? kKVLoopbackSignedIn : kKVLoopbackNotSignedIn);
        EXPECT_EQ(verdict.token, signsIn ? std::optional<std::string>("kor_ok") : std::nullopt);
    }
    // Without a state to expect, nothing signs in: not even a callback with an empty one.
    for (const char* target : {"/callback?state=&token=kor_ok", "/callback?token=kor_ok"}) {
        EXPECT_FALSE(KVJudgeLoopbackRequest(get(target), "").ends) << target;
    }
}

TEST(LoopbackRequest, ABlankLineEndsTheHeadWithOrWithoutCarriageReturns) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"GET / HTTP/1.0\r\n\r\n", true},
        {"GET / HTTP/1.0\n\n", true},
        {"GET / HTTP/1.0\r\nHost: x\n\n", true},
        {"GET / HTTP/1.0\nHost: x\r\n\r\n", true},
        {"GET / HTTP/1.0\n\r\n", true},
        {"GET / HTTP/1.0\r\n", false},
        {"GET / HTTP/1.0\nHost: x\n", false},
        {"GET / HTTP/1.0\r\nHost: x\r\n\r", false},
        {std::string(kKVLoopbackMaxRequestBytes, 'a'), true}, // all that will be judged
    };
    for (const auto& [bytes, complete] : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(KVLoopbackRequestComplete(bytes), complete);
    }
    // The request line ends at a bare LF too, with or without a version after the target.
    for (const char* request : {"GET /callback?state=9f1c2e&token=kor_lf\n\n",
                                "GET /callback?state=9f1c2e&token=kor_lf\r\n\r\n",
                                "GET /callback?state=9f1c2e&token=kor_lf HTTP/1.0\nHost: x\n\n"}) {
        SCOPED_TRACE(request);
        EXPECT_EQ(KVJudgeLoopbackRequest(request, kState).token, std::string("kor_lf"));
    }
}

} // namespace
