#pragma once
// The program's HTTP client object: one libcurl easy handle, created with the object and
// cleaned up with it. One thread uses an object at a time; make a fresh one per request series.
// Every request gets TransportSettings (verification on, CA bundle, connect-to rules) first.

#include <curl/curl.h>

#include <cstdint>
#include <string>

#include "TransportSettings.h"

class CDownloadThread;

class CLibcurlTool {
public:
    CLibcurlTool();
    ~CLibcurlTool();
    CLibcurlTool(const CLibcurlTool&) = delete;
    CLibcurlTool& operator=(const CLibcurlTool&) = delete;

    // False when libcurl could not create the handle; every request then fails with
    // CURLE_FAILED_INIT.
    bool valid() const { return m_handle != nullptr; }

    // Whole-request limit of the text requests (header, body, text GET), milliseconds; a server
    // that trickles must not hold a caller for ever. At least 1 ms.
    void setTextTimeLimit(int64_t ms) { m_textTimeLimitMs = ms < 1 ? 1 : ms; }

    // HEAD request following up to 5 redirects; `header` receives the header blocks of every
    // response in the chain, cut to `maxChars` characters; `responseCode` (may be null) the
    // last status.
    CURLcode getHttpHeader(const std::string& url, std::string& header, long* responseCode,
                           size_t maxChars = 2000);

    // Fetches bytes first..last (inclusive) of `url` into the download's shared file at their
    // offsets, for the task `worker` holds. Only a 206 answer whose Content-Range starts at
    // `first` and carries `expectedTotal` is written; anything else writes nothing. Received
    // bytes are written even when the attempt ends early (time-out, reset), and the task's
    // position moves only over bytes that reached the file. The attempt ends after
    // `timeLimitMs` whatever arrives.
    CURLcode httpDownloadContent(const std::string& url, int64_t first, int64_t last,
                                 int64_t expectedTotal, CDownloadThread* worker,
                                 int64_t timeLimitMs = kSegmentTimeLimitMs);

    // GET; `body` receives at most last - first characters of the body. The offsets only size
    // the result: no Range header is sent.
    CURLcode getHttpBody(const std::string& url, int64_t first, int64_t last, std::string& body);

    // GET of a whole text body (up to kMaxTextBytes); failures are logged when `logErrors`.
    CURLcode httpGetText(const std::string& url, std::string& body, bool logErrors);

    // POST of `body` with its own handle; `reply` receives the answer. `caBundle` (may be null)
    // is trusted in place of KV_CA_BUNDLE. CURLE_FAILED_INIT when no handle could be made.
    CURLcode httpPostText(const std::string& url, const std::string& body, std::string& reply,
                          const char* caBundle);

    // Writes one log line naming `code`; always returns 1.
    static int figureError(CURLcode code);
    // The text figureError logs for `code`.
    static std::string errorMessage(CURLcode code);

    static constexpr const char* kUserAgentHeader =
        "User-Agent:Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like "
        "Gecko) "
        "Chrome/62.0.3202.75 Safari/537.36";

    // A text reply larger than this is not one of our services' replies: the transfer stops.
    static constexpr size_t kMaxTextBytes = 8u << 20;
    static constexpr int64_t kTextTimeLimitMs = 60000;
    static constexpr int64_t kSegmentTimeLimitMs = 10000;

private:
    CURLcode perform(const std::string& url, bool headOnly, std::string& received,
                     long* responseCode, bool logErrors);
    CURLcode request(const std::string& url, int64_t first, int64_t last, bool headOnly,
                     std::string& out, long* responseCode);

    CURL* m_handle = nullptr;
    TransportSettings m_transport;
    int64_t m_textTimeLimitMs = kTextTimeLimitMs;
};
