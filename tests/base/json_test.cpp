#include "base/json.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

std::string nested(int depth) {
    return std::string(static_cast<size_t>(depth), '[') +
           std::string(static_cast<size_t>(depth), ']');
}

TEST(JsonParse, RefusesMalformedTextAndInvalidUtf8WithAnErrorNotAThrow) {
    using namespace std::string_view_literals;
    // A NUL after a whole value is trailing garbage, though nlohmann's own reader stops there.
    for (const std::string_view text :
         {""sv, "{"sv, "{\"a\":"sv, "[1,2"sv, "{\"a\" 1}"sv, "nul"sv, "{\"a\":1}}"sv,
          "{\"a\":\"\xff\xfe\"}"sv, "2\0\0]"sv, "{\"a\":1}\0"sv}) {
        KVError error;
        EXPECT_FALSE(KVJsonParse(text, &error).has_value()) << text;
        EXPECT_EQ(error.domain, "KorvaneJSON") << text;
        EXPECT_FALSE(error.message.empty());
    }
}

// nlohmann's own reader, the values the program always had: the new reader must give the same
// value, of the same type, or refuse what nlohmann refuses.
void expectAsNlohmannReadsIt(const std::string& text) {
    const KVJson reference = KVJson::parse(text, nullptr, /*allow_exceptions=*/false);
    const auto read = KVJsonParse(text);
    ASSERT_EQ(read.has_value(), !reference.is_discarded()) << text;
    if (read) {
        EXPECT_EQ(read->dump(), reference.dump()) << text;
        EXPECT_EQ(read->type(), reference.type()) << text;
    }
}

TEST(JsonParse, ReadsEveryValueAsNlohmannDoes) {
    for (const char* text :
         {// numbers: unsigned unless signed, floats, the 64-bit edges and beyond them
          "0", "7", "-7", "1.5", "-0.0", "1e3", "1E-3", "2.5e+2", "1e-400", "-1e-400",
          "9223372036854775807", "9223372036854775808", "18446744073709551615",
          "18446744073709551616", "-9223372036854775808", "-9223372036854775809",
          "123456789012345678901234567890", "0.30000000000000004", "1e400", "-1e400", "01", "1.",
          ".5", "-", "+1", "0x10", "Infinity", "NaN",
          // strings: escapes, surrogate pairs, a lone half, NUL, control and invalid bytes
          R"("a\"b\\c\/d\b\f\n\r\t")", R"("\u00e9\ud83d\ude00")", R"("\ud800")", R"("\udc00")",
          R"("a\u0000b")", "\"\x01\"", "\"\x7f\"", "\"\xc3\xa9\"", "\"\xc3\"", "\"\xed\xa0\x80\"",
          R"("\x")",
          // structure: repeated keys, white space, a byte-order mark, trailing text
          R"({"a":1,"a":[2],"b":{}})", " \t\r\n[ 1 , {\"k\" : null} ]\n", "\xEF\xBB\xBF{}", "[1,]",
          "{\"a\":1,}", "[1] 2", "true", "false", "null", "tru", "[", "}", "",
          // a number only nlohmann reads, inside a document
          R"({"id":18446744073709551616,"list":[1,"x",{"y":-0}]})"}) {
        expectAsNlohmannReadsIt(text);
    }
}

TEST(JsonParse, CapsNestingDepthAndStopsThere) {
    EXPECT_TRUE(KVJsonParse(nested(kKVJsonMaxDepth)).has_value());
    KVError error;
    EXPECT_FALSE(KVJsonParse(nested(kKVJsonMaxDepth + 1), &error).has_value());
    EXPECT_EQ(error.code, 2);
    EXPECT_NE(error.message.find("nested"), std::string::npos);
    // Objects and arrays count alike, also on the path for numbers only nlohmann reads.
    std::string mixed;
    for (int i = 0; i < kKVJsonMaxDepth; ++i) {
        mixed += i % 2 == 0 ? "{\"a\":" : "[";
    }
    const auto closeMixed = [](std::string s) {
        for (int i = kKVJsonMaxDepth - 1; i >= 0; --i) {
            s += i % 2 == 0 ? "}" : "]";
        }
        return s;
    };
    EXPECT_TRUE(KVJsonParse(closeMixed(mixed + "1")).has_value());
    EXPECT_FALSE(KVJsonParse(closeMixed(mixed + "[1]")).has_value());
    EXPECT_TRUE(KVJsonParse(closeMixed(mixed + "18446744073709551616")).has_value());
    EXPECT_FALSE(KVJsonParse(closeMixed(mixed + "[18446744073709551616]"), &error).has_value());
    EXPECT_EQ(error.code, 2);
    // An empty container one level too deep, and bombs as large as any reader takes: closed,
    // unclosed (refused as malformed before any depth is reached), and one behind a number
    // simdjson refuses.
    EXPECT_FALSE(KVJsonParse(closeMixed(mixed + "[]"), &error).has_value());
    EXPECT_EQ(error.code, 2);
    EXPECT_FALSE(KVJsonParse(nested(4 << 20), &error).has_value());
    EXPECT_EQ(error.code, 2);
    EXPECT_FALSE(KVJsonParse(std::string(size_t{8} << 20, '['), &error).has_value());
    EXPECT_TRUE(error.code == 1 || error.code == 2) << error.code;
    EXPECT_FALSE(KVJsonParse("[1e999999," + std::string(1 << 20, '['), &error).has_value());
    EXPECT_TRUE(error.code == 1 || error.code == 2) << error.code;
    EXPECT_FALSE(KVJsonParse("[18446744073709551616," + nested(1 << 20) + "]", &error));
    EXPECT_EQ(error.code, 2);
}

