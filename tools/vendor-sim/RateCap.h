#pragma once
// One download speed shared by every file body the sim sends, whatever the number of parallel
// connections, so a client sees the bandwidth of a slow line rather than of one slow socket.
// Any listener thread may call take(); the cap lives as long as the services that use it.

#include <chrono>
#include <cstdint>
#include <mutex>

#include "StopSignal.h"

namespace vsim {

class RateCap {
public:
    using Clock = std::chrono::steady_clock;

    explicit RateCap(uint64_t bytesPerSecond) : m_bytesPerSecond(bytesPerSecond) {}

    uint64_t bytesPerSecond() const { return m_bytesPerSecond; }

    // The largest piece one call should take, so bodies sharing the cap take turns often.
    uint64_t pieceBytes() const;

    // Waits until `bytes` more bytes fit under the cap. False when the wait would exceed
    // `maxWaitMs` or `stop` was raised meanwhile: the caller drops its connection.
    bool take(uint64_t bytes, int maxWaitMs, const StopSignal& stop);

private:
    const uint64_t m_bytesPerSecond;
    std::mutex m_mutex;
    Clock::time_point m_nextFree{};  // when the line is free for the next byte
};

}  // namespace vsim
