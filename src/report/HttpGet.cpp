#include "report/HttpGet.h"

#include <curl/curl.h>

#include <string>

#include "TransportSettings.h"
#include "platform/System.h"
#include "report/HttpClient.h"

namespace weblog {

namespace {

size_t appendBounded(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    const size_t n = size * count;
    if (body->size() + n > kMaxHttpGetBytes)
        return 0;
    body->append(data, n);
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(user);
    return cancel && cancel->load() ? 1 : 0;
}

}  // namespace

int httpGet(const std::string& url, std::string& answer, const std::atomic<bool>* cancel) {
    if (cancel && cancel->load())
        return -1;
    initCurlOnce();
    CURL* h = curl_easy_init();
    if (!h)
        return -1;
    std::string body;
    const std::string agent = "Agent" + std::to_string(platform::tickCount());
    curl_slist* headers = nullptr;
    for (const char* line : {"Accept: */*", "Accept-Language: zh-cn", "Pragma: no-cache"})
        headers = curl_slist_append(headers, line);
    headers = curl_slist_append(headers, (std::string("User-Agent: ") + kHttpGetUserAgent).c_str());
    TransportSettings transport;

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    // Sends "Accept-Encoding: gzip, deflate" and decodes the answer, as WinINet's decoding does.
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, 6000L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 6L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, kHttpGetTotalSeconds);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBounded);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, cancel);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    CURLcode rc = transport.apply(h);
    if (rc == CURLE_OK)
        rc = curl_easy_perform(h);
    long status = 0;
    if (rc == CURLE_OK)
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(h);
    curl_slist_free_all(headers);
    if (rc != CURLE_OK || status != 200)
        return -1;
    answer += body;
    return 0;
}

}  // namespace weblog
