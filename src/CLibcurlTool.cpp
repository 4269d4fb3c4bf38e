#include "CLibcurlTool.h"

#include <algorithm>
#include <mutex>

#include "Logging.h"

namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

struct TextSink {
    std::string* out;
    size_t limit;
};

size_t appendText(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<TextSink*>(user);
    const size_t n = size * count;
    if (!sink || !sink->out || sink->out->size() + n > sink->limit) return 0;
    sink->out->append(data, n);
    return n;
}

// Stalled servers must not hang a request forever: give up when fewer than one byte per second
// arrives for half a minute, or when the connection cannot be made in 15 s.
void setStallLimits(CURL* h) {
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 15L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
}

void logDetail(CURLcode rc, const char* detail) {
    if (rc != CURLE_OK && detail && *detail) LOG(INFO) << " Curl detail: " << detail;
}

}  // namespace

CLibcurlTool::CLibcurlTool() {
    initCurlOnce();
    m_handle = curl_easy_init();
}

CLibcurlTool::~CLibcurlTool() {
    if (m_handle) curl_easy_cleanup(m_handle);
}

std::string CLibcurlTool::errorMessage(CURLcode code) {
    switch (static_cast<int>(code)) {
        case 1: return " ProtoControl Unsupport!";
        case 2: return " Init Failed!";
        case 3: return " Curl RemotePath Error";
        case 4: return " libcurl InitFailed，Please Try again!";
        case 5: return " Cannt resovlve proxy!";
        case 6: return " cannt resovlve server!";
        case 7: return " Curl Connect Server Error";
        case 8: return " FTP服务器非法回复";
        case 9: return " Acess Denied!";
        case 10: return " FTP连接失败";
        case 11: return " FTP服务器未知回复";
        case 12: return " FTP连接超时";
        case 13: return " Curl unknow error!";
        case 14: return " Curl unknow error!";
        case 15: return " 内部故障";
        case 16: return " HTTP2错误";
        case 17: return " FTP获取传输类型失败";
        case 18: return " 服务器返回文件大小非法";
        case 22: return " HTTP请求错误";
        case 23: return " 接收数据错误";
        case 25: return " 上传数据错误";
        case 26: return " 本地文件读取错误";
        case 27: return " 内存不足";
        case 28: return " Curl Time out";
        case 30: return " FTP端口失败";
        case 33: return " 请求的数据范围错误";
        default: return " Curl Else Error: " + std::to_string(static_cast<int>(code));
    }
}

int CLibcurlTool::figureError(CURLcode code) {
    LOG(INFO) << errorMessage(code);
    return 1;
}

CURLcode CLibcurlTool::perform(const std::string& url, bool headOnly, std::string& received,
                               long* responseCode, bool logErrors) {
    received.clear();
    if (!m_handle) return CURLE_FAILED_INIT;
    CURL* h = m_handle;
    curl_easy_reset(h);
    TextSink sink{&received, kMaxTextBytes};
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_NOBODY, headOnly ? 1L : 0L);
    // For a HEAD the written text is the header block of every response in the redirect chain.
    curl_easy_setopt(h, CURLOPT_HEADER, headOnly ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendText);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
    setStallLimits(h);
    CURLcode rc = m_transport.apply(h);
    if (rc != CURLE_OK) {
        figureError(rc);
        return rc;
    }
    rc = curl_easy_perform(h);
    if (responseCode) {
        *responseCode = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, responseCode);
    }
    if (rc != CURLE_OK && logErrors) {
        figureError(rc);
        logDetail(rc, detail);
    }
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
    return rc;
}

CURLcode CLibcurlTool::request(const std::string& url, int64_t first, int64_t last, bool headOnly,
                               std::string& out, long* responseCode) {
    std::string received;
    const CURLcode rc = perform(url, headOnly, received, responseCode, true);
    const auto keep = static_cast<size_t>(last > first ? last - first : 0);
    out.assign(received, 0, std::min(keep, received.size()));
    return rc;
}

CURLcode CLibcurlTool::getHttpHeader(const std::string& url, std::string& header, long* responseCode) {
    return request(url, 0, 2000, true, header, responseCode);
}

CURLcode CLibcurlTool::getHttpBody(const std::string& url, int64_t first, int64_t last,
                                   std::string& body) {
    return request(url, first, last, false, body, nullptr);
}

CURLcode CLibcurlTool::httpGetText(const std::string& url, std::string& body, bool logErrors) {
    return perform(url, false, body, nullptr, logErrors);
}

CURLcode CLibcurlTool::httpPostText(const std::string& url, const std::string& body,
                                    std::string& reply, const char* caBundle) {
    initCurlOnce();
    CURL* h = curl_easy_init();
    if (!h) return CURLE_FAILED_INIT;
    TransportSettings transport;
    TextSink sink{&reply, kMaxTextBytes};
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendText);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 8L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 10L);
    CURLcode rc = transport.apply(h, caBundle);
    if (rc == CURLE_OK) rc = curl_easy_perform(h);
    curl_easy_cleanup(h);
    return rc;
}
