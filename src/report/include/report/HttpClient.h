#pragma once
// The reporting library's POST transport: one libcurl easy handle, kept across requests, with
// a cookie store shared by every client of the program ("cloud" beside the program), 15 s to
// connect and 20 s in all per request. Failures go to the library's error log with their
// libcurl code and are returned as that code.
//
// Peers and host names are verified like every other request of the program
// (TransportSettings: system CA store plus KV_CA_BUNDLE, and the KV_CONNECT_TO rules).
//
// One thread uses a client at a time; `cancel` (may be null) is read from any thread.

#include <curl/curl.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

#include "TransportSettings.h"
#include "report/ErrorLog.h"

namespace weblog {

class HttpClient {
public:
    // `log` and `cancel` must outlive the client. While *cancel is true, a request in progress
    // ends and new ones fail at once with CURLE_ABORTED_BY_CALLBACK.
    HttpClient(ErrorLog& log, std::filesystem::path cookieFile, const std::atomic<bool>* cancel);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Creates and sets up the handle, once; later calls return at once. False (logged) when
    // the handle or one of its options cannot be set; the client then stays not ready.
    bool init();
    bool ready() const { return m_ready; }

    // POSTs `body` as given, with `headerLine` as the one extra header (none when empty).
    // 0, or the libcurl code (logged "Failed to perform request [%d]").
    int post(const std::string& url, const std::string& headerLine, const std::string& body);

    // Every later request goes through this proxy (libcurl's proxy syntax).
    void setProxy(const std::string& proxy);

    // Body of the last response (emptied when a request starts) and its HTTP status (200
    // before any request, and when a request failed before an answer).
    const std::string& response() const { return m_response; }
    long status() const { return m_status; }

    // A larger answer is not one of our services' answers: the transfer ends (code 23).
    static constexpr size_t kMaxResponseBytes = 1u << 20;

private:
    static size_t appendResponse(char* data, size_t size, size_t count, void* user);
    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    ErrorLog& m_log;
    const std::filesystem::path m_cookieFile;
    const std::atomic<bool>* m_cancel;
    CURL* m_handle = nullptr;
    bool m_ready = false;
    long m_status = 200;
    std::string m_response;
    TransportSettings m_transport;
};

// The proxy named by the first line of `directory`/proxy.txt (line end removed); nullopt when
// the file is missing or the line is empty. A line longer than 254 characters does not fit
// the proxy line and is refused (logged): it cannot name a proxy, and a cut one would name
// the wrong one.
std::optional<std::string> readProxyFile(const std::filesystem::path& directory, ErrorLog& log);

// Sets the proxy of readProxyFile on `client`; leaves it as it was when there is none.
void applyProxyFile(HttpClient& client, const std::filesystem::path& directory, ErrorLog& log);

// Calls curl_global_init once per process (our copy of it).
void initCurlOnce();

}  // namespace weblog
