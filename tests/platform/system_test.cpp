#include "platform/System.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace {

using kvtest::EnvGuard;

using platform::OsRelease;
using platform::uiLanguageIdFromEnvironment;

TEST(System, FormatGuidGroupsBytesInOrder) {
    std::array<uint8_t, 16> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 0x11);
    EXPECT_EQ(platform::formatGuid(bytes), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
}

TEST(System, GuidFromRandomBytesStampsVersionAndVariantOnly) {
    const std::vector<std::pair<uint8_t, std::string>> cases = {
        {0x00, "{00000000-0000-4000-8000-000000000000}"},
        {0xff, "{FFFFFFFF-FFFF-4FFF-BFFF-FFFFFFFFFFFF}"},
        {0x5a, "{5A5A5A5A-5A5A-4A5A-9A5A-5A5A5A5A5A5A}"},
    };
    for (const auto& [fill, expected] : cases) {
        std::array<uint8_t, 16> bytes;
        bytes.fill(fill);
        EXPECT_EQ(platform::guidFromRandomBytes(bytes), expected);
    }
}

TEST(System, NewGuidsAreWellFormedVersion4AndDistinct) {
    const std::regex shape(
        "\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
    std::set<std::string> seen;
    for (int i = 0; i < 500; ++i) {
        std::string guid = platform::newGuid();
        ASSERT_TRUE(std::regex_match(guid, shape)) << guid;
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 500u);
}

TEST(System, TickCountIsMonotonicAndCountsMilliseconds) {
    uint64_t last = platform::tickCount();
    for (int i = 0; i < 10000; ++i) {
        uint64_t now = platform::tickCount();
        ASSERT_GE(now, last);
        last = now;
    }
    const uint64_t before = platform::tickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint64_t elapsed = platform::tickCount() - before;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 5000u);  // milliseconds, not micro- or nanoseconds
}

TEST(System, MachineBitness) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"x86_64", true},  {"aarch64", true},  {"ppc64le", true},     {"ppc64", true},
        {"s390x", true},   {"riscv64", true},  {"loongarch64", true}, {"i686", false},
        {"i386", false},   {"armv7l", false},  {"s390", false},       {"", false},
        {"X86_64", false}, {"x86_64 ", false}, {"x86", false},
    };
    for (const auto& [machine, is64] : cases) {
        EXPECT_EQ(platform::isMachine64Bit(machine), is64) << '"' << machine << '"';
    }
}

TEST(System, KernelInfoAndBitnessAgree) {
    platform::KernelInfo k = platform::kernelInfo();
    EXPECT_EQ(k.sysname, "Linux");
    EXPECT_FALSE(k.release.empty());
    ASSERT_FALSE(k.machine.empty());
    EXPECT_EQ(platform::is64BitOs(), platform::isMachine64Bit(k.machine));
}

