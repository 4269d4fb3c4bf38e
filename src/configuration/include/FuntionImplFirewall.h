#pragma once
// Authorising the installer's own executable in the firewall, so that its downloads are not
// blocked. Any thread may call it; it prints diagnostic lines on standard output (a GUI
// process discards them) and flushes them before it returns.

#include <string>
#include <string_view>

namespace FuntionImpl {

// The name every entry this program adds carries.
inline constexpr std::string_view kFirewallRuleName = "Kestrova_steup1.0.0.1";

// Authorises `exePath` (the program's own module path at start-up): an application already
// listed and enabled is left exactly as it is; otherwise an enabled entry for all networks
// and any IP version, named kFirewallRuleName, is added (replacing a disabled one). 0 when
// the firewall's store could be reached, whatever the outcome of the authorisation; -1
// otherwise.
int AddFirewallException(const std::string& exePath);

}  // namespace FuntionImpl
