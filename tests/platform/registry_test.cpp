#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "test_support.h"

namespace {

using kvtest::ScopedEnv;

using platform::Hive;
using platform::RegKey;
using platform::RegType;

class RegistryTest : public testing::Test {
protected:
    kvtest::TempDir m_dir;
    ScopedEnv m_env{"KV_REGISTRY_DIR", m_dir.path().c_str()};
};

std::string sqlScalar(const std::filesystem::path& file, const char* sql) {
    sqlite3* db = nullptr;
    std::string result = "<error>";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, 0));
        result.assign(data ? data : "", static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

// Removes a hive file with its log and index, as a user deleting the store would.
void removeHive(const std::filesystem::path& file) {
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(file.string() + suffix);
}

TEST(RegistryNames, KeyPathsAreNormalisedOrRejected) {
    const std::string longName(255, 'k');
    std::string longAccents;
    for (int i = 0; i < 255; ++i)
        longAccents += "é";
    std::string deep, tooDeep;
    for (int i = 0; i < 512; ++i)
        deep += "d\\";
    tooDeep = deep + "d";
    const struct {
        std::string input;
        std::optional<std::string> expected;
    } cases[] = {
        {"Software\\Foo", "Software\\Foo"},
        {"/Software//Foo/", "Software\\Foo"},
        {"\\\\a\\/\\b\\\\", "a\\b"},
        {"", ""},
        {"\\/\\", ""},
        {"Ünïcode\\日本", "Ünïcode\\日本"},
        {longName, longName},
        {longName + "k", std::nullopt},
        {longAccents, longAccents},  // 255 characters in 510 bytes
        {longAccents + "é", std::nullopt},
        {deep, deep.substr(0, deep.size() - 1)},
        {tooDeep, std::nullopt},
        {std::string("a\0b", 3), std::nullopt},
        {"bad\xC3", std::nullopt},              // truncated sequence
        {"bad\xC0\xAF", std::nullopt},          // overlong "/"
        {"bad\xED\xA0\x80", std::nullopt},      // surrogate
        {"bad\xF4\x90\x80\x80", std::nullopt},  // above U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::normaliseKeyPath(c.input), c.expected) << c.input.substr(0, 40);
    }
}

TEST(RegistryNames, HiveNames) {
    EXPECT_EQ(platform::parseHiveName("HKLM"), Hive::LocalMachine);
    EXPECT_EQ(platform::parseHiveName("hkey_local_machine"), Hive::LocalMachine);
    EXPECT_EQ(platform::parseHiveName("HkCu"), Hive::CurrentUser);
    EXPECT_EQ(platform::parseHiveName("HKEY_CURRENT_USER"), Hive::CurrentUser);
    for (const char* bad : {"", "HKLM\\", "HKCR", "HKEY_USERS", "HKLMX", "HK"}) {
        EXPECT_EQ(platform::parseHiveName(bad), std::nullopt) << bad;
    }
}

TEST(RegistryLocation, FollowsTheEnvironmentAtEachCall) {
    kvtest::TempDir data;
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv noDir("KV_REGISTRY_DIR", nullptr);
        ScopedEnv xdg("XDG_DATA_HOME", data.path().c_str());
        EXPECT_EQ(platform::hiveFile(Hive::CurrentUser),
                  data.path() / "kvdownloader/registry/HKCU.db");
        ScopedEnv relative("XDG_DATA_HOME", "relative/dir");  // not absolute: ignored
        EXPECT_EQ(platform::hiveFile(Hive::CurrentUser),
                  "/home/someone/.local/share/kvdownloader/registry/HKCU.db");
        EXPECT_EQ(platform::hiveFile(Hive::LocalMachine),
                  geteuid() == 0 ? "/var/lib/kvdownloader/registry/HKLM.db"
                                 : "/home/someone/.local/share/kvdownloader/registry/HKLM.db");
    }
    kvtest::TempDir first, second;
    std::filesystem::path nested = first.path() / "made" / "on" / "demand";
    {
        ScopedEnv dir("KV_REGISTRY_DIR", nested.c_str());
        EXPECT_EQ(platform::hiveFile(Hive::LocalMachine), nested / "HKLM.db");
        ASSERT_TRUE(RegKey::create(Hive::LocalMachine, "Software\\Here"));
        EXPECT_TRUE(std::filesystem::exists(nested / "HKLM.db"));
    }
    {
        ScopedEnv dir("KV_REGISTRY_DIR", second.path().c_str());
        EXPECT_FALSE(RegKey::open(Hive::LocalMachine, "Software\\Here"));
    }
    ScopedEnv dir("KV_REGISTRY_DIR", nested.c_str());
    EXPECT_TRUE(RegKey::open(Hive::LocalMachine, "Software\\Here"));
}