TEST(System, UiLanguageFromEnvironment) {
    struct Case {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        uint16_t id;
    };
    const std::vector<Case> cases = {
        // Nothing set, or the portable locale → English.
        {"", "", "", "", 1033},
        {"", "", "", "C", 1033},
        {"", "", "", "POSIX", 1033},
        {"", "C.UTF-8", "", "de_DE.UTF-8", 1033},
        // One variable set.
        {"", "", "", "es_ES.UTF-8", 3082},
        {"", "", "", "es_ES.UTF-8@euro", 3082},
        {"", "", "", "zh_CN.UTF-8", 2052},
        {"", "", "", "zh_TW.UTF-8", 1028},
        {"", "", "", "pt_BR.UTF-8", 1046},
        {"", "", "", "ja_JP.UTF-8", 1041},
        // Precedence: LANGUAGE, LC_ALL, LC_MESSAGES, LANG.
        {"fr_CA:fr", "de_DE.UTF-8", "it_IT.UTF-8", "ru_RU.UTF-8", 3084},
        {"", "de_DE.UTF-8", "it_IT.UTF-8", "ru_RU.UTF-8", 1031},
        {"", "", "it_IT.UTF-8", "ru_RU.UTF-8", 1040},
        // LANGUAGE is a preference list: empty and unknown entries give way.
        {":ko_KR", "", "", "en_US.UTF-8", 1042},
        {"eo:sv", "", "", "en_US.UTF-8", 1053},
        {"eo", "", "", "nl_NL.UTF-8", 1043},
        {"C", "", "", "nl_NL.UTF-8", 1033},
        // A locale that names no language is not English.
        {"", "", "", "garbage", 0},
        {"", "", "", "eo.UTF-8", 0},
        {"", "tlh_XX", "", "en_US.UTF-8", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(uiLanguageIdFromEnvironment(c.language, c.lcAll, c.lcMessages, c.lang), c.id)
            << "LANGUAGE=" << c.language << " LC_ALL=" << c.lcAll << " LC_MESSAGES=" << c.lcMessages
            << " LANG=" << c.lang;
    }
}

TEST(System, UserUiLanguageReadsTheProcessEnvironment) {
    EnvGuard env({"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"});
    EnvGuard::setEnv("LANGUAGE", std::nullopt);
    EnvGuard::setEnv("LC_ALL", std::nullopt);
    EnvGuard::setEnv("LC_MESSAGES", "zh_TW.UTF-8");
    EnvGuard::setEnv("LANG", "en_US.UTF-8");
    EXPECT_EQ(platform::userUiLanguageId(), 1028);
    EnvGuard::setEnv("LC_MESSAGES", std::nullopt);
    EnvGuard::setEnv("LANG", std::nullopt);
    EXPECT_EQ(platform::userUiLanguageId(), 1033);
}

TEST(System, ParseOsRelease) {
    struct Case {
        const char* what;
        const char* text;
        OsRelease expected;
    };
    const std::vector<Case> cases = {
        {"debian file",
         "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
         "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\n"
         "VERSION_CODENAME=bookworm\nID=debian\nHOME_URL=\"https://www.debian.org/\"\n",
         {"debian", "12", "Debian GNU/Linux", "Debian GNU/Linux 12 (bookworm)"}},
        {"single quotes, comments, blank lines, CRLF",
         "# a comment\r\n\r\n   # indented comment\r\nID='ubuntu'\r\nNAME='Ubuntu'\r\n",
         {"ubuntu", "", "Ubuntu", ""}},
        {"escapes in double quotes and bare values",
         "PRETTY_NAME=\"My \\\"Linux\\\" \\$1 \\\\ \\n\"\nNAME=Plain\\ Name\n",
         {"", "", "Plain Name", "My \"Linux\" $1 \\ \\n"}},
        {"joined quoted pieces and a trailing comment",
         "NAME=\"Arch\"' 'Linux  # rolling\nID=arch\n",
         {"arch", "", "Arch Linux", ""}},
        {"later assignment wins", "ID=first\nID=second\n", {"second", "", "", ""}},
        {"malformed lines are skipped, good ones kept",
         "ID=\"unterminated\nNAME=Two Words\n=novalue\n9ID=x\nNOEQUALS\nVERSION_ID=\"13\"\n"
         "PRETTY_NAME='still open\n",
         {"", "13", "", ""}},
        {"empty values and no final newline",
         "ID=\nNAME=\"\"\nVERSION_ID=1.0",
         {"", "1.0", "", ""}},
        {"empty text", "", {}},
    };
    for (const auto& c : cases) {
        OsRelease got = platform::parseOsRelease(c.text);
        EXPECT_EQ(
            std::tie(got.id, got.versionId, got.name, got.prettyName),
            std::tie(c.expected.id, c.expected.versionId, c.expected.name, c.expected.prettyName))
            << c.what;
    }
}

TEST(System, ReadOsReleaseOfThisMachine) {
    OsRelease os = platform::readOsRelease();
    EXPECT_FALSE(os.id.empty());
    EXPECT_FALSE(os.name.empty());
}

}  // namespace
