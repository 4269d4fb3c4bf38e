#pragma once
// Shared by the places that spawn children: what a child must not inherit from this process.

#include <signal.h>
#include <spawn.h>

namespace platform::detail {

// This process may ignore SIGPIPE or block signals for its threads; the child starts with
// default handling and an empty mask. 0 or an errno value.
inline int resetChildSignals(posix_spawnattr_t* attributes) {
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    int rc = posix_spawnattr_setsigmask(attributes, &none);
    if (rc == 0)
        rc = posix_spawnattr_setsigdefault(attributes, &all);
    if (rc == 0)
        rc = posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    return rc;
}

}  // namespace platform::detail
