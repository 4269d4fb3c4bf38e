#pragma once
// Network state of the machine (the part the download watchdog needs).

namespace platform {

// True when an interface other than loopback is up and running, as a connectivity check
// that sends no packet.
bool isNetworkAlive();

}  // namespace platform
