#include "TextUtil.h"

#include <gtest/gtest.h>

#include <string>

#include "TransportSettings.h"

namespace {

TEST(SanitizeUtf8, ReplacesEachIllFormedByte) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain", "plain"},
        {"\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong "/"
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xF4\x90\x80\x80",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // beyond U+10FFFF
        {"\xE4\xB8", "\xEF\xBF\xBD\xEF\xBF\xBD"},              // cut short
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sanitizeUtf8(c.in), c.out);
}

TEST(TruncateToCodePoints, CountsCharactersNotBytes) {
    EXPECT_EQ(truncateToCodePoints("\xE4\xB8\xAD\xE6\x96\x87"
                                   "ab",
                                   1),
              "\xE4\xB8\xAD");
    EXPECT_EQ(truncateToCodePoints("\xE4\xB8\xAD\xE6\x96\x87"
                                   "ab",
                                   3),
              "\xE4\xB8\xAD\xE6\x96\x87"
              "a");
    EXPECT_EQ(truncateToCodePoints("ab", 5), "ab");
    EXPECT_EQ(truncateToCodePoints("ab", 0), "");
}

TEST(ParseDecimal, BehavesLikeAtoiWithoutOverflow) {
    struct Case {
        const char* in;
        int value;
    } cases[] = {{"253", 253},
                 {"  42x", 42},
                 {"-7", -7},
                 {"+8", 8},
                 {"", 0},
                 {"abc", 0},
                 {"2147483647", 2147483647},
                 {"2147483648", 2147483647},
                 {"-2147483648", -2147483647 - 1},
                 {"-99999999999", -2147483647 - 1}};
    for (const auto& c : cases)
        EXPECT_EQ(parseDecimalInt(c.in), c.value) << c.in;
    EXPECT_EQ(parseDecimalInt64("5000000000"), 5000000000LL);
    EXPECT_EQ(parseDecimalInt64("99999999999999999999"), INT64_MAX);
}

TEST(ConnectToRules, SplitOnSemicolons) {
    EXPECT_EQ(parseConnectToRules(":443:127.0.0.1:4443; :80:127.0.0.1:8080 ;;"),
              (std::vector<std::string>{":443:127.0.0.1:4443", ":80:127.0.0.1:8080"}));
    EXPECT_TRUE(parseConnectToRules("").empty());
    EXPECT_TRUE(parseConnectToRules(" ; ").empty());
}

}  // namespace
