#pragma once
// The reporting library's interface: what a host process (the downloader, an installer script
// runner, ...) may call. The library is a shared object; the only names it exports are the
// plain C functions below, so any host can use it without sharing our C++ runtime details.
//
// The virtual operations keep this exact order: hosts call them through the table of the
// object, slot by slot. There is no virtual destructor (it would take the first slots):
// objects are released with DestroyExportObj, never with delete.
//
// Texts are narrow, NUL-terminated, UTF-8. A text pointer that an operation hands out (the out
// parameters) points into the object and stays valid until the next call of the same
// operation or the object's destruction. A null text argument counts as an empty text.
//
// Threads: hosts may call an object from several threads; calls that share state wait for
// each other (the identity and user-log calls; the POSTs: hits, feedback, JSON report). Any
// thread may call CancelExportObj at any time.

#include <cstdint>

class IWebLog {
public:
    // One user-activity entry; 0 when the service answered with a non-empty body, else -1.
    virtual int32_t AddUserLog(int32_t operationId, int32_t result, const char* resultData,
                               int32_t softwareId, int32_t languageId, int32_t siteId,
                               const char* currentVersion, int32_t activityId,
                               int32_t versionId) = 0;
    // Fills the machine identity (GUID and user id, kept in the registry); 0 or -1.
    virtual int32_t InitUserInfo(const char** userGuid, const char** userId) = 0;
    virtual int32_t QueryTools(const char** answer, int32_t softwareId, int32_t languageId) = 0;
    virtual int32_t QueryDownloader(const char** answer, int32_t softwareId, int32_t languageId,
                                    int32_t siteId) = 0;
    virtual int32_t ReportLog(int32_t softwareId, const char* email, const char* content,
                              const char* uploadId) = 0;
    virtual int32_t SendFeedback(int32_t softwareId, const char* version, const char* email,
                                 const char* subject, const char* content, const char* logId) = 0;
    // Universal Analytics event hit: 0 acknowledged, -1 failed, -2 a required text is empty,
    // -3 the collector's answer is not the expected one.
    virtual int32_t SendUAEvent(const char* trackingId, const char* applicationName,
                                const char* applicationVersion, const char* category,
                                const char* action, const char* label, const char* dimensions) = 0;
    // The analytics JSON report: a libcurl error code, or the HTTP status minus 200.
    virtual int32_t SoftDataReport(const char* json) = 0;
    // GA4 event hit from its parameter text: 0 acknowledged (204), -1 failed, -2 empty text.
    virtual int32_t SendGA4Event(const char* parameters) = 0;

protected:
    ~IWebLog() = default;
};

#define KV_WEBLOG_EXPORT __attribute__((visibility("default")))

extern "C" {

// A new library object; null when it cannot be made.
KV_WEBLOG_EXPORT IWebLog* CreateExportObj();

// Releases an object made by CreateExportObj; null is ignored. A call still running on the
// object (another thread) is waited for first.
KV_WEBLOG_EXPORT void DestroyExportObj(IWebLog* object);

// Writes one user-log entry on a thread of its own and returns 0 at once; nothing is reported
// back. The work is bounded by the request time-outs; the library waits for it when it is
// unloaded (process exit).
KV_WEBLOG_EXPORT int32_t NSISLog(int32_t operationId, int32_t softwareId, int32_t languageId,
                                 int32_t siteId);

// For a host that is shutting down: the request in progress on `object` (any thread) ends at
// once and fails, and every later request of the object fails without being made. The object
// must still be released with DestroyExportObj. Null is ignored.
KV_WEBLOG_EXPORT void CancelExportObj(IWebLog* object);
}
