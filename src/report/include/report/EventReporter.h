#pragma once
// The process-wide usage-event reporter. Any thread reports through
//
//     EventReporter::instance().report("Other", "SyncGetCbsTime", "2", false);
//
// Every event leaves the machine twice, as a GA4 hit and then as a Universal Analytics hit,
// both through the reporting library (IWebLog) and both with the eight custom dimensions of
// the build, its channel and the machine. A queued event (sendNow false) goes into a FIFO
// that the reporter's send thread drains; an event with sendNow is sent on the caller's thread
// and the UA result comes back (0 sent, -1 failed, -2 a required text empty, -3 unexpected
// answer; -1 too when nothing can be sent).
//
// What a caller pays: a queued report waits at most 200 ms for the queue lock (the named
// event "UserLogMutex", shared with other processes that open it) and copies three strings;
// when the lock is not free in time the event is dropped and report still returns 0. No
// network work ever happens on a queued caller's thread. A sendNow caller waits for a send of
// the send thread in progress (one request at a time goes through the library) and for its
// own two requests, all of it bounded by sendNowLimitMs: past it the library's requests are
// cancelled, for good (the closing event of a program must not keep the user waiting on a
// collector that does not answer; later sends then fail at once).
//
// Lifetime. instance() makes the reporter on first use and starts its send thread, which
// first fills the machine identity and then reports "DownloaderInfo00"/"launchDownloader001".
// At process exit (atexit) it shuts down: nothing still queued is sent, an at-once send in
// progress finishes, a queued send in progress gets a short grace and is then cancelled; the
// send thread is joined and the library object released. The reporter itself is never freed,
// so a thread that reports during exit is recorded and dropped, never a use after free.
//
// events() keeps what callers reported, in order, for tests and diagnostics (the reporter's
// own "launchDownloader001" is not in it).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Sync.h"

class IWebLog;

struct ReportedEvent {
    std::string category;
    std::string action;
    std::string label;
    bool sendNow = false;

    bool operator==(const ReportedEvent&) const = default;
};

class EventReporter {
public:
    struct Settings {
        bool sending = true;     // false: events are only recorded, nothing leaves the process
        std::string version;     // "%d.%d.%d.%d" file version of the program (cd1, av)
        std::string osText;      // OS name followed by " 64bit" or " 32bit" (cd7)
        std::string localeText;  // "Language_Country" (cd6 and cd5)
        std::string lockName = "UserLogMutex";
        uint32_t lockWaitMs = 200;
        uint32_t idlePollMs = 500;
        // How long shutdown lets a queued send in progress finish before it cancels it.
        uint32_t shutdownGraceMs = 1500;
        // The most an at-once report may take, waiting for the send in progress included.
        uint32_t sendNowLimitMs = 3000;
        // Beyond this many waiting events a queued report is dropped: a collector that is
        // slow to answer must not make the queue grow without end.
        size_t maxQueuedEvents = 1000;
    };

    // Recording only: for tools that reuse the workflow code but are not the installer.
    static Settings recordOnly();

    // Settings for the process-wide reporter, before its first use. False (nothing changes)
    // when instance() has already made it.
    static bool setUpInstance(const Settings& settings);
    // The same with settings made at the reporter's first use, so the probes they need run only
    // when something is reported.
    static bool setUpInstance(std::function<Settings()> makeSettings);

    // The process-wide reporter (thread-safe first use).
    static EventReporter& instance();

    // A reporter of its own (tests): its own queue, lock handle, send thread and library
    // object. Destroy it only when no other thread uses it.
    explicit EventReporter(Settings settings);
    ~EventReporter();
    EventReporter(const EventReporter&) = delete;
    EventReporter& operator=(const EventReporter&) = delete;

    // Copies the three texts. sendNow false: queued, result 0. sendNow true: sent now on this
    // thread, result of the UA hit.
    int report(const std::string& category, const std::string& action, const std::string& label,
               bool sendNow = false);

    // What the dimensions say about the product, worked out by the caller from its
    // configuration: the reporter knows nothing of site ids or channel tables.
    struct ProductContext {
        std::string trafficType = "SEO";  // cd2; what site id 0 gives
        std::string channelLabel = "0";   // cd3; what site id 0 gives
        std::string softwareName;         // cd4
        bool toolkitProduct = false;      // cd8 "0" when true
    };

