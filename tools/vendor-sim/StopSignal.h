#pragma once
// The sim's shutdown flag, with a wait that ends early when it is raised, so that no handler
// keeps the process alive after SIGTERM.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vsim {

class StopSignal {
public:
    void raise() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_raised = true;
        }
        m_changed.notify_all();
    }

    bool raised() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_raised;
    }

    // Waits up to `ms` milliseconds; returns false when the signal was raised before the end.
    bool sleepFor(int ms) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return !m_changed.wait_for(lock, std::chrono::milliseconds(ms),
                                   [this] { return m_raised; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_raised = false;
};

}  // namespace vsim
