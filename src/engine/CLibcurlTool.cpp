#include "CLibcurlTool.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "CDownloader.h"
#include "HttpHeaderText.h"
#include "Logging.h"
#include "TextUtil.h"
#include "platform/Sync.h"

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
    if (!sink || !sink->out || sink->out->size() + n > sink->limit)
        return 0;
    sink->out->append(data, n);
    return n;
}

// Stalled servers must not hang a request forever: give up when fewer than one byte per second
// arrives for half a minute, when the connection cannot be made in 15 s, and in any case once
// `totalMs` have passed (a trickle of one byte a second passes the speed check for ever).
void setStallLimits(CURL* h, int64_t totalMs) {
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::min<int64_t>(15000, totalMs)));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(totalMs));
}

void logDetail(CURLcode rc, const char* detail) {
    if (rc != CURLE_OK && detail && *detail)
        LOG(INFO) << " Curl detail: " << detail;
}

}  // namespace

CLibcurlTool::CLibcurlTool() {
    initCurlOnce();
    m_handle = curl_easy_init();
}

CLibcurlTool::~CLibcurlTool() {
    if (m_handle)
        curl_easy_cleanup(m_handle);
}

std::string CLibcurlTool::errorMessage(CURLcode code) {
    switch (static_cast<int>(code)) {
        case 1:
            return " ProtoControl Unsupport!";
        case 2:
            return " Init Failed!";
        case 3:
            return " Curl RemotePath Error";
        case 4:
            return " libcurl InitFailed，Please Try again!";
        case 5:
            return " Cannt resovlve proxy!";
        case 6:
            return " cannt resovlve server!";
        case 7:
            return " Curl Connect Server Error";
        case 8:
            return " FTP服务器非法回复";
        case 9:
            return " Acess Denied!";
        case 10:
            return " FTP连接失败";
        case 11:
            return " FTP服务器未知回复";
        case 12:
            return " FTP连接超时";
        case 13:
            return " Curl unknow error!";
        case 14:
            return " Curl unknow error!";
        case 15:
            return " 内部故障";
        case 16:
            return " HTTP2错误";
        case 17:
            return " FTP获取传输类型失败";
        case 18:
            return " 服务器返回文件大小非法";
        case 22:
            return " HTTP请求错误";
        case 23:
            return " 接收数据错误";
        case 25:
            return " 上传数据错误";
        case 26:
            return " 本地文件读取错误";
        case 27:
            return " 内存不足";
        case 28:
            return " Curl Time out";
        case 30:
            return " FTP端口失败";
        case 33:
            return " 请求的数据范围错误";
        default:
            return " Curl Else Error: " + std::to_string(static_cast<int>(code));
    }
}

int CLibcurlTool::figureError(CURLcode code) {
    LOG(INFO) << errorMessage(code);
    return 1;
}

