#include "platform/Firewall.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Registry.h"
#include "test_support.h"

namespace {

using kvtest::ScopedEnv;

using platform::AuthorizedApplication;
using platform::FirewallIpVersion;
using platform::FirewallProfile;
using platform::FirewallScope;
using platform::Hive;
using platform::RegKey;

class FirewallTest : public testing::Test {
protected:
    platform::AuthorizedApplications apps() {
        uint32_t code = 1;
        auto profile = FirewallProfile::current(&code);
        EXPECT_EQ(code, platform::kFwOk);
        auto list = profile->authorizedApplications(&code);
        EXPECT_EQ(code, platform::kFwOk);
        return *list;
    }
    static std::string entryKey(const std::string& path) {
        return std::string(platform::kAuthorizedApplicationsKey) + "\\" +
               platform::authorizedApplicationKey(path);
    }

    kvtest::TempDir m_dir;
    ScopedEnv m_env{"KV_REGISTRY_DIR", m_dir.path().c_str()};
};

TEST(FirewallPaths, NormalisedImageFileNames) {
    struct Case {
        std::string path;
        std::optional<std::string> normalised;
    };
    const Case cases[] = {
        {"/opt/kestrova/kvdownloader", "/opt/kestrova/kvdownloader"},
        {"/opt//kestrova/./bin/../kvdownloader", "/opt/kestrova/kvdownloader"},
        {"/home/u/My Apps/setup;1.bin", "/home/u/My Apps/setup;1.bin"},
        {"", std::nullopt},
        {"kvdownloader", std::nullopt},
        {std::string("/opt/a\0b", 8), std::nullopt},
        {"/opt/\xC3(", std::nullopt},
        {"/opt/\xED\xA0\x80", std::nullopt},  // an encoded surrogate
        {"/opt/\xC0\xAF", std::nullopt},      // an over-long "/"
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::normaliseImageFileName(c.path), c.normalised) << c.path;
}

TEST(FirewallPaths, EntryKeysAreTheSha256OfThePath) {
    // Pinned: the key names are the stored format of the list.
    EXPECT_EQ(platform::authorizedApplicationKey("/opt/kestrova/kvdownloader"),
              "75337cb05194d67008bb1f9a0801484199f73fda2b8982d8e2cf396dd3c683bd");
}

TEST_F(FirewallTest, AddedEntriesAreStoredAndFound) {
    AuthorizedApplication app{"Kestrova_steup1.0.0.1", "/opt/kestrova/kvdownloader",
                              FirewallScope::All, FirewallIpVersion::Any, true};
    auto list = apps();
    EXPECT_EQ(list.add(app), platform::kFwOk);

    // The stored format, with Enabled written last.
    auto key = RegKey::open(Hive::LocalMachine, entryKey(app.processImageFileName));
    ASSERT_TRUE(key);
    std::vector<std::pair<std::string, std::string>> values;
    for (const auto& name : key->valueNames())
        values.emplace_back(name, key->getString(name).value_or("?"));
    EXPECT_EQ(values, (std::vector<std::pair<std::string, std::string>>{
                          {"Name", "Kestrova_steup1.0.0.1"},
                          {"ProcessImageFileName", "/opt/kestrova/kvdownloader"},
                          {"Scope", "0"},
                          {"IpVersion", "2"},
                          {"Enabled", "1"}}));

    uint32_t code = 1;
    EXPECT_EQ(list.item("/opt/kestrova/./kvdownloader", &code), app);
    EXPECT_EQ(code, platform::kFwOk);
}

TEST_F(FirewallTest, MissingBadAndDamagedEntries) {
    auto list = apps();
    uint32_t code = 0;
    EXPECT_FALSE(list.item("/opt/none", &code));
    EXPECT_EQ(code, platform::kFwNotFound);
    EXPECT_FALSE(list.item("relative/app", &code));
    EXPECT_EQ(code, platform::kFwInvalidArg);
    EXPECT_EQ(list.add({"x", "relative/app", FirewallScope::All, FirewallIpVersion::Any, true}),
              platform::kFwInvalidArg);

    // An entry whose image path does not match its key is not trusted.
    auto forged = RegKey::create(Hive::LocalMachine, entryKey("/opt/victim"));
    ASSERT_TRUE(forged);
    forged->setString("ProcessImageFileName", "/opt/other");
    forged->setString("Enabled", "1");
    EXPECT_FALSE(list.item("/opt/victim", &code));
    EXPECT_EQ(code, platform::kFwNotFound);

    // Only "1" enables; unreadable codes fall back to all networks, any version.
    auto odd = RegKey::create(Hive::LocalMachine, entryKey("/opt/odd"));
    ASSERT_TRUE(odd);
    odd->setString("ProcessImageFileName", "/opt/odd");
    odd->setString("Enabled", "yes");
    odd->setString("Scope", "7");
    auto found = list.item("/opt/odd", &code);
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->enabled);
    EXPECT_EQ(found->scope, FirewallScope::All);
    EXPECT_EQ(found->ipVersion, FirewallIpVersion::Any);
    EXPECT_EQ(list.list().size(), 1u);  // the forged entry is left out

    EXPECT_EQ(list.remove("/opt/odd"), platform::kFwOk);
    EXPECT_TRUE(list.list().empty());
}

}  // namespace
