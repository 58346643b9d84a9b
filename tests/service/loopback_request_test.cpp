#include "service/loopback_request.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

std::string callback(const std::string& query) {
    return "GET /callback?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

TEST(LoopbackRequest, TakesOnlyTokensMadeOfURLSafeCharacters) {
    const std::string longest = "kor_" + std::string(512, 'x');
    struct Case {
        std::string query;
        std::optional<std::string> token;
    };
    const std::vector<Case> cases = {
        {"token=kor_AZaz09._~-", "kor_AZaz09._~-"},
        {"token=dk_%41b", "dk_Ab"}, // an escaped letter is still a letter
        {"token=" + longest, longest},
        {"token=" + longest + "x", std::nullopt},
        {"token=kor_", std::nullopt},
        {"token=kor_a%0D%0AX-Injected:%201", std::nullopt}, // a header for every request
        {"token=kor_a%0Ab", std::nullopt},
        {"token=kor_a%00", std::nullopt},
        {"token=kor_a%09b", std::nullopt},
        {"token=kor_a%20b", std::nullopt},
        {"token=kor_a+b", std::nullopt},
        {"token=kor_a%2Bb", std::nullopt},
        {"token=kor_a%22b", std::nullopt},
        {"token=kor_%C3%A9", std::nullopt},
        {"token=kor_good&token=kor_bad%0A", "kor_good"}, // a refused item replaces nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(KVJudgeLoopbackRequest(callback(c.query)).token, c.token);
    }
}

} // namespace
