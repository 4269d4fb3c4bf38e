#include "report/HttpClient.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace weblog {

namespace {

constexpr size_t kMaxProxyLine = 254;  // the proxy line is read into 255 bytes with its NUL

}  // namespace

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

HttpClient::HttpClient(ErrorLog& log, std::filesystem::path cookieFile,
                       const std::atomic<bool>* cancel)
    : m_log(log), m_cookieFile(std::move(cookieFile)), m_cancel(cancel) {}

HttpClient::~HttpClient() {
    if (m_handle)
        curl_easy_cleanup(m_handle);
}

size_t HttpClient::appendResponse(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<HttpClient*>(user);
    const size_t n = size * count;
    if (self->m_response.size() + n > kMaxResponseBytes)
        return 0;
    self->m_response.append(data, n);
    return n;
}

int HttpClient::onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* self = static_cast<const HttpClient*>(user);
    return self->m_cancel && self->m_cancel->load() ? 1 : 0;
}

bool HttpClient::init() {
    if (m_ready)
        return true;
    initCurlOnce();
    if (!m_handle)
        m_handle = curl_easy_init();
    if (!m_handle) {
        m_log.logError("Failed to create CURL connection\n");
        return false;
    }
    CURL* h = m_handle;
    curl_easy_setopt(h, CURLOPT_COOKIEJAR, m_cookieFile.c_str());
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, m_cookieFile.c_str());
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    // Listener threads of the host must not get SIGALRM from name resolution.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    CURLcode rc;
    if ((rc = curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 15L)) != CURLE_OK) {
        m_log.logError("Failed to set connection time out [%d]\n", rc);
        return false;
    }
    if ((rc = curl_easy_setopt(h, CURLOPT_TIMEOUT, 20L)) != CURLE_OK) {
        m_log.logError("Failed to set time out [%d]\n", rc);
        return false;
    }
    if ((rc = curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendResponse)) != CURLE_OK) {
        m_log.logError("Failed to set CURLOPT_WRITEFUNCTION [%d]\n", rc);
        return false;
    }
    if ((rc = curl_easy_setopt(h, CURLOPT_WRITEDATA, this)) != CURLE_OK) {
        m_log.logError("Failed to set CURLOPT_WRITEDATA [%d]\n", rc);
        return false;
    }
    if ((rc = curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L)) != CURLE_OK) {
        m_log.logError("Failed to CURLOPT_FOLLOWLOCATION [%d]\n", rc);
        return false;
    }
    m_ready = true;
    return true;
}

void HttpClient::setProxy(const std::string& proxy) {
    if (init())
        curl_easy_setopt(m_handle, CURLOPT_PROXY, proxy.c_str());
}

int HttpClient::post(const std::string& url, const std::string& headerLine,
                     const std::string& body) {
    m_status = 200;
    m_response.clear();
    if (!init())
        return CURLE_FAILED_INIT;
    CURL* h = m_handle;
    CURLcode rc;
    if ((rc = curl_easy_setopt(h, CURLOPT_URL, url.c_str())) != CURLE_OK) {
        m_log.logError("Failed to set error buffer [%d]\n", rc);
        return rc;
    }
    curl_slist* headers = nullptr;
    if (!headerLine.empty())
        headers = curl_slist_append(nullptr, headerLine.c_str());
    struct HeaderListGuard {
        CURL* handle;
        curl_slist* list;
        ~HeaderListGuard() {
            curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
            curl_slist_free_all(list);
        }
    } guard{h, headers};
    if ((rc = curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers)) != CURLE_OK) {
        m_log.logError("Failed to set CURLOPT_HTTPHEADER [%d]\n", rc);
        return rc;
    }
    if ((rc = curl_easy_setopt(h, CURLOPT_POST, 1L)) != CURLE_OK) {
        m_log.logError("Failed to set CURLOPT_POST [%d]\n", rc);
        return rc;
    }
    if ((rc = curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                               static_cast<curl_off_t>(body.size()))) != CURLE_OK ||
        (rc = curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str())) != CURLE_OK) {
        m_log.logError("Failed to set CURLOPT_POSTFIELDS [%d]\n", rc);
        return rc;
    }
    if ((rc = m_transport.apply(h)) != CURLE_OK) {
        m_log.logError("Failed to apply the transport settings [%d]\n", rc);
        return rc;
    }
    rc = m_cancel && m_cancel->load() ? CURLE_ABORTED_BY_CALLBACK : curl_easy_perform(h);
    // The body pointer belongs to the caller: forget it before the caller's string goes.
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
    if (rc == CURLE_OK) {
        long status = 0;
        rc = curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        if (rc == CURLE_OK)
            m_status = status;
        // Written back after every request, so a host that ends abruptly keeps its cookies.
        curl_easy_setopt(h, CURLOPT_COOKIELIST, "FLUSH");
    }
    if (rc != CURLE_OK) {
        m_log.logError("Failed to perform request [%d]\n", rc);
        return rc;
    }
    return 0;
}

std::optional<std::string> readProxyFile(const std::filesystem::path& directory, ErrorLog& log) {
    const std::filesystem::path file = directory / "proxy.txt";
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in)
        return std::nullopt;
    // Two characters beyond the limit are enough to tell a long line from a CR LF ending.
    std::string line;
    for (int c; line.size() < kMaxProxyLine + 2 && (c = std::fgetc(in)) != EOF && c != '\n';)
        line.push_back(static_cast<char>(c));
    std::fclose(in);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kMaxProxyLine) {
        log.logError("Proxy line of %s is longer than %zu characters: not used\n", file.c_str(),
                     kMaxProxyLine);
        return std::nullopt;
    }
    if (line.empty())
        return std::nullopt;
    return line;
}

void applyProxyFile(HttpClient& client, const std::filesystem::path& directory, ErrorLog& log) {
    if (auto proxy = readProxyFile(directory, log))
        client.setProxy(*proxy);
}

}  // namespace weblog
