#pragma once
// Stopping a system service, in place of the service control manager's SERVICE_CONTROL_STOP:
// the unit is stopped through systemd's `systemctl`, and the call waits, bounded, until it has
// stopped.
//
// The program run is $KV_SYSTEMCTL when set and not empty (tests point it at a script), else
// `systemctl` on PATH. It is run directly (no shell), never asks for a password, and its
// standard output is read by this process; its standard error goes where this process's does.
//
// Threads: any thread may call stopService; it reads $KV_SYSTEMCTL and $PATH, which must not
// race a setenv/unsetenv on another thread. It blocks the caller for at most about
// `timeoutMs` plus one poll interval.

#include <cstdint>
#include <string_view>

namespace platform {

// How a unit stands, from the text `systemctl is-active` prints.
enum class ServiceState {
    Active,    // "active", "reloading", "activating", "refreshing"
    Stopping,  // "deactivating"
    Stopped,   // "inactive", "failed"
    Unknown,   // anything else, including nothing
};

// Pure: the first line of `output`, surrounding blanks ignored.
ServiceState parseServiceState(std::string_view output);

// A name systemctl takes as one unit and never as an option: 1 to 256 characters from
// [A-Za-z0-9:_.@\-], not starting with "-". Pure.
bool isValidUnitName(std::string_view name);

// Asks systemd to stop unit `name` ("KestrovaWinAdService" is taken as
// "KestrovaWinAdService.service") with `systemctl stop --no-block`, then polls
// `systemctl is-active` until the unit is inactive or failed. True once it is stopped (also
// when it was not running). False (reason logged) for an invalid name, a missing or
// unstartable systemctl, a refused stop (unknown unit, no permission), or a unit still not
// stopped after `timeoutMs`.
bool stopService(std::string_view name, uint32_t timeoutMs);

}  // namespace platform
