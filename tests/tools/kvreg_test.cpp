#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/Registry.h"
#include "test_support.h"

namespace {

using platform::Hive;
using platform::RegKey;

// Runs the built kvreg against a store of its own; the tool inherits KV_REGISTRY_DIR.
class KvregTest : public testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("KV_REGISTRY_DIR"))
            m_oldDir = old;
        setenv("KV_REGISTRY_DIR", m_dir.path().c_str(), 1);
    }
    void TearDown() override {
        m_oldDir ? setenv("KV_REGISTRY_DIR", m_oldDir->c_str(), 1) : unsetenv("KV_REGISTRY_DIR");
    }

    static kvtest::RunResult kvreg(const std::vector<std::string>& args) {
        return kvtest::runProgram(KV_BIN_DIR "/kvreg", args, 20000);
    }
    static void run(const std::vector<std::string>& args) {
        auto result = kvreg(args);
        ASSERT_EQ(result.exitCode, 0) << result.output;
        ASSERT_EQ(result.output, "The operation completed successfully.\n");
    }

    kvtest::TempDir m_dir;
    std::optional<std::string> m_oldDir;
};

TEST_F(KvregTest, AddedValuesQueryLikeRegExe) {
    run({"add", "HKLM\\Software\\Kv", "/v", "Name", "/d", "hello world"});
    run({"add", "HKLM\\Software\\Kv", "/ve", "/d", "default"});
    run({"add", "HKLM\\Software\\Kv", "/V", "name", "/D", "overwritten", "/f"});  // no prompt
    run({"add", "hkey_local_machine/software//kv/Sub/", "/v", "List", "/t", "REG_MULTI_SZ", "/d",
         "a\\0\\0b"});
    run({"add", "HKLM\\Software\\Kv\\Sub", "/v", "Csv", "/t", "reg_multi_sz", "/d", "x,,y", "/s",
         ","});
    run({"add", "HKCU\\Software\\Only\\Key"});

    const struct {
        std::vector<std::string> args;
        std::string output;
    } queries[] = {
        {{"query", "hklm\\SOFTWARE\\kv"},
         "\nHKEY_LOCAL_MACHINE\\Software\\Kv\n"
         "    Name    REG_SZ    overwritten\n"
         "    (Default)    REG_SZ    default\n"
         "\nHKEY_LOCAL_MACHINE\\Software\\Kv\\Sub\n"},
        {{"query", "HKLM\\Software\\Kv", "/s"},
         "\nHKEY_LOCAL_MACHINE\\Software\\Kv\n"
         "    Name    REG_SZ    overwritten\n"
         "    (Default)    REG_SZ    default\n"
         "\nHKEY_LOCAL_MACHINE\\Software\\Kv\\Sub\n"
         "    List    REG_MULTI_SZ    a\\0\\0b\n"
         "    Csv    REG_MULTI_SZ    x\\0\\0y\n"},
        {{"query", "HKLM\\Software", "/v", "csv", "/s"},
         "\nHKEY_LOCAL_MACHINE\\Software\\Kv\\Sub\n"
         "    Csv    REG_MULTI_SZ    x\\0\\0y\n"
         "\nEnd of search: 1 match(es) found.\n"},
        {{"query", "HKLM\\Software\\Kv", "/ve"},
         "\nHKEY_LOCAL_MACHINE\\Software\\Kv\n    (Default)    REG_SZ    default\n"},
        {{"query", "HKCU\\Software\\Only\\Key"}, "\nHKEY_CURRENT_USER\\Software\\Only\\Key\n"},
    };
    for (const auto& q : queries) {
        auto result = kvreg(q.args);
        EXPECT_EQ(result.exitCode, 0) << q.args[1];
        EXPECT_EQ(result.output, q.output) << q.args[1];
    }
    // What the tool wrote is what the installer reads.
    auto sub = RegKey::open(Hive::LocalMachine, "Software\\Kv\\Sub");
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->queryValue("List")->strings, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(sub->queryValue("Csv")->strings, (std::vector<std::string>{"x", "", "y"}));
}

TEST_F(KvregTest, DeleteRemovesValuesAndTrees) {
    ASSERT_TRUE(RegKey::create(Hive::CurrentUser, "Software\\Del\\Deep\\Er"));
    auto key = RegKey::create(Hive::CurrentUser, "Software\\Del");
    ASSERT_TRUE(key && key->setString("", "d") && key->setString("a", "1") &&
                key->setMultiString("b", {"2"}) && key->setString("c", "3"));

    run({"delete", "HKCU\\Software\\Del", "/v", "A"});
    EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"", "b", "c"}));
    run({"delete", "HKCU\\Software\\Del", "/ve", "/f"});
    EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"b", "c"}));
    run({"delete", "HKCU\\Software\\Del", "/va"});
    EXPECT_TRUE(key->valueNames().empty());
    EXPECT_TRUE(RegKey::open(Hive::CurrentUser, "Software\\Del\\Deep\\Er"));  // /va keeps subkeys
    run({"delete", "HKCU/Software/Del"});
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "Software\\Del"));
    EXPECT_TRUE(RegKey::open(Hive::CurrentUser, "Software"));
}

// Every mistake ends with exit 1 and an ERROR line, and changes nothing.
TEST_F(KvregTest, MistakesFailWithoutSideEffects) {
    ASSERT_TRUE(RegKey::create(Hive::LocalMachine, "Software\\Kv")->setString("v", "1"));
    const std::vector<std::string> mistakes[] = {
        {},
        {"query"},
        {"frobnicate", "HKLM\\Software"},
        {"query", "HKCR\\Software"},
        {"query", "HKLMX\\Software"},
        {"query", "HKLM\\Missing"},
        {"query", "HKLM\\Software\\Kv", "/v", "Missing"},
        {"query", "HKLM\\Software\\Kv", "/v"},
        {"query", "HKLM\\Software\\Kv", "/s", "/s"},
        {"query", "HKLM\\Software\\Kv", "/va"},
        {"add", "HKLM\\New", "/v", "x", "/t", "REG_DWORD", "/d", "1"},
        {"add", "HKLM\\New", "/v", "x", "/ve"},
        {"add", "HKLM\\New", "/d", "data without a name"},
        {"add", "HKLM\\New", "/v", "x", "/s", ","},
        {"add", "HKLM\\New", "/v", "x", "/t", "REG_MULTI_SZ", "/s", ""},
        {"add", "HKLM\\New", "/v", "x", "/d", "1", "/d", "2"},
        {"add", "HKLM\\New\\bad\xC3"},
        {"add", "HKLM\\New", "/v", "x", "/unknown"},
        {"delete", "HKLM"},
        {"delete", "HKLM\\\\"},
        {"delete", "HKLM\\Missing"},
        {"delete", "HKLM\\Software\\Kv", "/v", "Missing"},
        {"delete", "HKLM\\Software\\Kv", "/va", "/v", "v"},
    };
    for (const auto& args : mistakes) {
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        auto result = kvreg(args);
        EXPECT_EQ(result.exitCode, 1) << shown;
        EXPECT_NE(result.output.find("ERROR: "), std::string::npos) << shown << result.output;
    }
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, "New"));
    EXPECT_EQ(RegKey::open(Hive::LocalMachine, "Software\\Kv")->getString("v"), "1");
    auto help = kvreg({"/?"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("kvreg query"), std::string::npos);
}

}  // namespace
