#include "FuntionImplFirewall.h"

#include <cstdio>
#include <optional>

#include "Logging.h"
#include "platform/Firewall.h"

namespace FuntionImpl {
namespace {

// The firewall's lines are console notes: a terminal user of a quiet run has no use for them.
void printCode(const char* what, uint32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lx", static_cast<unsigned long>(code));
    kvlog::consoleNote(std::string(what) + " failed: " + hex);
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
    kvlog::consoleNote("Authorized application " + path + " is " +
                       (enabled ? "enabled" : "disabled") + " in the firewall.");
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
    kvlog::consoleNote("Authorized application " + path + " is now enabled in the firewall.");
}

}  // namespace

int AddFirewallException(const std::string& exePath) {
    uint32_t code = platform::kFwOk;
    std::optional<platform::FirewallProfile> profile = platform::FirewallProfile::current(&code);
    if (!profile) {
        printCode("get_CurrentProfile", code);
        printCode("WindowsFirewallInitialize", code);
        return -1;
    }
    std::optional<bool> enabled = appIsEnabled(*profile, exePath);
    if (!enabled) {
        printCode("WindowsFirewallAppIsEnabled", platform::kFwFail);
    } else if (!*enabled) {
        addApp(*profile, exePath);
    }
    return 0;
}

}  // namespace FuntionImpl