TEST_F(RegistryTest, KeysAreCreatedWithParentsAndFoundWithoutCase) {
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, "Software\\Vendor"));
    ASSERT_TRUE(RegKey::create(Hive::LocalMachine, "Software\\Vendor\\Product\\Sub"));
    for (const char* parent : {"Software", "SOFTWARE\\vendor", "software/VENDOR/product", ""}) {
        EXPECT_TRUE(RegKey::open(Hive::LocalMachine, parent)) << parent;
    }
    auto mixed = RegKey::create(Hive::LocalMachine, "SOFTWARE\\VENDOR\\Other");
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->path(), "Software\\Vendor\\Other");  // case of the first creation kept
    EXPECT_EQ(RegKey::open(Hive::LocalMachine, "software\\vendor")->subkeyNames(),
              (std::vector<std::string>{"Other", "Product"}));
    // ASCII-only folding: these are two keys.
    ASSERT_TRUE(RegKey::create(Hive::LocalMachine, "Software\\Ä"));
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, "Software\\ä"));
    // A missing key is not created by looking for it, and hives are separate.
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, "Software\\Vendor\\Missing"));
    EXPECT_EQ(RegKey::open(Hive::LocalMachine, "Software\\Vendor")->subkeyNames().size(), 2u);
    EXPECT_FALSE(RegKey::open(Hive::CurrentUser, "Software\\Vendor"));
}

TEST_F(RegistryTest, ValuesRoundTripExactly) {
    auto key = RegKey::create(Hive::CurrentUser, "Software\\Values");
    ASSERT_TRUE(key);
    std::string binary;
    for (int i = 0; i < 100 * 1024; ++i)
        binary.push_back(static_cast<char>(i % 256));
    const std::pair<std::string, std::string> strings[] = {
        {"", "the default value"},  {"Empty", ""},
        {"Long", binary},           {"Unicode ключ", "Привет, 世界 🎉\n\ttab"},
        {"Spaces  ", "  padded  "},
    };
    for (const auto& [name, data] : strings)
        ASSERT_TRUE(key->setString(name, data)) << name;
    const std::vector<std::string> lists[] = {
        {}, {""}, {"", ""}, {"a", "", "b"}, {"a", ""}, {"", "a"}, {"ünï", std::string(100000, 'm')},
    };
    for (size_t i = 0; i < std::size(lists); ++i) {
        ASSERT_TRUE(key->setMultiString("List" + std::to_string(i), lists[i]));
    }
    for (const auto& [name, data] : strings)
        EXPECT_EQ(key->getString(name), data) << name;
    for (size_t i = 0; i < std::size(lists); ++i) {
        auto value = key->queryValue("list" + std::to_string(i));
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, RegType::MultiString);
        EXPECT_EQ(value->strings, lists[i]) << i;
        EXPECT_FALSE(key->getString("List" + std::to_string(i)));  // REG_SZ only
    }
    EXPECT_FALSE(key->setMultiString("Bad", {std::string("a\0b", 3)}));
    EXPECT_FALSE(key->queryValue("Bad"));
    EXPECT_FALSE(key->setString(std::string("nul\0name", 8), "x"));
}

TEST_F(RegistryTest, ValueNamesIgnoreCaseAndKeepTheirPlace) {
    auto key = RegKey::create(Hive::LocalMachine, "Software\\Order");
    ASSERT_TRUE(key);
    for (const char* name : {"First", "Second", "Third"})
        ASSERT_TRUE(key->setString(name, name));
    ASSERT_TRUE(key->setMultiString("FIRST", {"now", "a list"}));  // same value, new type
    EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"First", "Second", "Third"}));
    EXPECT_EQ(key->queryValue("first")->strings, (std::vector<std::string>{"now", "a list"}));
    EXPECT_TRUE(key->deleteValue("sEcOnD"));
    EXPECT_FALSE(key->deleteValue("Second"));
    EXPECT_FALSE(key->queryValue("Second"));
    EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"First", "Third"}));
}

