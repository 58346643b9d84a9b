#include "arenalog/log_values.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

using Ids = std::vector<int64_t>;

// The plain shapes (comma lists, mixed lists, a number, null) are in the decoder tables.
TEST(LogValues, IdsFromEveryShapeArenaUses) {
    EXPECT_EQ(KVIds(KVJson(" 1, 2 ,3")), (Ids{1, 2, 3}));
    EXPECT_EQ(KVIds(KVJson("42")), (Ids{42}));
    EXPECT_EQ(KVIds(KVJson("[7]")), (Ids{7}));     // no comma: read as JSON
    EXPECT_EQ(KVIds(KVJson("[7,8]")), (Ids{}));    // pieces "[7" and "8]" are not digits
    EXPECT_EQ(KVIds(KVJson("[7,8,9]")), (Ids{8})); // only the inner piece is
    EXPECT_EQ(KVIds(KVJson("abc")), (Ids{}));
    EXPECT_EQ(KVIds(KVJson::object()), (Ids{}));
    EXPECT_EQ(KVIds(KVJson::parse(R"(["0",0])")), (Ids{0})); // a zero string is no id
    EXPECT_EQ(KVIds(KVJson("-5")), (Ids{}));                 // a sign is not a digit
    EXPECT_EQ(KVIds(KVJson("1,,2,x,3")), (Ids{1, 2, 3}));
    EXPECT_EQ(KVIds(KVJson(R"(["12abc", null, [1], 2.9])")), (Ids{})); // text, not a list
    EXPECT_EQ(KVIds(KVJson::parse(R"(["12abc", null, [1], 2.9])")), (Ids{12, 2}));
    EXPECT_EQ(KVIds(KVJson("99999999999999999999")), (Ids{std::numeric_limits<int64_t>::max()}));
}

TEST(LogValues, StringsNumbersAndDocumentsOfUncertainType) {
    EXPECT_EQ(KVStr(KVJson(3.0)), "3");
    EXPECT_EQ(KVStr(KVJson(2.5)), "2.5");
    EXPECT_EQ(KVStr(KVJson(true)), "1");
    EXPECT_EQ(KVStr(KVJson()), std::nullopt);
    EXPECT_EQ(KVStr(KVJson::array()), std::nullopt);

    EXPECT_EQ(KVInt(KVJson(-7.9)), -7);
    EXPECT_EQ(KVInt(KVJson(true)), 1);
    EXPECT_EQ(KVInt(KVJson("  +12abc")), 12);
    EXPECT_EQ(KVInt(KVJson("\n-3")), -3);
    EXPECT_EQ(KVInt(KVJson("1e3")), 1); // the integer at the start, nothing more
    EXPECT_EQ(KVInt(KVJson("x1")), 0);
    EXPECT_EQ(KVInt(KVJson(1e300)), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(KVInt(KVJson::object()), 0);

    EXPECT_EQ(KVLoadsMaybe(KVJson("{\"a\":1}")), KVJson({{"a", 1}}));
    EXPECT_EQ(KVLoadsMaybe(KVJson("[1]")), KVJson::array({1}));
    EXPECT_EQ(KVLoadsMaybe(KVJson::array({2})), KVJson::array({2}));
    EXPECT_EQ(KVLoadsMaybe(KVJson("\"text\"")), std::nullopt);
    EXPECT_EQ(KVLoadsMaybe(KVJson("{\"a\":")), std::nullopt);
    EXPECT_EQ(KVLoadsMaybe(KVJson(5)), std::nullopt);
    EXPECT_EQ(KVLoadsMaybe(KVJson(std::string(100000, '[') + std::string(100000, ']'))),
              std::nullopt);
}

} // namespace
