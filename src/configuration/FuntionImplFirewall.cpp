#include "FuntionImplFirewall.h"

#include <cstdio>
#include <optional>

#include "platform/Firewall.h"

namespace FuntionImpl {
namespace {

void printCode(const char* what, uint32_t code) {
    std::printf("%s failed: 0x%08lx\n", what, static_cast<unsigned long>(code));
}

// Whether `path` is listed and enabled; nullopt when the collection itself failed (the
// failure is printed).
std::optional<bool> appIsEnabled(const platform::FirewallProfile& profile,
                                 const std::string& path) {
    uint32_t code = platform::kFwOk;
    std::optional<platform::AuthorizedApplications> apps = profile.authorizedApplications(&code);
    if (!apps) {
        printCode("get_AuthorizedApplications", code);
        return std::nullopt;
    }
    // Any failure to find the entry counts as "not enabled".
    std::optional<platform::AuthorizedApplication> app = apps->item(path, &code);
    bool enabled = app && app->enabled;
    std::printf("Authorized application %s is %s in the firewall.\n", path.c_str(),
                enabled ? "enabled" : "disabled");
    return enabled;
}

void addApp(const platform::FirewallProfile& profile, const std::string& path) {
    uint32_t code = platform::kFwOk;
    std::optional<platform::AuthorizedApplications> apps = profile.authorizedApplications(&code);
    if (!apps) {
        printCode("get_AuthorizedApplications", code);
        return;
    }
    if (!platform::normaliseImageFileName(path)) {
        printCode("put_ProcessImageFileName", platform::kFwInvalidArg);
        return;
    }
    platform::AuthorizedApplication app;
    app.processImageFileName = path;
    app.scope = platform::FirewallScope::All;
    app.ipVersion = platform::FirewallIpVersion::Any;
    app.enabled = true;
    app.name = std::string(kFirewallRuleName);
    code = apps->add(app);
    if (code != platform::kFwOk) {
        printCode("Add", code);
        return;
    }
    std::printf("Authorized application %s is now enabled in the firewall.\n", path.c_str());
}

}  // namespace

int AddFirewallException(const std::string& exePath) {
    uint32_t code = platform::kFwOk;
    std::optional<platform::FirewallProfile> profile = platform::FirewallProfile::current(&code);
    if (!profile) {
        printCode("get_CurrentProfile", code);
        printCode("WindowsFirewallInitialize", code);
        std::fflush(stdout);
        return -1;
    }
    std::optional<bool> enabled = appIsEnabled(*profile, exePath);
    if (!enabled) {
        printCode("WindowsFirewallAppIsEnabled", platform::kFwFail);
    } else if (!*enabled) {
        addApp(*profile, exePath);
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace FuntionImpl
