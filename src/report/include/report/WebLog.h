#pragma once
// The reporting library object behind IWebLog: the machine identity (GUID and user id in the
// registry store, the geolocation of the public address), the two transports and the service
// calls. Made by CreateExportObj (or NSISLog); tests make it directly to choose its folders.
//
// Ownership and threads: the object owns its POST client and its texts. Operations that share
// state are serialised (the identity and user-log calls by one lock, the POSTs by another), so
// concurrent callers wait for each other only where they would meet; cancel() never waits and
// may be called from any thread.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "report/ErrorLog.h"
#include "report/HttpClient.h"
#include "report/IWebLog.h"
#include "report/ReportPayloads.h"

namespace weblog {

// Machine-wide identity key and its two values.
inline constexpr const char* kIdentityKey = "SOFTWARE\\GuidGuidold";
inline constexpr const char* kGuidValue = "guid";
inline constexpr const char* kUserIdValue = "user_id";
// Identity values are read into 260 bytes with their NUL; a longer value does not fit and is
// treated as missing (a cut GUID would be somebody else's identity).
inline constexpr size_t kMaxIdentityValueBytes = 259;
// The user id the service gives every new machine.
inline constexpr const char* kNewUserId = "1001";

class WebLog final : public IWebLog {
public:
    struct Options {
        std::filesystem::path currentDirectory;  // "proxy.txt" and "test" are looked up here
        std::filesystem::path programDirectory;  // "cloud" cookie store, "Logs/.log"
        uint64_t startTick = 0;                  // platform::tickCount() at construction
        // Where the time and the machine's facts come from; tests fix them. Empty: the tick
        // count of platform::tickCount(), and the session id, adapter, OS text and clock of now.
        std::function<uint64_t()> tick;
        std::function<MachineFacts()> machineFacts;
    };
    // The current directory, the running program's folder and the current tick.
    static Options defaultOptions();

    explicit WebLog(Options options);
    ~WebLog();
    WebLog(const WebLog&) = delete;
    WebLog& operator=(const WebLog&) = delete;

    int32_t AddUserLog(int32_t operationId, int32_t result, const char* resultData,
                       int32_t softwareId, int32_t languageId, int32_t siteId,
                       const char* currentVersion, int32_t activityId, int32_t versionId) override;
    int32_t InitUserInfo(const char** userGuid, const char** userId) override;
    int32_t QueryTools(const char** answer, int32_t softwareId, int32_t languageId) override;
    int32_t QueryDownloader(const char** answer, int32_t softwareId, int32_t languageId,
                            int32_t siteId) override;
    int32_t ReportLog(int32_t softwareId, const char* email, const char* content,
                      const char* uploadId) override;
    int32_t SendFeedback(int32_t softwareId, const char* version, const char* email,
                         const char* subject, const char* content, const char* logId) override;
    int32_t SendUAEvent(const char* trackingId, const char* applicationName,
                        const char* applicationVersion, const char* category, const char* action,
                        const char* label, const char* dimensions) override;
    int32_t SoftDataReport(const char* json) override;
    int32_t SendGA4Event(const char* parameters) override;

    // From now on every request of this object ends at once and fails (CancelExportObj).
    void cancel() { m_cancelled = true; }

    // What the object knows, for diagnostics and tests (copies, taken under the lock).
    struct State {
        std::string userGuid, userId, publicIp, country, city, serviceBaseUrl;
        uint32_t useTimeSeconds = 0;
    };
    State state();

private:
    // The steps of InitUserInfo; the caller holds m_identityMutex.
    void fetchServiceBase();
    int queryUser();
    int createUser();
    void lookUpGeolocation();
    void lookUpGeolocationIfUnknown();
    int get(const std::string& url, std::string& answer);

    const Options m_options;
    // The identity and the texts of the user-log calls (requests by httpGet), and apart from
    // them the POST client of the hits, the feedback and the JSON report: an event hit never
    // waits for an identity step that a slow service drags out.
    std::mutex m_identityMutex;
    std::mutex m_postMutex;
    std::atomic<bool> m_cancelled{false};
    ErrorLog m_errorLog;
    HttpClient m_client;

    // Endpoints, resolved once from the remote-service table.
    const std::string m_defaultServiceBase;
    const std::string m_softwareLogUrl;
    const std::string m_geolocationUrl;
    const std::string m_ga4Url;
    const std::string m_uaUrl;
    const std::string m_collectorUrl;
    const std::string m_testCollectorUrl;
    const std::string m_feedbackUrl;

    std::string m_userGuid;
    std::string m_userId;
    std::string m_publicIp;
    std::string m_country;
    std::string m_city;
    std::string m_serviceBaseUrl;
    uint32_t m_useTimeSeconds = 0;
    std::string m_toolsText;
    std::string m_downloaderText;
};

}  // namespace weblog
