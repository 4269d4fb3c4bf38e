#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <sstream>

#include "FuntionImplFirewall.h"
#include "platform/Firewall.h"
#include "test_support.h"

namespace {

using kvtest::ScopedEnv;

using platform::AuthorizedApplication;
using platform::FirewallIpVersion;
using platform::FirewallScope;

struct Captured {
    int result = 0;
    std::string output;  // standard output without program-log lines
};

// Runs `call` with file descriptor 1 pointing at a file, so what the code prints through
// stdio is caught exactly.
Captured captureStdout(const std::function<int()>& call, const std::filesystem::path& file) {
    std::fflush(stdout);
    std::cout.flush();
    int saved = dup(1);
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, 1);
    close(fd);
    Captured captured;
    captured.result = call();
    std::fflush(stdout);
    std::cout.flush();
    dup2(saved, 1);
    close(saved);
    std::istringstream lines(kvtest::readFile(file));
    for (std::string line; std::getline(lines, line);) {
        if (line.find("--[Thread](") == std::string::npos)
            captured.output += line + "\n";
    }
    return captured;
}

class AddFirewallExceptionTest : public testing::Test {
protected:
    Captured run(const std::string& path) {
        return captureStdout([&] { return FuntionImpl::AddFirewallException(path); },
                             m_dir.path() / "stdout");
    }
    std::vector<AuthorizedApplication> listed() {
        uint32_t code = 0;
        return platform::FirewallProfile::current(&code)->authorizedApplications(&code)->list();
    }
    void preset(const AuthorizedApplication& app) {
        uint32_t code = 0;
        auto apps = platform::FirewallProfile::current(&code)->authorizedApplications(&code);
        ASSERT_EQ(apps->add(app), platform::kFwOk);
    }
    static std::string line(const std::string& path, const char* state) {
        return "Authorized application " + path + " is " + state + " in the firewall.\n";
    }

    kvtest::TempDir m_dir;
    ScopedEnv m_env{"KV_REGISTRY_DIR", (m_dir.path() / "registry").c_str()};
    const std::string m_exe = "/opt/kestrova/Kv Downloader 100%s;x/kvdownloader";
};

TEST_F(AddFirewallExceptionTest, ANewApplicationIsAddedEnabled) {
    Captured first = run(m_exe);
    EXPECT_EQ(first.result, 0);
    EXPECT_EQ(first.output, line(m_exe, "disabled") + line(m_exe, "now enabled"));
    AuthorizedApplication expected{"Kestrova_steup1.0.0.1", m_exe, FirewallScope::All,
                                   FirewallIpVersion::Any, true};
    EXPECT_EQ(listed(), std::vector<AuthorizedApplication>{expected});

    // A second start finds it enabled and adds nothing.
    Captured second = run(m_exe);
    EXPECT_EQ(second.result, 0);
    EXPECT_EQ(second.output, line(m_exe, "enabled"));
    EXPECT_EQ(listed(), std::vector<AuthorizedApplication>{expected});
}

TEST_F(AddFirewallExceptionTest, AnEnabledApplicationIsLeftAsItIs) {
    AuthorizedApplication mine{"Set up by the administrator", m_exe, FirewallScope::LocalSubnet,
                               FirewallIpVersion::V4, true};
    preset(mine);
    Captured c = run(m_exe);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, line(m_exe, "enabled"));
    EXPECT_EQ(listed(), std::vector<AuthorizedApplication>{mine});
}

TEST_F(AddFirewallExceptionTest, ADisabledApplicationIsReplacedByAnEnabledEntry) {
    preset({"Blocked by the user", m_exe, FirewallScope::Custom, FirewallIpVersion::V6, false});
    Captured c = run(m_exe);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.output, line(m_exe, "disabled") + line(m_exe, "now enabled"));
    AuthorizedApplication expected{"Kestrova_steup1.0.0.1", m_exe, FirewallScope::All,
                                   FirewallIpVersion::Any, true};
    EXPECT_EQ(listed(), std::vector<AuthorizedApplication>{expected});
}

TEST_F(AddFirewallExceptionTest, APathThatCannotBeAnImageIsRefused) {
    for (const char* bad : {"", "kvdownloader", "relative/kvdownloader"}) {
        Captured c = run(bad);
        EXPECT_EQ(c.result, 0) << bad;
        EXPECT_EQ(c.output, line(bad, "disabled") + "put_ProcessImageFileName failed: 0x80070057\n")
            << bad;
    }
    EXPECT_TRUE(listed().empty());
}

TEST_F(AddFirewallExceptionTest, AnUnreachableStoreGivesMinusOne) {
    kvtest::writeFile(m_dir.path() / "file", "x");
    ScopedEnv blocked("KV_REGISTRY_DIR", (m_dir.path() / "file").c_str());
    Captured c = run(m_exe);
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.output,
              "get_CurrentProfile failed: 0x80004005\n"
              "WindowsFirewallInitialize failed: 0x80004005\n");
}

}  // namespace
