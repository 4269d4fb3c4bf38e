#include "DownLoadImpl.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "CDownloader.h"
#include "FuntionImpl.h"
#include "Logging.h"
#include "platform/FileIo.h"
#include "platform/Network.h"
#include "platform/Paths.h"
#include "platform/Sync.h"
#include "platform/System.h"
#include "report/EventReporter.h"

namespace {

std::string truncatedRate(double mibPerSecond, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format,
                  static_cast<double>(static_cast<int64_t>(mibPerSecond * 100)) / 100.0);
    return text;
}

// Two downloads into one file corrupt it: the lock is held for the whole download and dies
// with its holder. Released before it is closed, on the thread that took it.
class DownloadLock {
public:
    explicit DownloadLock(const std::string& localPath) {
        const std::string name = "kvdownload:" + platform::longPath(localPath).string();
        auto mutex = platform::NamedMutex::create(name);
        if (!mutex)
            return;
        const auto r = mutex->lock(0);
        if (r == platform::WaitResult::Signaled || r == platform::WaitResult::Abandoned)
            m_mutex = std::move(mutex);
    }
    ~DownloadLock() {
        if (m_mutex)
            m_mutex->unlock();
    }
    DownloadLock(const DownloadLock&) = delete;
    DownloadLock& operator=(const DownloadLock&) = delete;
    bool held() const { return m_mutex != nullptr; }

private:
    std::unique_ptr<platform::NamedMutex> m_mutex;
};

}  // namespace

int CDownLoadImpl::SuperDownloadFile(const std::string& url, const std::string& localPath,
                                     const DownloadWatch& watch) {
    const std::string taskFile = localPath + ".xml";
    const bool cdn = FuntionImpl::IsCdnUrl(url);
    auto alive = watch.isNetworkAlive ? watch.isNetworkAlive : platform::isNetworkAlive;

    DownloadLock lock(localPath);
    if (!lock.held()) {
        LOG(INFO) << " Another download into " << localPath << " is running, this one is refused";
        return kInitFailed;
    }

    const uint64_t setupDeadline = platform::tickCount() + watch.setupLimitMs;
    if (platform::fileSize64(localPath) >= 0) {
        CDownloadTaskManager probe(url, "", "");
        probe.setDeadline(setupDeadline);
        CURLcode rc = CURLE_OK;
        const int64_t remote = probe.getContentLength(rc);
        // A probe that learned nothing (a network hiccup) is no reason to throw away what was
        // downloaded; set-up then fails on its own and the next attempt resumes.
        if (remote > 0 && remote != platform::fileSize64(localPath)) {
            std::error_code ec;
            std::filesystem::remove(localPath, ec);
            std::filesystem::remove(taskFile, ec);
        }
    }

    CDownloader downloader(url, localPath, taskFile, watch.workers);
    downloader.setSetupDeadline(setupDeadline);
    downloader.setAttemptLimitMs(
        std::min<int64_t>(watch.attemptLimitMs, static_cast<int64_t>(watch.stallMs)));
    if (downloader.downloadInit("Download") != kSuccess) {
        downloader.stopDownload();
        downloader.waitForDriver();
        return kInitFailed;
    }
    downloader.startDownload();
    // Bytes of an earlier run are no speed of this one.
    int64_t lastCount = downloader.getDownloadInfo().downloaded;
    uint64_t lastChange = platform::tickCount();
    double highest = 0.0;
    double lowest = 102400.0;
    bool noSpeedSent = false;

    auto stop = [&](int result) {
        downloader.stopDownload();
        downloader.waitForDriver();
        return result;
    };
    while (true) {
        if (!alive())
            return stop(kNoNetwork);
        const DownloadInfo info = downloader.getDownloadInfo();
        if (info.downloaded > lastCount) {
            if (info.tick > lastChange) {
                const double sample =
                    (static_cast<double>(info.downloaded - lastCount) / 1024 / 1024) /
                    (static_cast<double>(info.tick - lastChange) / 1000);
                highest = std::max(highest, sample);
                lowest = std::min(lowest, sample);
            }
            lastCount = info.downloaded;
            lastChange = info.tick;
        } else if (info.downloaded == lastCount) {
            if (info.tick > lastChange + watch.noSpeedEventMs - 1 && !noSpeedSent) {
                EventReporter::instance().report("DownloaderInfo00", "NoDownloadSpeed", "", false);
                noSpeedSent = true;
            }
            if (info.tick > lastChange + watch.stallMs - 1)
                return stop(kStalled);
        }
        if (cdn && info.requestCount > 3 * downloader.tasksCount()) {
            LOG(INFO) << " ---cdn fail:" << info.requestCount << " > 3 * "
                      << downloader.tasksCount();
            return stop(kTooManyCdnRequests);
        }
        if (downloader.runState() != CDownloader::kStopped) {
            if (watch.showProgress)
                watch.showProgress(info.downloaded, downloader.contentLength());
            std::this_thread::sleep_for(std::chrono::milliseconds(watch.passSleepMs));
            continue;
        }

        downloader.waitForDriver();
        downloader.updateDownloadInfo();
        const DownloadInfo final = downloader.getDownloadInfo();
        // A file whose close failed may not hold what was written: it is no download.
        if (final.downloaded < downloader.contentLength() || !downloader.fileClosedCleanly())
            return kInitFailed;
        if (!downloader.started()) {
            if (watch.showProgress)
                watch.showProgress(downloader.contentLength(), downloader.contentLength());
            return kDownloaded;
        }
        const std::string average =
            truncatedRate(static_cast<double>(final.averageBytesPerSecond) / 1048576, "%.1fMB/s");
        LOG(INFO) << " Average speed: " << average;
        auto& reporter = EventReporter::instance();
        reporter.report("DownloadSpeed", cdn ? "CDN" : "Server", average, false);
        reporter.report("DownloaderInfo", "TotalRequestTimes", std::to_string(final.requestCount),
                        false);
        const std::string minText = truncatedRate(lowest, "%.1f MB/s");
        const std::string maxText = truncatedRate(highest, "%.1f MB/s");
        reporter.report("DownloaderInfo00", "DownloadRateMin", minText, false);
        reporter.report("DownloaderInfo00", "DownloadRateMax", maxText, false);
        LOG(INFO) << " Download speed range " << minText << " - " << maxText;
        return kDownloaded;
    }
}

