#include "report/WebLog.h"

#include <system_error>

#include "RemoteServices.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "report/HttpGet.h"
#include "report/MachineIdentity.h"
#include "report/ReportPayloads.h"

namespace weblog {

namespace {

// Attempts of the requests that are repeated while the transport fails.
constexpr int kGetAttempts = 3;
// Requests of one geolocation look-up while the answer is not a success.
constexpr int kGeolocationRequests = 5;

const char* text(const char* s) {
    return s ? s : "";
}

std::optional<std::string> readIdentityValue(const platform::RegKey& key, const char* name) {
    auto value = key.getString(name);
    if (value && value->size() > kMaxIdentityValueBytes)
        return std::nullopt;
    return value;
}

}  // namespace

WebLog::Options WebLog::defaultOptions() {
    Options options;
    std::error_code ec;
    options.currentDirectory = std::filesystem::current_path(ec);
    options.programDirectory = platform::ownModulePath().parent_path();
    options.startTick = platform::tickCount();
    return options;
}

WebLog::WebLog(Options options)
    : m_options(std::move(options)),
      m_errorLog(m_options.programDirectory),
      m_client(m_errorLog, m_options.programDirectory / "cloud", &m_cancelled),
      m_defaultServiceBase(remoteServiceUrl(kUserLogService)),
      m_softwareLogUrl(remoteServiceUrl(kVendorWebSite) + "/downloads/service/softwarelog.txt"),
      m_geolocationUrl(remoteServiceUrl(kGeolocation) + "/csv"),
      m_ga4Url(remoteServiceUrl(kGa4Collection) + "/g/collect"),
      m_uaUrl(remoteServiceUrl(kUaCollection) + "/collect"),
      m_collectorUrl(remoteServiceUrl(kAnalyticsCollector) + "/collect"),
      m_testCollectorUrl(remoteServiceUrl(kAnalyticsTestCollector) + "/collector"),
      m_feedbackUrl(remoteServiceUrl(kFeedbackService) + "/api/v1/ticket/feedback"),
      m_serviceBaseUrl(m_defaultServiceBase) {
    m_client.init();
}

WebLog::~WebLog() {
    // A call on another thread finishes before the members it uses go.
    std::scoped_lock lock(m_identityMutex, m_postMutex);
}

WebLog::State WebLog::state() {
    std::lock_guard<std::mutex> lock(m_identityMutex);
    return State{m_userGuid, m_userId,         m_publicIp,      m_country,
                 m_city,     m_serviceBaseUrl, m_useTimeSeconds};
}

int WebLog::get(const std::string& url, std::string& answer) {
    return httpGet(url, answer, &m_cancelled);
}

int32_t WebLog::InitUserInfo(const char** userGuid, const char** userId) {
    std::lock_guard<std::mutex> lock(m_identityMutex);
    fetchServiceBase();
    if (queryUser() == -1 && createUser() != 0)
        return -1;
    if (userGuid)
        *userGuid = m_userGuid.c_str();
    if (userId)
        *userId = m_userId.c_str();
    return 0;
}

void WebLog::fetchServiceBase() {
    for (int attempt = 0; attempt < kGetAttempts; ++attempt) {
        std::string answer;
        if (get(m_softwareLogUrl, answer) == 0) {
            m_serviceBaseUrl = acceptServiceBase(answer, m_defaultServiceBase);
            return;
        }
    }
}

int WebLog::queryUser() {
    std::optional<std::string> guid;
    std::optional<std::string> registeredId;
    if (auto key = platform::RegKey::open(platform::Hive::LocalMachine, kIdentityKey)) {
        guid = readIdentityValue(*key, kGuidValue);
        registeredId = readIdentityValue(*key, kUserIdValue);
    }
    if (!guid || !registeredId) {
        m_userGuid = guid.value_or(std::string());
        m_userId = registeredId.value_or(std::string());
        return -1;
    }
    for (int attempt = 0; attempt < kGetAttempts; ++attempt) {
        std::string answer;
        if (get(m_serviceBaseUrl + "/QueryUser?guid=" + queryValue(*guid), answer) != 0)
            continue;
        m_userGuid = *guid;
        // A line end after the id is the file's, not the id's.
        const auto end = answer.find_last_not_of(" \t\r\n");
        answer.erase(end == std::string::npos ? 0 : end + 1);
        if (answer.empty()) {
            m_userId = *registeredId;
            return -1;
        }
        m_userId = answer;
        return 0;
    }
    return -2;
}

int WebLog::createUser() {
    if (m_userGuid.empty())
        m_userGuid = newGuidText();
    if (m_userGuid.empty())
        return -1;  // no random bytes: no identity to keep
    lookUpGeolocationIfUnknown();
    m_userId = kNewUserId;
    auto key = platform::RegKey::create(platform::Hive::LocalMachine, kIdentityKey);
    if (!key)
        return -1;
    if (!key->setString(kGuidValue, m_userGuid) || !key->setString(kUserIdValue, m_userId))
        return -1;
    return 0;
}

void WebLog::lookUpGeolocation() {
    std::string answer;
    get(m_geolocationUrl, answer);
    if (answer.empty())
        return;
    for (int request = 1;
         request < kGeolocationRequests && answer.find("success") == std::string::npos; ++request) {
        answer.clear();
        get(m_geolocationUrl, answer);
    }
    const auto where = parseGeolocation(answer);
    if (!where)
        return;
    m_country = where->country;
    m_city = where->city;
    m_publicIp = where->publicIp;
}

void WebLog::lookUpGeolocationIfUnknown() {
    if (m_publicIp.empty() || m_country.empty())
        lookUpGeolocation();
}

int32_t WebLog::SendUAEvent(const char* trackingId, const char* applicationName,
                            const char* applicationVersion, const char* category,
                            const char* action, const char* label, const char* dimensions) {
    const UaEvent event{text(trackingId), text(applicationName), text(applicationVersion),
                        text(category),   text(action),          text(label),
                        text(dimensions)};
    if (!uaEventComplete(event))
        return -2;
    std::lock_guard<std::mutex> lock(m_postMutex);
    applyProxyFile(m_client, m_options.currentDirectory, m_errorLog);
    const int rc = m_client.post(m_uaUrl, "", uaEventBody(event, clientId()));
    return uaResult(rc == 0, m_client.status(), m_client.response());
}

int32_t WebLog::SendGA4Event(const char* parameters) {
    if (!parameters || !*parameters)
        return -2;
    const std::string url = ga4CollectUrl(m_ga4Url, clientId(), parameters);
    std::lock_guard<std::mutex> lock(m_postMutex);
    applyProxyFile(m_client, m_options.currentDirectory, m_errorLog);
    const int rc = m_client.post(url, "", "");
    return rc == 0 && m_client.status() == 204 ? 0 : -1;
}

}  // namespace weblog
