#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TextUtil.h"

namespace {

// Only A-Z and a-z fold: registry names, header names and markup attributes compare this way,
// and a UTF-8 byte must never be taken for a letter.
TEST(AsciiCase, FoldsOnlyAsciiLetters) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    };
    const Case cases[] = {
        {"HKLM", "hklm", true},
        {"Content-Length", "content-LENGTH", true},
        {"", "", true},
        {"abc", "abcd", false},
        {"\xC3\x89", "\xC3\xA9", false},  // É and é: not ASCII, not folded
        {"[", "{", false},                // 0x5B and 0x7B differ by 0x20 but are no letters
        {"@", "`", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(equalsNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(asciiLower("MiXeD \xC3\x89 Z@["), "mixed \xC3\x89 z@[");
    EXPECT_EQ(asciiUpper('q'), 'Q');
    EXPECT_EQ(asciiUpper('{'), '{');
    EXPECT_TRUE(startsWithNoCase("Content-Range: bytes", "content-range:"));
    EXPECT_FALSE(startsWithNoCase("Content", "content-range"));
    EXPECT_TRUE(startsWithNoCase("x", ""));
}

TEST(Blanks, TrimmedAtBothEndsOnly) {
    EXPECT_EQ(trimBlanks(" \t a b \r\n"), "a b");
    EXPECT_EQ(trimBlanks("\r\n\t "), "");
    EXPECT_EQ(trimBlanks(""), "");
    EXPECT_EQ(trimBlanks("\va\f"), "\va\f");  // only the four blanks go
}

TEST(HexDigits, ValuesAndRefusals) {
    EXPECT_EQ(hexDigitValue('0'), 0);
    EXPECT_EQ(hexDigitValue('9'), 9);
    EXPECT_EQ(hexDigitValue('a'), 10);
    EXPECT_EQ(hexDigitValue('F'), 15);
    for (char c : std::string("gG/:@`\0 ", 8))
        EXPECT_EQ(hexDigitValue(c), -1) << int(c);
}

TEST(Utf8, StrictFormsOnly) {
    struct Case {
        std::string text;
        std::optional<size_t> codePoints;
    };
    const Case cases[] = {
        {"", 0},
        {"plain", 5},
        {"\xC3\xA9t\xC3\xA9", 3},
        {"\xF0\x9F\x98\x80", 1},             // U+1F600
        {"\xF4\x8F\xBF\xBF", 1},             // U+10FFFF, the last code point
        {"\xC0\xAF", std::nullopt},          // overlong "/"
        {"\xE0\x80\xAF", std::nullopt},      // overlong, three bytes
        {"\xED\xA0\x80", std::nullopt},      // a surrogate
        {"\xF4\x90\x80\x80", std::nullopt},  // past U+10FFFF
        {"\xE2\x82", std::nullopt},          // cut at the end
        {"\x80", std::nullopt},              // a lone continuation byte
        {"a\xFFz", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8CodePoints(c.text), c.codePoints) << testing::PrintToString(c.text);
        EXPECT_EQ(isValidUtf8(c.text), c.codePoints.has_value());
    }
    EXPECT_EQ(utf8SequenceLength(""), 0u);
    EXPECT_EQ(sanitizeUtf8("a\xC0\xAFz"), "a\xEF\xBF\xBD\xEF\xBF\xBDz");
}

// Language files hand the window printf formats; what counts as a conversion decides what may
// reach snprintf.
TEST(PrintfFormat, ConversionsAndTheirReplacement) {
    struct Case {
        const char* format;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"no conversion", {}},      {"100%% done", {}},         {"%.1f%%", {"%.1f"}},
        {"%s of %s", {"%s", "%s"}}, {"%-08.2lf", {"%-08.2lf"}}, {"%*d", {"%*d"}},
        {"cut %", {"%"}},           {"%%%s", {"%s"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> texts;
        for (const FormatConversion& f : formatConversions(c.format))
            texts.emplace_back(f.text);
        EXPECT_EQ(texts, c.texts) << c.format;
    }
    EXPECT_EQ(formatConversions("cut %").front().conversion, '\0');
    EXPECT_EQ(formatConversions("a %ls").front().conversion, 's');

    const std::string format = "100%% of %s, 50%%";
    EXPECT_EQ(replaceConversion(format, formatConversions(format)[0], "120MB"),
              "100% of 120MB, 50%");
    const std::string last = "size %s";
    EXPECT_EQ(replaceConversion(last, formatConversions(last)[0], "%d"), "size %d");
}

}  // namespace