CURLcode CLibcurlTool::perform(const std::string& url, bool headOnly, std::string& received,
                               long* responseCode, bool logErrors) {
    received.clear();
    if (!m_handle)
        return CURLE_FAILED_INIT;
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
    setStallLimits(h, m_textTimeLimitMs);
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

CURLcode CLibcurlTool::getHttpHeader(const std::string& url, std::string& header,
                                     long* responseCode, size_t maxChars) {
    return request(url, 0, static_cast<int64_t>(std::min<size_t>(maxChars, kMaxTextBytes)), true,
                   header, responseCode);
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
    if (!h)
        return CURLE_FAILED_INIT;
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
    if (rc == CURLE_OK)
        rc = curl_easy_perform(h);
    curl_easy_cleanup(h);
    return rc;
}

namespace {

// State of one segment attempt, shared by its header and write callbacks.
struct SegmentTransfer {
    CDownloadThread* worker = nullptr;
    DownloadTask* task = nullptr;
    int64_t first = 0;          // offset asked for
    int64_t last = 0;           // last byte asked for
    int64_t expectedTotal = 0;  // the file length the table was built for
    long status = 0;            // status of the response being received
    bool rangeOk = false;       // its Content-Range is the range asked for
    bool refused = false;       // a body arrived that is not that range
    bool writeFailed = false;
    // Received bytes wait here and reach the file in few large writes, each under the shared
    // write mutex; the task's position moves only once they are in the file.
    std::vector<char> buffer;
    int64_t bufferOffset = 0;  // file offset of buffer[0]
};

constexpr size_t kSegmentBufferBytes = 256 * 1024;

bool flushSegment(SegmentTransfer& t) {
    if (t.buffer.empty())
        return true;
    platform::NamedMutex* mutex = t.worker->writeMutex();
    if (!mutex || mutex->lock(platform::kInfinite) == platform::WaitResult::Failed) {
        LOG(INFO) << " Thread: " << t.task->TaskId << " cannot take the write mutex";
        t.writeFailed = true;
        return false;
    }
    size_t done = 0;
    while (done < t.buffer.size()) {
        const ssize_t n = ::pwrite(t.worker->fd(), t.buffer.data() + done, t.buffer.size() - done,
                                   static_cast<off_t>(t.bufferOffset + static_cast<int64_t>(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    // Only bytes that reached the file count; a short write stops the attempt.
    t.task->WrittenPos = t.bufferOffset + static_cast<int64_t>(done);
    mutex->unlock();
    if (done != t.buffer.size()) {
        LOG(INFO) << " Thread: " << t.task->TaskId << " Write Error. Task id：" << t.task->TaskId
                  << " Download to:" << t.task->DownloadedPos() << " Receive:" << t.buffer.size()
                  << " Write:" << done << " Task EndPos:" << t.task->EndPos << " ("
                  << std::strerror(errno) << ")";
        t.writeFailed = true;
        t.buffer.clear();
        return false;
    }
    t.bufferOffset += static_cast<int64_t>(done);
    t.buffer.clear();
    return true;
}

}  // namespace

// Checks every response's status and Content-Range: a body is written only for a 206 answer
// whose range starts where this attempt asked and whose total is the file's length.
size_t HeaderCallback(char* data, size_t size, size_t count, void* user) {
    const size_t n = size * count;
    auto* t = static_cast<SegmentTransfer*>(user);
    if (!data || !t)
        return n;
    std::string_view line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (startsWithNoCase(line, "HTTP/")) {
        // A new response of the chain: judge it afresh.
        const size_t space = line.find(' ');
        t->status = space == std::string_view::npos ? 0 : parseDecimalInt(line.substr(space + 1));
        t->rangeOk = false;
        return n;
    }
    if (!startsWithNoCase(line, "Content-Range:"))
        return n;
    const size_t slash = line.rfind('/');
    if (slash == std::string_view::npos) {
        LOG(INFO) << " HeaderCallback error2: " << line;
        return 0;
    }
    const int64_t total = parseDecimalInt64(line.substr(slash + 1));
    if (total != t->expectedTotal) {
        LOG(INFO) << " HeaderCallback error1: " << t->expectedTotal << " != " << line;
        return 0;
    }
    const auto range = parseContentRange(line.substr(std::string_view("Content-Range:").size()));
    if (!range || range->first != t->first) {
        LOG(INFO) << " HeaderCallback error3: asked from " << t->first << ", got " << line;
        return 0;
    }
    t->rangeOk = true;
    return n;
}

size_t downloadFunc(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<SegmentTransfer*>(user);
    const size_t n = size * count;
    if (t->status != 206 || !t->rangeOk) {
        if (!t->refused)
            LOG(INFO) << " Thread: " << t->task->TaskId
                      << " answer is not the range asked for (status " << t->status
                      << "), nothing written";
        t->refused = true;
        return 0;
    }
    const int64_t end = t->bufferOffset + static_cast<int64_t>(t->buffer.size());
    const int64_t room = t->last + 1 - end;
    const size_t take =
        room <= 0 ? 0 : static_cast<size_t>(std::min<int64_t>(room, static_cast<int64_t>(n)));
    t->buffer.insert(t->buffer.end(), data, data + take);
    if ((t->buffer.size() >= kSegmentBufferBytes || take < n) && !flushSegment(*t))
        return 0;
    // A server that sends past the segment's end is cut off here; the segment is complete.
    return take;
}

CURLcode CLibcurlTool::httpDownloadContent(const std::string& url, int64_t first, int64_t last,
                                           int64_t expectedTotal, CDownloadThread* worker,
                                           int64_t timeLimitMs) {
    if (!m_handle)
        return CURLE_FAILED_INIT;
    DownloadTask* task = worker->task();
    const std::string range = std::to_string(first) + "-" + std::to_string(last);
    LOG(INFO) << " Request Range: (" << task->TaskId << ", " << (last - first) << ") " << range;

    SegmentTransfer t;
    t.worker = worker;
    t.task = task;
    t.first = first;
    t.last = last;
    t.expectedTotal = expectedTotal;
    t.bufferOffset = first;
    t.buffer.reserve(kSegmentBufferBytes + CURL_MAX_WRITE_SIZE);

    CURL* h = m_handle;
    curl_easy_reset(h);
    curl_slist* headers = curl_slist_append(nullptr, kUserAgentHeader);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, downloadFunc);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, HeaderCallback);
    timeLimitMs = std::max<int64_t>(1, timeLimitMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeLimitMs));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::min<int64_t>(3000, timeLimitMs)));
    CURLcode rc = m_transport.apply(h);
    if (rc == CURLE_OK)
        rc = curl_easy_perform(h);
    // What arrived before an early end (time-out, reset) is kept.
    if (!t.writeFailed)
        flushSegment(t);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    // Cutting off a server that sent past the segment's end is success, not an error.
    if (rc == CURLE_WRITE_ERROR && !t.refused && !t.writeFailed && task->complete())
        rc = CURLE_OK;
    if (rc != CURLE_OK)
        figureError(rc);
    return rc;
}
