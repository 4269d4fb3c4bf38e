#include "report/EventReporter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <tuple>

#include "Logging.h"
#include "platform/Process.h"
#include "report/IWebLog.h"

namespace {

constexpr int kIdentityAttempts = 3;

std::mutex& presetMutex() {
    static std::mutex mutex;
    return mutex;
}
// Guarded by presetMutex(). Leaked with the reporter: both live to the very end.
std::function<EventReporter::Settings()>* g_preset = nullptr;
bool g_instanceMade = false;

void shutDownInstance() {
    EventReporter::instance().shutdown();
}

// snprintf into a buffer of `size` bytes; nullopt when the text does not fit.
template <typename... Args>
std::optional<std::string> formatBounded(size_t size, const char* format, Args... args) {
    std::string text(size, '\0');
    const int n = std::snprintf(text.data(), size, format, args...);
    if (n < 0 || static_cast<size_t>(n) >= size)
        return std::nullopt;
    text.resize(static_cast<size_t>(n));
    return text;
}

}  // namespace

EventReporter::Settings EventReporter::recordOnly() {
    Settings settings;
    settings.sending = false;
    return settings;
}

bool EventReporter::setUpInstance(const Settings& settings) {
    return setUpInstance([settings] { return settings; });
}

bool EventReporter::setUpInstance(std::function<Settings()> makeSettings) {
    std::lock_guard<std::mutex> lock(presetMutex());
    if (g_instanceMade)
        return false;
    if (!g_preset)
        g_preset = new std::function<Settings()>();
    *g_preset = std::move(makeSettings);
    return true;
}

EventReporter& EventReporter::instance() {
    static EventReporter* reporter = [] {
        std::function<Settings()> makeSettings;
        {
            std::lock_guard<std::mutex> lock(presetMutex());
            g_instanceMade = true;
            if (g_preset)
                makeSettings = *g_preset;
        }
        auto* made = new EventReporter(makeSettings ? makeSettings() : Settings());
        std::atexit(shutDownInstance);
        return made;
    }();
    return *reporter;
}

EventReporter::EventReporter(Settings settings) : m_settings(std::move(settings)) {
    std::tie(m_language, m_country) = splitLocale(m_settings.localeText);
    if (!m_settings.sending)
        return;

    m_library = CreateExportObj();
    m_lock = platform::NamedEvent::create(m_settings.lockName, false, true);
    try {
        m_sender = std::thread(&EventReporter::sendLoop, this);
    } catch (const std::system_error& e) {
        LOG(INFO) << " Event reporter: no send thread: " << e.what();
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_senderDone = true;
    }
}

EventReporter::~EventReporter() {
    shutdown();
}

void EventReporter::shutdown() {
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_shutDown)
            return;
        m_shutDown = true;
        m_stopping = true;
    }
    m_stateChanged.notify_all();

    std::unique_lock<std::mutex> lock(m_stateMutex);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_settings.shutdownGraceMs);
    bool cancelled = false;
    while ((m_sender.joinable() && !m_senderDone) || m_sendsNow > 0) {
        // Only the send thread's own send is cut short; an at-once send runs to its end.
        if (!cancelled && m_sendsNow == 0 && std::chrono::steady_clock::now() >= deadline) {
            cancelled = true;
            CancelExportObj(m_library);
        }
        m_stateChanged.wait_for(lock, std::chrono::milliseconds(20));
    }
    IWebLog* library = m_library;
    m_library = nullptr;
    lock.unlock();
    if (m_sender.joinable())
        m_sender.join();
    DestroyExportObj(library);
}

void EventReporter::record(const ReportedEvent& event) {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    if (m_events.size() == kMaxRecordedEvents)
        m_events.pop_front();
    m_events.push_back(event);
}

std::vector<ReportedEvent> EventReporter::events() const {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    return {m_events.begin(), m_events.end()};
}

void EventReporter::clearEvents() {
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_events.clear();
}

int EventReporter::report(const std::string& category, const std::string& action,
                          const std::string& label, bool sendNow) {
    record(ReportedEvent{category, action, label, sendNow});
    if (!m_settings.sending)
        return sendNow ? -1 : 0;
    if (!sendNow) {
        enqueue(PendingEvent{category, action, label});
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_stopping || !m_library)
            return -1;
        ++m_sendsNow;
    }
    const int result =
        sendBothWithin(PendingEvent{category, action, label}, m_settings.sendNowLimitMs);
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        --m_sendsNow;
    }
    m_stateChanged.notify_all();
    return result;
}

int EventReporter::sendBothWithin(const PendingEvent& event, uint32_t limitMs) {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    // m_library stays while m_sendsNow counts this send: shutdown waits for it.
    IWebLog* library = m_library;
    std::thread watchdog;
    try {
        watchdog = std::thread([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!cv.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return done; })) {
                LOG(INFO) << " At-once event not sent within " << limitMs
                          << " ms, sending cancelled";
                CancelExportObj(library);
            }
        });
    } catch (const std::system_error& e) {
        LOG(INFO) << " At-once event sent without a time limit: " << e.what();
        return sendBoth(event);
    }
    const int result = sendBoth(event);
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    cv.notify_all();
    watchdog.join();
    return result;
}

void EventReporter::enqueue(PendingEvent event) {
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_stopping)
            return;   // would never be sent
        ++m_pending;  // before the push, so waitUntilIdle never sees it missing
    }
    bool queued = false;
    if (m_lock && m_lock->wait(m_settings.lockWaitMs) == platform::WaitResult::Signaled) {
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (m_queue.size() < m_settings.maxQueuedEvents) {
                m_queue.push_back(std::move(event));
                queued = true;
            }
        }
        m_lock->set();
    }
    if (!queued)
        finishPending();
}