TEST(JsonParse, RefusesMoreValuesThanItWillBuild) {
    std::string many = "[";
    for (size_t i = 0; i + 2 < kKVJsonMaxValues; ++i) {
        many += "{},";
    }
    KVError error;
    EXPECT_TRUE(KVJsonParse(many + "0]").has_value()); // the budget exactly: array + values
    EXPECT_FALSE(KVJsonParse(many + "0,0]", &error).has_value());
    EXPECT_EQ(error.code, 3);
    EXPECT_FALSE(KVJsonParse(many + "0,18446744073709551616]", &error).has_value());
    EXPECT_EQ(error.code, 3);
    // Values left out by a filter are not built, so they do not count.
    const KVJsonMemberFilter keepNone = [](int, const std::string&) { return false; };
    EXPECT_TRUE(KVJsonParseFiltered("{\"a\":" + many + "0,0]}", keepNone).has_value());
}

TEST(JsonParse, FilteredParsingKeepsOnlyWantedMembersButChecksAll) {
    const std::string text =
        R"({"Skip":{"Wanted":1,"deep":[{"a":1}]},"Keep":{"Wanted":2,"Other":3,"List":[{"x":1}]}})";
    std::vector<std::pair<int, std::string>> asked;
    const KVJsonMemberFilter keep = [&asked](int depth, const std::string& key) {
        asked.emplace_back(depth, key);
        return depth == 1 ? key == "Keep" : depth > 2 || key != "Other";
    };
    const auto kept = KVJsonParseFiltered(text, keep);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(*kept, KVJson::parse(R"({"Keep":{"Wanted":2,"List":[{"x":1}]}})"));
    // Depth counts arrays too; nothing inside a refused member is asked about.
    EXPECT_EQ(asked,
              (std::vector<std::pair<int, std::string>>{
                  {1, "Skip"}, {1, "Keep"}, {2, "Wanted"}, {2, "Other"}, {2, "List"}, {4, "x"}}));
    // The same on the path for numbers only nlohmann reads.
    const std::string big = R"({"Skip":18446744073709551616,"Keep":{"Other":1,"Wanted":2}})";
    EXPECT_EQ(KVJsonParseFiltered(big, keep), KVJson::parse(R"({"Keep":{"Wanted":2}})"));
    // A refused member must still be valid JSON, and the depth cap still holds inside it.
    EXPECT_FALSE(KVJsonParseFiltered(R"({"Skip":{"a":tru},"Keep":1})", keep).has_value());
    EXPECT_FALSE(KVJsonParseFiltered("{\"Skip\":" + nested(500) + "}", keep).has_value());
    EXPECT_FALSE(KVJsonParseFiltered("{\"Skip\":\"\xff\",\"Keep\":1}", keep).has_value());
}

// A background task may start a read while the program exits, after simdjson's implementation
// object is gone: the read fails with a clear error instead of aborting the exit.
TEST(JsonParse, AReadStartedWhileTheProgramExitsFailsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process: no reader made before
    const auto exitWithLateRead = [] {
        // Runs after every exit handler registered later, the reader's own among them.
        std::atexit([] {
            const std::string large = "[" + std::string(size_t{300} << 10, ' ') + "0]";
            KVError error;
            const bool refused = !KVJsonParse(large, &error) &&
                                 error.message.find("program is ending") != std::string::npos;
            std::_Exit(refused ? 0 : 3);
        });
        (void)KVJsonParse("{}");
        std::exit(1);
    };
    EXPECT_EXIT(exitWithLateRead(), testing::ExitedWithCode(0), "");
}

TEST(JsonDump, ReplacesInvalidUtf8InsteadOfThrowing) {
    KVJson value = {{"name", std::string("ok\xff\xc3")}};
    std::string dumped;
    ASSERT_NO_THROW(dumped = KVJsonDump(value));
    EXPECT_EQ(dumped, "{\"name\":\"ok\xEF\xBF\xBD\xEF\xBF\xBD\"}");
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
