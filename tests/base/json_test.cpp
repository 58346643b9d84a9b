#include "base/json.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

std::string nested(int depth) {
    return std::string(static_cast<size_t>(depth), '[') +
           std::string(static_cast<size_t>(depth), ']');
}

TEST(JsonParse, RefusesMalformedTextAndInvalidUtf8WithAnErrorNotAThrow) {
    for (const char* text :
         {"", "{", "{\"a\":", "[1,2", "{\"a\" 1}", "nul", "{\"a\":1}}", "{\"a\":\"\xff\xfe\"}"}) {
        KVError error;
        EXPECT_FALSE(KVJsonParse(text, &error).has_value()) << text;
        EXPECT_EQ(error.domain, "KorvaneJSON") << text;
        EXPECT_FALSE(error.message.empty());
    }
    const auto ok = KVJsonParse(R"({"a":[1,"x",{"b":null}]})");
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ((*ok)["a"][1], "x");
}

TEST(JsonParse, CapsNestingDepthWithoutOverflowingTheStack) {
    EXPECT_TRUE(KVJsonParse(nested(kKVJsonMaxDepth)).has_value());
    KVError error;
    EXPECT_FALSE(KVJsonParse(nested(kKVJsonMaxDepth + 1), &error).has_value());
    EXPECT_NE(error.message.find("nested"), std::string::npos);
    // Deep enough that a recursive copy or dump would crash if the value were kept.
    EXPECT_FALSE(KVJsonParse(nested(200000)).has_value());
    const std::string deepObjects = [] {
        std::string s;
        for (int i = 0; i < 100000; ++i) {
            s += "{\"a\":";
        }
        s += "1";
        s += std::string(100000, '}');
        return s;
    }();
    EXPECT_FALSE(KVJsonParse(deepObjects).has_value());
}

TEST(JsonParse, FilteredParsingKeepsOnlyWantedMembersButChecksAll) {
    const std::string text =
        R"({"Skip":{"Wanted":1,"deep":[{"a":1}]},"Keep":{"Wanted":2,"Other":3,"List":[{"x":1}]}})";
    const KVJsonMemberFilter keep = [](int depth, const std::string& key) {
        return depth == 1 ? key == "Keep" : depth > 2 || key != "Other";
    };
    const auto kept = KVJsonParseFiltered(text, keep);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(*kept, KVJson::parse(R"({"Keep":{"Wanted":2,"List":[{"x":1}]}})"));
    // A refused member must still be valid JSON, and the depth cap still holds inside it.
    EXPECT_FALSE(KVJsonParseFiltered(R"({"Skip":{"a":tru},"Keep":1})", keep).has_value());
    EXPECT_FALSE(KVJsonParseFiltered("{\"Skip\":" + nested(500) + "}", keep).has_value());
}

TEST(JsonDump, ReplacesInvalidUtf8InsteadOfThrowing) {
    KVJson value = {{"name", std::string("ok\xff\xc3")}};
    std::string dumped;
    ASSERT_NO_THROW(dumped = KVJsonDump(value));
    EXPECT_EQ(dumped, "{\"name\":\"ok\xEF\xBF\xBD\xEF\xBF\xBD\"}");
    EXPECT_EQ(KVJsonDump(KVJson{{"a", 1}}, 2), "{\n  \"a\": 1\n}");
}

TEST(JsonReaders, LookupsChainThroughMissingAndMistypedMembers) {
    const KVJson doc = {{"a", {{"b", "deep"}}}, {"list", {1, 2}}};
    EXPECT_EQ(KVJsonString(KVJsonAt(KVJsonAt(doc, "a"), "b")), "deep");
    EXPECT_TRUE(KVJsonAt(KVJsonAt(doc, "missing"), "b").is_null());
    EXPECT_TRUE(KVJsonAt(doc["list"], "b").is_null());
    EXPECT_TRUE(KVJsonAt(KVJson("text"), "b").is_null());
    EXPECT_EQ(KVJsonString(KVJson(5)), std::nullopt);
    EXPECT_EQ(KVJsonString(KVJson(5), "fallback"), "fallback");
}

TEST(JsonReaders, BooleansReadStringsByTheirLeadingText) {
    EXPECT_TRUE(KVJsonBool(KVJson(true), false));
    EXPECT_FALSE(KVJsonBool(KVJson(0), true));
    EXPECT_TRUE(KVJsonBool(KVJson(0.5), false));
    for (const char* yes : {"YES", "yes", "true", "T", "1", " 7", "-1", "+3", "0001", "  y"}) {
        EXPECT_TRUE(KVJsonBool(KVJson(yes), false)) << yes;
    }
    for (const char* no : {"NO", "false", "0", "00", "0.5", "", "  ", "abc", "-0"}) {
        EXPECT_FALSE(KVJsonBool(KVJson(no), true)) << no;
    }
    EXPECT_TRUE(KVJsonBool(KVJson(), true));
    EXPECT_FALSE(KVJsonBool(KVJson::array(), false));
    EXPECT_TRUE(KVJsonBool(KVJson::object(), true));
}

TEST(JsonReaders, DoublesReadStringsByTheirLeadingNumber) {
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson(0.25), 1), 0.25);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson(3), 1), 3);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson(true), 5), 1);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson("0.5abc"), 1), 0.5);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson("  -2.5e1"), 1), -25);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson(".5"), 1), 0.5);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson("abc"), 1), 0);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson("inf"), 1), 0);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson("0x10"), 1), 0);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson(), 0.75), 0.75);
    EXPECT_DOUBLE_EQ(KVJsonDouble(KVJson::array({1}), 0.75), 0.75);
}

TEST(JsonReaders, IntegersSaturateAndCutTowardZero) {
    EXPECT_EQ(KVJsonInt64(KVJson(42), 0), 42);
    EXPECT_EQ(KVJsonInt64(KVJson(-12.9), 0), -12);
    EXPECT_EQ(KVJsonInt64(KVJson(1e30), 0), kMax);
    EXPECT_EQ(KVJsonInt64(KVJson(-1e30), 0), kMin);
    EXPECT_EQ(KVJsonInt64(KVJson(std::numeric_limits<uint64_t>::max()), 0), kMax);
    EXPECT_EQ(KVJsonInt64(KVJson("9007199254740993"), 0), 9007199254740993);
    EXPECT_EQ(KVJsonInt64(KVJson("99999999999999999999"), 0), kMax);
    EXPECT_EQ(KVJsonInt64(KVJson("-99999999999999999999"), 0), kMin);
    EXPECT_EQ(KVJsonInt64(KVJson(" +12.9kg"), 0), 12);
    EXPECT_EQ(KVJsonInt64(KVJson("1e3"), 0), 1000);
    EXPECT_EQ(KVJsonInt64(KVJson("x1"), 7), 0);
    EXPECT_EQ(KVJsonInt64(KVJson(), 7), 7);
    EXPECT_EQ(KVJsonInt64(KVJson(true), 7), 1);

    EXPECT_EQ(KVSaturatingInt64(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(KVSaturatingInt64(9223372036854775807.0), kMax); // rounds up to 2^63
    EXPECT_EQ(KVSaturatingInt64(-9223372036854775808.0), kMin);
    EXPECT_EQ(KVSaturatingInt64(std::numeric_limits<double>::infinity()), kMax);
}

} // namespace