std::string CDownLoadImpl::md5OfFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    CMd5Stream md5;
    bool ok = true;
    std::vector<unsigned char> block(1 << 20);
    while (ok) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        ok = md5.update(block.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return ok ? md5.finishHex() : std::string();
}

int CDownLoadImpl::checkMD5(const std::string& path, const std::string& expectedA,
                            const std::string& expectedB, const std::string& tag) {
    return checkMD5Digest(path, md5OfFile(path), expectedA, expectedB, tag);
}

int CDownLoadImpl::checkMD5Digest(const std::string& path, const std::string& digest,
                                  const std::string& expectedA, const std::string& expectedB,
                                  const std::string& tag) {
    LOG(INFO) << " MD5 of file " << path << " is " << digest;
    // Made afresh, never written through a link planted under the record's name.
    const std::string recordPath = path + ".db";
    ::unlink(recordPath.c_str());
    const int record =
        ::open(recordPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (record >= 0) {
        const std::string text = tag + "###" + digest;
        platform::writeAll(record, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
        ::close(record);
    }
    // An unreadable file has no digest and matches nothing, not even an empty expectation.
    return !digest.empty() && (digest == expectedA || digest == expectedB) ? 1 : 0;
}

struct CMd5Stream::State {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    bool ok = false;
};

CMd5Stream::CMd5Stream() : m_state(std::make_unique<State>()) {
    m_state->ok = m_state->ctx && EVP_DigestInit_ex(m_state->ctx.get(), EVP_md5(), nullptr) == 1;
}

CMd5Stream::~CMd5Stream() = default;

bool CMd5Stream::update(const void* data, size_t size) {
    return m_state->ok = m_state->ok && EVP_DigestUpdate(m_state->ctx.get(), data, size) == 1;
}

std::string CMd5Stream::finishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_state->ok || EVP_DigestFinal_ex(m_state->ctx.get(), digest, &length) != 1) return {};
    m_state->ok = false;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}
