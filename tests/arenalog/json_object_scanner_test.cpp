#include "arenalog/json_object_scanner.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

constexpr size_t npos = KVJSONObjectScanner::npos;

struct Found {
    size_t begin;
    size_t end;
};

Found scanWhole(std::string_view text) {
    KVJSONObjectScanner scanner;
    scanner.scan(text);
    return {scanner.begin(), scanner.end()};
}

TEST(JSONObjectScanner, FindsTheFirstObjectWhereverTheTextIsCut) {
    const struct {
        std::string text;
        size_t begin;
        size_t end; // npos while the object is open
    } cases[] = {
        {"no object", npos, npos},
        {"x {}", 2, 4},
        {"{}{}", 0, 2},
        {"a {\"b\":{},\"c\":{\"d\":{}}} tail", 2, 23},
        {R"({"s":"}"})", 0, 9},        // a brace inside a string
        {R"({"s":"\"}"})", 0, 11},     // an escaped quote does not end the string
        {R"({"s":"\\"})", 0, 10},      // an escaped backslash does
        {R"({"s":"\\\"}"} })", 0, 13}, // and an escaped one after it does not
        {"{},{},{},{}", 0, 2},         // braces back to back
        {"{{},{},{{}}}", 0, 12},
        {R"({"a":[{},{}],"b":"{{{"})", 0, 23},
        {"{\"open\":{}", 0, npos},
        {R"({"s":"}})", 0, npos}, // the string never ends
        {"}{}", 1, 3},            // a closing brace before the object is not counted
    };
    for (const auto& c : cases) {
        const Found whole = scanWhole(c.text);
        EXPECT_EQ(whole.begin, c.begin) << c.text;
        EXPECT_EQ(whole.end, c.end) << c.text;
        // The same found when the text grows a piece at a time, cut at every place.
        for (size_t cut = 0; cut <= c.text.size(); ++cut) {
            KVJSONObjectScanner scanner;
            const bool early = scanner.scan(std::string_view(c.text).substr(0, cut));
            const bool done = scanner.scan(c.text);
            EXPECT_EQ(done, c.end != npos) << c.text << " cut at " << cut;
            EXPECT_EQ(scanner.end(), c.end) << c.text << " cut at " << cut;
            EXPECT_EQ(scanner.begin(), c.begin) << c.text << " cut at " << cut;
            if (early) {
                EXPECT_LE(c.end, cut) << c.text;
            }
        }
    }
}

// Long texts, where whole blocks are scanned at once: strings with escapes at every place,
// runs of braces and plain text, fed whole and in random pieces, against a byte-by-byte count.
TEST(JSONObjectScanner, LongTextsAgreeWithAByteByByteCount) {
    const auto reference = [](std::string_view text) {
        size_t depth = 0;
        bool inString = false;
        for (size_t i = text.find('{'); i < text.size(); ++i) {
            const char c = text[i];
            if (inString) {
                i += c == '\\' ? 1 : 0;
                inString = c != '"';
            } else if (c == '"') {
                inString = true;
            } else if (c == '{') {
                ++depth;
            } else if (c == '}' && --depth == 0) {
                return i + 1;
            }
        }
        return npos;
    };
    std::mt19937 rng(8);
    const std::string alphabet = "{}\"\\ab{}\"\\xxxxxxxxxxxxxxxxxxxx";
    for (int round = 0; round < 400; ++round) {
        std::string text = "head {";
        const size_t length = 20 + rng() % 300;
        while (text.size() < length) {
            text += alphabet[rng() % alphabet.size()];
        }
        text += std::string(rng() % 40, '}');
        const size_t want = reference(text);
        EXPECT_EQ(scanWhole(text).end, want) << text;
        KVJSONObjectScanner scanner;
        for (size_t cut = rng() % 50; cut < text.size(); cut += 1 + rng() % 70) {
            scanner.scan(std::string_view(text).substr(0, cut));
        }
        scanner.scan(text);
        EXPECT_EQ(scanner.end(), want) << text;
    }
}

} // namespace
