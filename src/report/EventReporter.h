#pragma once
// The process-wide usage-event reporter. Any thread reports through
//
//     EventReporter::instance().report("Other", "SyncGetCbsTime", "2", false);
//
// For now the reporter only keeps the events, in the order reported, in memory: nothing leaves
// the machine yet. The sending side (queue, send thread, analytics hits) replaces the body of
// report() without changing its signature, so every caller written today stays as it is.

#include <mutex>
#include <string>
#include <vector>

struct ReportedEvent {
    std::string category;
    std::string action;
    std::string label;
    bool sendNow = false;

    bool operator==(const ReportedEvent&) const = default;
};

class EventReporter {
public:
    // Constructed on first use; lives until the process ends. Thread-safe.
    static EventReporter& instance();

    // Copies the three texts; `sendNow` asks for a synchronous send on the caller's thread
    // (used right before the program exits).
    void report(const std::string& category, const std::string& action, const std::string& label,
                bool sendNow = false);

    // What was reported so far, oldest first; for tests and diagnostics.
    std::vector<ReportedEvent> events() const;
    void clearEvents();

private:
    EventReporter() = default;

    mutable std::mutex m_mutex;
    std::vector<ReportedEvent> m_events;
};