    // The product context of the dimensions, read at send time (so events queued earlier and
    // sent later carry it).
    void setProductContext(ProductContext context);

    // Waits until the send thread sleeps with nothing queued or being sent (the identity step
    // and its first event are over), or has ended. False when `timeoutMs` passed first. For a
    // program that wants its queued events out before it exits.
    bool waitUntilIdle(uint32_t timeoutMs);

    // Ends sending as the process exit does; idempotent. Reports afterwards are only recorded.
    void shutdown();

    // What callers reported so far, oldest first (the latest kMaxRecordedEvents).
    std::vector<ReportedEvent> events() const;
    void clearEvents();
    static constexpr size_t kMaxRecordedEvents = 10000;

    // ---- The hits, as pure functions ---------------------------------------------------------

    struct DimensionValues {
        std::string version;
        std::string trafficType;
        std::string channelLabel;
        std::string softwareName;
        bool toolkitProduct = false;
        std::string country;
        std::string language;
        std::string osText;
    };

    // "&cd1=..&cd2=..&cd3=..&cd4=..&cd5=..&cd6=..&cd7=..&cd8=0|1", values unescaped.
    static std::string uaDimensions(const DimensionValues& values);

    // The GA4 form "&ep.cd1=..." ... "&ep.cd8=%d". The GA4 texts are made in buffers of
    // kGa4TextBytes; a text that does not fit (with its NUL) is refused: nullopt, and the event
    // then goes without its GA4 hit (a cut text would send parameters nobody wrote).
    static std::optional<std::string> ga4Dimensions(const DimensionValues& values);

    // "&tid=G-Q7MZ2KD9XW&ep.kv_productname=Downloader&ep.kv_productversion=..&ep.kv_category=..
    // &ep.kv_action=..&ep.kv_label=..&en=<action>" + GA4 dimensions; nullopt when too long.
    static std::optional<std::string> ga4Parameters(const std::string& version,
                                                    const std::string& category,
                                                    const std::string& action,
                                                    const std::string& label,
                                                    const std::string& ga4Dimensions);

    // "English_United States" → {"English", "United States"}; no "_" → {"Unknown", "Unknown"}.
    static std::pair<std::string, std::string> splitLocale(const std::string& localeText);

    static constexpr size_t kGa4TextBytes = 4096;
    static constexpr const char* kApplicationName = "Downloader";
    static constexpr const char* kUaTrackingId = "UA-305918462-1";
    static constexpr const char* kGa4MeasurementId = "G-Q7MZ2KD9XW";

private:
    struct PendingEvent {
        std::string category;
        std::string action;
        std::string label;
    };
    void record(const ReportedEvent& event);
    void enqueue(PendingEvent event);
    void sendLoop();
    void initIdentity();
    bool takeFront(PendingEvent& event);
    int sendBoth(const PendingEvent& event);
    // sendBoth, with the library's requests cancelled once `limitMs` has passed.
    int sendBothWithin(const PendingEvent& event, uint32_t limitMs);
    DimensionValues dimensionValues();
    bool stopping();
    void finishPending();

    const Settings m_settings;
    std::string m_language;
    std::string m_country;
    IWebLog* m_library = nullptr;  // set at construction, released by shutdown()
    std::unique_ptr<platform::NamedEvent> m_lock;
    std::thread m_sender;

    mutable std::mutex m_recordMutex;
    std::deque<ReportedEvent> m_events;

    // Touched only by a thread that holds m_lock; the mutex makes that visible to the
    // sanitizer and keeps the emptiness check of the send thread race-free.
    std::mutex m_queueMutex;
    std::deque<PendingEvent> m_queue;

    std::mutex m_contextMutex;
    ProductContext m_context;

    std::mutex m_sendMutex;  // one send through the library at a time

    std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    bool m_stopping = false;
    bool m_shutDown = false;
    bool m_senderIdle = false;  // the send thread sleeps between two looks at the queue
    bool m_senderDone = false;
    int m_sendsNow = 0;    // at-once sends past the stopping check and not finished
    size_t m_pending = 0;  // queued or being sent by the send thread
};
