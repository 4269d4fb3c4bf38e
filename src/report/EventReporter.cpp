#include "report/EventReporter.h"

EventReporter& EventReporter::instance() {
    static EventReporter reporter;
    return reporter;
}

void EventReporter::report(const std::string& category, const std::string& action,
                           const std::string& label, bool sendNow) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(ReportedEvent{category, action, label, sendNow});
}

std::vector<ReportedEvent> EventReporter::events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

void EventReporter::clearEvents() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.clear();
}
