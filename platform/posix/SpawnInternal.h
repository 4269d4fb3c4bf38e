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

// The file actions and attributes of one spawn, released at the end of the scope. Callers add
// what their child needs to actions() and attributes().
class SpawnPlan {
public:
    SpawnPlan() {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawnattr_init(&m_attributes);
    }
    ~SpawnPlan() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    SpawnPlan(const SpawnPlan&) = delete;
    SpawnPlan& operator=(const SpawnPlan&) = delete;

    posix_spawn_file_actions_t* actions() { return &m_actions; }
    posix_spawnattr_t* attributes() { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

}  // namespace platform::detail