TEST_F(RegistryTest, DeleteKeyTreeRemovesEverythingBelow) {
    auto top = RegKey::create(Hive::LocalMachine, "Software\\Tree");
    auto leaf = RegKey::create(Hive::LocalMachine, "Software\\Tree\\A\\B");
    auto sibling = RegKey::create(Hive::LocalMachine, "Software\\TreeSibling");
    ASSERT_TRUE(top && leaf && sibling);
    ASSERT_TRUE(leaf->setString("v", "1") && top->setString("v", "2") &&
                sibling->setString("v", "3"));

    EXPECT_TRUE(platform::deleteKeyTree(Hive::LocalMachine, "software/tree"));
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, "Software\\Tree"));
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, "Software\\Tree\\A\\B"));
    EXPECT_EQ(sibling->getString("v"), "3");
    // A handle to a deleted key fails instead of bringing the key back.
    EXPECT_FALSE(leaf->setString("v", "again"));
    EXPECT_FALSE(leaf->getString("v"));
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, "Software\\Tree"));
    // A key made again at the same place starts empty.
    auto again = RegKey::create(Hive::LocalMachine, "Software\\Tree\\A\\B");
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->valueNames().empty());

    EXPECT_FALSE(platform::deleteKeyTree(Hive::LocalMachine, "Software\\Missing"));
    EXPECT_FALSE(platform::deleteKeyTree(Hive::LocalMachine, "\\"));
    EXPECT_TRUE(RegKey::open(Hive::LocalMachine, "Software\\TreeSibling"));
}

// The stored format is read by other versions of this program: pin it.
TEST_F(RegistryTest, StorageFormatIsStable) {
    auto key = RegKey::create(Hive::LocalMachine, "Software\\Format");
    ASSERT_TRUE(key && key->setMultiString("Pending", {"a", "", "b"}) && key->setString("S", "x"));
    auto file = platform::hiveFile(Hive::LocalMachine);
    EXPECT_EQ(sqlScalar(file, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(sqlScalar(file, "PRAGMA user_version"), "1");
    EXPECT_EQ(sqlScalar(file, "SELECT type FROM vals WHERE name = 'Pending'"), "7");
    EXPECT_EQ(sqlScalar(file, "SELECT data FROM vals WHERE name = 'Pending'"),
              std::string("a\0\0b\0", 5));
    EXPECT_EQ(sqlScalar(file, "SELECT type || ':' || typeof(data) FROM vals WHERE name = 'S'"),
              "1:blob");
}

TEST_F(RegistryTest, DamagedStoresFailCleanly) {
    auto file = platform::hiveFile(Hive::LocalMachine);
    auto good = RegKey::create(Hive::CurrentUser, "Software\\Fine");
    ASSERT_TRUE(good && good->setString("v", "ok"));

    kvtest::writeFile(file, std::string(8192, 'G'));  // not a database
    EXPECT_FALSE(RegKey::create(Hive::LocalMachine, "Software\\X"));
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, ""));
    EXPECT_FALSE(platform::deleteKeyTree(Hive::LocalMachine, "Software"));
    EXPECT_EQ(good->getString("v"), "ok");  // the other hive is untouched

    removeHive(file);
    ASSERT_TRUE(RegKey::create(Hive::LocalMachine, "Software\\Big"));
    auto big = RegKey::open(Hive::LocalMachine, "Software\\Big");
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(big->setString("v" + std::to_string(i), std::string(5000, 'z')));
    ASSERT_EQ(sqlScalar(file, "PRAGMA wal_checkpoint(TRUNCATE)"), "0");
    std::string bytes = kvtest::readFile(file);
    ASSERT_GT(bytes.size(), 8192u);
    for (size_t i = 4096; i < bytes.size(); i += 7)
        bytes[i] = '\x5A';  // pages scrambled
    kvtest::writeFile(file, bytes);
    EXPECT_FALSE(big->getString("v3"));
    EXPECT_TRUE(big->valueNames().empty());
    EXPECT_FALSE(big->setString("new", "x"));

    sqlite3* db = nullptr;
    removeHive(file);
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);  // a newer format
    sqlite3_close(db);
    EXPECT_FALSE(RegKey::create(Hive::LocalMachine, "Software"));

    removeHive(file);
    std::filesystem::create_directory(file);  // a folder where the file belongs
    EXPECT_FALSE(RegKey::create(Hive::LocalMachine, "Software"));

    ScopedEnv dir("KV_REGISTRY_DIR", (file / "nested").c_str());  // folder cannot be made
    kvtest::writeFile(file / "nested", "a file");
    EXPECT_FALSE(RegKey::create(Hive::LocalMachine, "Software"));
}