void EventReporter::finishPending() {
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        --m_pending;
    }
    m_stateChanged.notify_all();
}

bool EventReporter::stopping() {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_stopping;
}

void EventReporter::setProductContext(ProductContext context) {
    std::lock_guard<std::mutex> lock(m_contextMutex);
    m_context = std::move(context);
}

bool EventReporter::waitUntilIdle(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_stateMutex);
    if (!m_settings.sending)
        return true;
    return m_stateChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return m_senderDone || (m_senderIdle && m_pending == 0);
    });
}

void EventReporter::initIdentity() {
    for (int attempt = 0; attempt < kIdentityAttempts && m_library && !stopping(); ++attempt) {
        const char* guid = nullptr;
        const char* userId = nullptr;
        // GET requests only: an at-once send meanwhile need not wait for them.
        m_library->InitUserInfo(&guid, &userId);
        if (guid && userId)
            break;
    }
}

bool EventReporter::takeFront(PendingEvent& event) {
    if (!m_lock || m_lock->wait(m_settings.lockWaitMs) != platform::WaitResult::Signaled)
        return false;
    bool taken = false;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (!m_queue.empty()) {
            event = std::move(m_queue.front());
            m_queue.pop_front();
            taken = true;
        }
    }
    m_lock->set();
    return taken;
}

void EventReporter::sendLoop() {
    initIdentity();
    enqueue(PendingEvent{"DownloaderInfo00", "launchDownloader001", ""});
    while (true) {
        bool empty;
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            empty = m_queue.empty();
        }
        {
            std::unique_lock<std::mutex> lock(m_stateMutex);
            if (m_stopping)
                break;
            if (empty) {
                m_senderIdle = true;
                m_stateChanged.notify_all();
                m_stateChanged.wait_for(lock, std::chrono::milliseconds(m_settings.idlePollMs),
                                        [this] { return m_stopping; });
                m_senderIdle = false;
                continue;
            }
        }
        PendingEvent event;
        if (!takeFront(event))
            continue;
        // Without a library object (it could not be made) the event is dropped.
        if (m_library && !stopping())
            sendBoth(event);
        finishPending();
    }
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_senderDone = true;
    m_stateChanged.notify_all();
}

EventReporter::DimensionValues EventReporter::dimensionValues() {
    DimensionValues values;
    {
        std::lock_guard<std::mutex> lock(m_contextMutex);
        values.trafficType = m_context.trafficType;
        values.channelLabel = m_context.channelLabel;
        values.softwareName = m_context.softwareName;
        values.toolkitProduct = m_context.toolkitProduct;
    }
    values.version = m_settings.version;
    values.country = m_country;
    values.language = m_language;
    values.osText = m_settings.osText;
    return values;
}

int EventReporter::sendBoth(const PendingEvent& event) {
    const DimensionValues values = dimensionValues();
    const auto ga4Dims = ga4Dimensions(values);
    const auto parameters = ga4Dims ? ga4Parameters(m_settings.version, event.category,
                                                    event.action, event.label, *ga4Dims)
                                    : std::nullopt;
    const std::string uaDims = uaDimensions(values);

    std::lock_guard<std::mutex> send(m_sendMutex);
    if (parameters)
        m_library->SendGA4Event(parameters->c_str());
    else
        LOG(INFO) << " GA4 hit not sent: its text is longer than " << kGa4TextBytes - 1
                  << " bytes (" << event.category << "/" << event.action << ")";
    return m_library->SendUAEvent(kUaTrackingId, kApplicationName, m_settings.version.c_str(),
                                  event.category.c_str(), event.action.c_str(), event.label.c_str(),
                                  uaDims.c_str());
}

std::string EventReporter::uaDimensions(const DimensionValues& v) {
    return "&cd1=" + v.version + "&cd2=" + v.trafficType + "&cd3=" + v.channelLabel +
           "&cd4=" + v.softwareName + "&cd5=" + v.country + "&cd6=" + v.language +
           "&cd7=" + v.osText + "&cd8=" + (v.toolkitProduct ? "0" : "1");
}

std::optional<std::string> EventReporter::ga4Dimensions(const DimensionValues& v) {
    return formatBounded(kGa4TextBytes,
                         "&ep.cd1=%s&ep.cd2=%s&ep.cd3=%s&ep.cd4=%s&ep.cd5=%s&ep.cd6=%s&ep.cd7=%s"
                         "&ep.cd8=%d",
                         v.version.c_str(), v.trafficType.c_str(), v.channelLabel.c_str(),
                         v.softwareName.c_str(), v.country.c_str(), v.language.c_str(),
                         v.osText.c_str(), v.toolkitProduct ? 0 : 1);
}

std::optional<std::string> EventReporter::ga4Parameters(const std::string& version,
                                                        const std::string& category,
                                                        const std::string& action,
                                                        const std::string& label,
                                                        const std::string& ga4Dims) {
    return formatBounded(kGa4TextBytes,
                         "&tid=%s&ep.kv_productname=%s&ep.kv_productversion=%s"
                         "&ep.kv_category=%s&ep.kv_action=%s&ep.kv_label=%s&en=%s%s",
                         kGa4MeasurementId, kApplicationName, version.c_str(), category.c_str(),
                         action.c_str(), label.c_str(), action.c_str(), ga4Dims.c_str());
}

std::pair<std::string, std::string> EventReporter::splitLocale(const std::string& localeText) {
    const auto mark = localeText.find('_');
    if (mark == std::string::npos)
        return {"Unknown", "Unknown"};
    return {localeText.substr(0, mark), localeText.substr(mark + 1)};
}
