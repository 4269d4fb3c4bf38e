// The user-log, catalogue, feedback and analytics-JSON calls of the library object.

#include <cstdio>

#include "platform/System.h"
#include "report/MachineIdentity.h"
#include "report/ReportPayloads.h"
#include "report/WebLog.h"

namespace weblog {

namespace {

constexpr int kQueryAttempts = 3;
constexpr int32_t kUseTimeOperation = 10202;
constexpr const char* kJsonHeader = "Content-Type:application/json; charset=utf-8";

const char* text(const char* s) {
    return s ? s : "";
}

bool canRead(const std::filesystem::path& file) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return false;
    std::fclose(f);
    return true;
}

}  // namespace

int32_t WebLog::AddUserLog(int32_t operationId, int32_t result, const char* resultData,
                           int32_t softwareId, int32_t languageId, int32_t siteId,
                           const char* currentVersion, int32_t activityId, int32_t versionId) {
    std::lock_guard<std::mutex> lock(m_identityMutex);
    if (operationId == kUseTimeOperation)
        m_useTimeSeconds = static_cast<uint32_t>(
            ((m_options.tick ? m_options.tick() : platform::tickCount()) - m_options.startTick) /
            1000);
    else if (operationId == 0)
        return -1;
    if (softwareId == 0 || m_userGuid.empty())
        return -1;
    lookUpGeolocationIfUnknown();

    UserLogEntry entry;
    entry.userId = m_userId;
    entry.operationId = operationId;
    entry.softwareId = softwareId;
    entry.useTimeSeconds = m_useTimeSeconds;
    entry.country = m_country;
    entry.city = m_city;
    entry.publicIp = m_publicIp;
    entry.languageId = languageId;
    entry.result = result;
    entry.resultData = text(resultData);
    entry.siteId = siteId;
    entry.currentVersion = text(currentVersion);
    entry.activityId = activityId;
    entry.versionId = versionId;
    std::string answer;
    return get(m_serviceBaseUrl + addUserLogPath(entry), answer) == 0 && !answer.empty() ? 0 : -1;
}

int32_t WebLog::QueryTools(const char** answer, int32_t softwareId, int32_t languageId) {
    std::lock_guard<std::mutex> lock(m_identityMutex);
    m_toolsText.clear();
    if (softwareId == 0 || languageId == 0)
        return -1;
    const std::string url = m_serviceBaseUrl + queryToolsPath(softwareId, languageId);
    for (int attempt = 0; attempt < kQueryAttempts; ++attempt) {
        if (get(url, m_toolsText) == 0) {
            if (answer)
                *answer = m_toolsText.c_str();
            return 0;
        }
    }
    return -1;
}

int32_t WebLog::QueryDownloader(const char** answer, int32_t softwareId, int32_t languageId,
                                int32_t siteId) {
    std::lock_guard<std::mutex> lock(m_identityMutex);
    m_downloaderText.clear();
    if (softwareId == 0 || languageId == 0 || siteId == 0)
        return -1;
    const std::string url = m_serviceBaseUrl + queryDownloaderPath(softwareId, languageId, siteId);
    for (int attempt = 0; attempt < kQueryAttempts; ++attempt) {
        if (get(url, m_downloaderText) == 0) {
            if (answer)
                *answer = m_downloaderText.c_str();
            return 0;
        }
    }
    return -1;
}

int32_t WebLog::ReportLog(int32_t softwareId, const char* email, const char* content,
                          const char* uploadId) {
    std::lock_guard<std::mutex> lock(m_identityMutex);
    if (softwareId == 0)
        return -1;
    lookUpGeolocationIfUnknown();
    std::string answer;
    const std::string url =
        m_serviceBaseUrl +
        reportLogPath(m_userId, softwareId, text(email), m_publicIp, text(content), text(uploadId));
    return get(url, answer) == 0 && !answer.empty() ? 0 : -1;
}

int32_t WebLog::SendFeedback(int32_t softwareId, const char* version, const char* email,
                             const char* subject, const char* content, const char* logId) {
    if (softwareId == 0 || !content)
        return -1;
    const std::string body =
        feedbackBody(softwareId, text(version), text(email), text(subject), content, text(logId));
    std::lock_guard<std::mutex> lock(m_postMutex);
    applyProxyFile(m_client, m_options.currentDirectory, m_errorLog);
    const int rc = m_client.post(m_feedbackUrl, "", body);
    return rc == 0 && feedbackAccepted(m_client.status(), m_client.response()) ? 0 : -1;
}

int32_t WebLog::SoftDataReport(const char* json) {
    MachineFacts facts;
    if (m_options.machineFacts) {
        facts = m_options.machineFacts();
    } else {
        facts.sessionId = processSessionId();
        facts.mac = getMacAddress();
        facts.osText = getOsText();
        facts.timestampMs = timestampMs();
    }
    const std::string body =
        serialiseDocument(softDataDocument(parseReportInput(text(json)), facts));

    std::lock_guard<std::mutex> lock(m_postMutex);
    const std::string& url =
        canRead(m_options.currentDirectory / "test") ? m_testCollectorUrl : m_collectorUrl;
    // A client of its own: the shared one keeps the user-log calls' state.
    HttpClient client(m_errorLog, m_options.programDirectory / "cloud", &m_cancelled);
    client.init();
    applyProxyFile(client, m_options.currentDirectory, m_errorLog);
    const int rc = client.post(url, kJsonHeader, body);
    if (rc != 0)
        return rc;
    return static_cast<int32_t>(client.status() - 200);
}

}  // namespace weblog