// A store deleted or replaced while this thread has it open: later calls see the new file
// instead of the old one they had open.
TEST_F(RegistryTest, ReplacedStoreIsNoticed) {
    auto file = platform::hiveFile(Hive::LocalMachine);
    ASSERT_TRUE(RegKey::create(Hive::LocalMachine, "Software\\Gone")->setString("v", "old"));
    removeHive(file);
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, "Software\\Gone"));
    ASSERT_TRUE(RegKey::create(Hive::LocalMachine, "Software\\New")->setString("v", "mine"));
    std::thread other([] {  // a thread of its own opens the file afresh
        auto key = RegKey::open(Hive::LocalMachine, "Software\\New");
        EXPECT_TRUE(key && key->getString("v") == "mine");
        EXPECT_TRUE(key && key->setString("v", "theirs"));
    });
    other.join();
    EXPECT_EQ(RegKey::open(Hive::LocalMachine, "Software\\New")->getString("v"), "theirs");
}

// Writers in many threads, plus readers that must never see a value half-replaced.
TEST_F(RegistryTest, ConcurrentThreadsLoseNothing) {
    constexpr int kThreads = 4, kValues = 100;
    const std::string big(20000, 'a');
    ASSERT_TRUE(RegKey::create(Hive::LocalMachine, "Shared")->setString("Big", big));
    std::atomic<int> failures{0}, torn{0};
    std::atomic<bool> writing{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kValues; ++i) {
                auto key = RegKey::create(Hive::LocalMachine, "shared\\Deep\\Er");
                std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
                if (!key || !key->setString(name, name + "-data") ||
                    !RegKey::create(Hive::LocalMachine, "Shared")
                         ->setString("Big", std::string(big.size(), char('a' + (i + t) % 26)))) {
                    ++failures;
                }
            }
        });
    }
    std::thread reader([&] {
        auto key = RegKey::open(Hive::LocalMachine, "Shared");
        for (int i = 0; i < 2000 && writing; ++i) {
            auto value = key->getString("Big");
            if (!value || value->size() != big.size() ||
                value->find_first_not_of((*value)[0]) != std::string::npos) {
                ++torn;
            }
        }
    });
    for (auto& thread : threads)
        thread.join();
    writing = false;
    reader.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(torn, 0);
    auto key = RegKey::open(Hive::LocalMachine, "Shared\\Deep\\Er");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->valueNames().size(), size_t(kThreads * kValues));
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(key->getString("t" + std::to_string(t) + "-77"),
                  "t" + std::to_string(t) + "-77-data");
    }
}

KV_TEST_CHILD(registry_writer) {
    const std::string& tag = args.at(0);
    int count = std::stoi(args.at(1));
    for (int i = 0; i < count; ++i) {
        auto key = RegKey::create(Hive::CurrentUser, "Software\\Race");
        std::string name = tag + "-" + std::to_string(i);
        if (!key || !key->setString(name, std::string(size_t(i % 50) * 10, 'v') + name) ||
            !key->setMultiString("Shared", {tag, std::to_string(i), ""})) {
            return 1;
        }
    }
    return 0;
}

// Two processes start on a store that does not exist yet, so they also race to create it.
TEST_F(RegistryTest, ConcurrentProcessesLoseNothing) {
    constexpr int kValues = 300;
    pid_t first = kvtest::spawnChild("registry_writer", {"one", std::to_string(kValues)});
    pid_t second = kvtest::spawnChild("registry_writer", {"two", std::to_string(kValues)});
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    EXPECT_EQ(kvtest::waitChild(first, 60000), 0);
    EXPECT_EQ(kvtest::waitChild(second, 60000), 0);
    auto key = RegKey::open(Hive::CurrentUser, "Software\\Race");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->valueNames().size(), size_t(2 * kValues + 1));
    for (const char* tag : {"one", "two"}) {
        for (int i = 0; i < kValues; i += 37) {
            std::string name = std::string(tag) + "-" + std::to_string(i);
            EXPECT_EQ(key->getString(name), std::string(size_t(i % 50) * 10, 'v') + name);
        }
    }
    auto shared = key->queryValue("Shared");
    ASSERT_TRUE(shared);
    auto last = std::to_string(kValues - 1);
    EXPECT_TRUE(shared->strings == (std::vector<std::string>{"one", last, ""}) ||
                shared->strings == (std::vector<std::string>{"two", last, ""}));
}

}  // namespace
