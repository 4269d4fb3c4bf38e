#pragma once
// The outcome of a timed wait on a synchronisation object or a process, shared by Sync.h and
// Process.h. Time-outs are in milliseconds; kInfinite waits without limit.

#include <cstdint>

namespace platform {

enum class WaitResult {
    Signaled,   // the object was signalled (event set, mutex acquired, process ended)
    Abandoned,  // a mutex was acquired, but its previous owner ended without unlocking it
    Timeout,    // the time-out passed first; nothing was acquired
    Failed,     // the wait itself failed (the reason is logged)
};

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;

}  // namespace platform
