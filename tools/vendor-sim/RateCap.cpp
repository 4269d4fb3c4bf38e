#include "RateCap.h"

#include <algorithm>

namespace vsim {

uint64_t RateCap::pieceBytes() const {
    // About twenty pieces a second keep the rate steady over any one second, and 16 KiB at
    // most keeps a slow cap fair between parallel bodies.
    return std::clamp<uint64_t>(m_bytesPerSecond / 20, 1, 16 * 1024);
}

bool RateCap::take(uint64_t bytes, int maxWaitMs, const StopSignal& stop) {
    Clock::time_point start;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Clock::time_point now = Clock::now();
        // An idle line saves up no allowance: a burst after a pause is still capped.
        start = std::max(now, m_nextFree);
        if (start - now > std::chrono::milliseconds(maxWaitMs))
            return false;
        m_nextFree = start + std::chrono::microseconds(
                                 static_cast<int64_t>(static_cast<long double>(bytes) * 1e6L /
                                                      static_cast<long double>(m_bytesPerSecond)));
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(start - Clock::now());
    return wait.count() <= 0 || stop.sleepFor(static_cast<int>(wait.count()));
}

}  // namespace vsim
