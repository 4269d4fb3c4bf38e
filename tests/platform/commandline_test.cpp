#include "platform/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct SplitCase {
    const char* what;
    std::string input;
    Args expected;
};

class SplitCommandLine : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, GivesTheSetupProgramsArguments) {
    EXPECT_EQ(platform::splitCommandLine(GetParam().input), GetParam().expected) << GetParam().what;
}

const SplitCase kCases[] = {
    {"empty", "", {}},
    {"only blanks", " \t\r\n ", {}},
    {"single word", "setup.exe", {"setup.exe"}},
    {"leading, trailing and repeated blanks", "  a   b\t\tc  ", {"a", "b", "c"}},
    {"every blank separates", "a\tb\rc\nd e", {"a", "b", "c", "d", "e"}},
    {"quoted path with blanks",
     "\"C:\\Program Files\\p.exe\" /S",
     {"C:\\Program Files\\p.exe", "/S"}},
    {"trailing backslash before closing quote is literal",
     "/DIR=\"C:\\x\\\" /LANG=en",
     {"/DIR=C:\\x\\", "/LANG=en"}},
    {"backslashes never escape", "a\\\\b c\\", {"a\\\\b", "c\\"}},
    {"empty quotes alone", "\"\"", {""}},
    {"empty quotes between blanks", "a \"\" b", {"a", "", "b"}},
    {"quotes inside an argument join parts", "a\"b c\"d", {"ab cd"}},
    {"adjacent quoted parts", "\"a\"\"b\"", {"ab"}},
    {"four quotes are still empty", "\"\"\"\"", {""}},
    {"unterminated quote runs to the end", "a \"b c  ", {"a", "b c  "}},
    {"lone quote at the end gives an empty argument", "a \"", {"a", ""}},
    {"blanks inside quotes are kept", "\"\ta\r\nb \"", {"\ta\r\nb "}},
    {"quote ends then argument continues", "\"/D=x y\"z w", {"/D=x yz", "w"}},
    {"non-ASCII bytes pass through", "/NAME=\xc3\xa9t\xc3\xa9", {"/NAME=\xc3\xa9t\xc3\xa9"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SplitCommandLine, testing::ValuesIn(kCases));

}  // namespace
