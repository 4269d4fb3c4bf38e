#include "CDownloader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>

#include "CLibcurlTool.h"
#include "Logging.h"
#include "platform/System.h"

namespace {

constexpr int64_t kGiB = 1073741824;
constexpr int64_t kMiB = 1048576;
constexpr int64_t kKiB = 1024;

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

std::string splitSize(int64_t bytes) {
    std::string out;
    int64_t r = bytes;
    for (auto [unit, letter] : {std::pair{kGiB, 'G'}, std::pair{kMiB, 'M'}, std::pair{kKiB, 'K'}}) {
        if (r > unit) {
            out += std::to_string(r / unit) + letter;
            r %= unit;
        }
    }
    if (r > 0)
        out += std::to_string(r) + "B";
    return out;
}

std::string formatSize(int64_t bytes) {
    if (bytes == 0)
        return "0.00B";
    const std::string split = splitSize(bytes);
    static constexpr char kLetters[] = {'G', 'M', 'K', 'B'};
    for (size_t i = 0; i < 4; ++i) {
        const size_t at = split.find(kLetters[i]);
        if (at == std::string::npos)
            continue;
        // The whole part is the number right before the letter.
        size_t begin = at;
        while (begin > 0 && split[begin - 1] >= '0' && split[begin - 1] <= '9')
            --begin;
        const double whole = std::stod(split.substr(begin, at - begin));
        double fraction = 0.0;
        if (kLetters[i] != 'B' && split.find(kLetters[i + 1], at) != std::string::npos) {
            size_t end = at + 1;
            while (end < split.size() && split[end] >= '0' && split[end] <= '9')
                ++end;
            if (end > at + 1) {
                fraction = std::stod(split.substr(at + 1, end - at - 1)) / 1024.0;
                fraction = static_cast<double>(static_cast<int64_t>(fraction * 100)) / 100.0;
            }
        }
        std::ostringstream out;
        out << (whole + fraction) << kLetters[i];
        return out.str();
    }
    return "0.00B";
}

void WakeEvent::set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signaled = true;
    m_cv.notify_one();
}

void WakeEvent::wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_signaled; });
    m_signaled = false;
}

CThread::CThread(platform::NamedMutex* writeMutex) : m_writeMutex(writeMutex) {}

CThread::~CThread() {
    if (m_thread.joinable())
        stopAndJoin();
}

int CThread::startThread() {
    m_thread = std::thread([this] { threadProc(); });
    return 1;
}

void CThread::dispatch(DownloadTask* task) {
    m_task = task;
    m_state = kWork;
    m_wake.set();
}

void CThread::stopAndJoin() {
    m_state = kExit;
    m_wake.set();
    if (m_thread.joinable())
        m_thread.join();
}

void CThread::threadProc() {
    while (true) {
        const int state = m_state.load();
        if (state == kExit)
            return;
        if (state == kIdle) {
            m_wake.wait();
            continue;
        }
        run();
        // A stop request that came during the attempt wins over going idle.
        int expected = kWork;
        m_state.compare_exchange_strong(expected, kIdle);
    }
}

int CDownloadThread::run() {
    DownloadTask* t = task();
    if (!t)
        return 1;
    if (t->complete()) {
        t->TaskStatus = kTaskFinished;
        return 1;
    }
    if (!m_tool)
        m_tool = std::make_unique<CLibcurlTool>();
    if (m_tool->httpDownloadContent(t->RemotePath, t->WrittenPos, t->lastByte(), t->ContentLength,
                                    this, m_attemptLimitMs) != CURLE_OK)
        m_tool.reset();
    ++t->RequestTimes;
    t->TaskStatus = kTaskReturned;
    return 1;
}

CThreadManager::CThreadManager()
    : m_writeMutex(platform::NamedMutex::create("mutex_for_downloadthread")) {
    if (!m_writeMutex)
        LOG(INFO) << " Create mutex_for_downloadthread failed";
}

CThreadManager::~CThreadManager() {
    for (auto& thread : m_threads)
        thread->stopAndJoin();
}

int CThreadManager::createThreads(int count) {
    for (int i = 0; i < count; ++i) {
        m_threads.push_back(std::make_unique<CThread>(m_writeMutex.get()));
        m_threads.back()->startThread();
        m_idle.push_back(m_threads.back().get());
    }
    return count;
}

int CThreadManager::assignTask(DownloadTask* task) {
    if (m_idle.empty())
        return 0;
    CThread* thread = m_idle.back();
    m_idle.pop_back();
    thread->dispatch(task);
    m_busy.push_back(thread);
    return 1;
}

void CThreadManager::collectIdleThreads() {
    std::vector<CThread*> stillBusy;
    for (CThread* thread : m_busy) {
        if (thread->state() == CThread::kIdle)
            m_idle.push_back(thread);
        else
            stillBusy.push_back(thread);
    }
    m_busy.swap(stillBusy);
}

void CThreadManager::stopAllThreads() {
    for (CThread* thread : m_idle)
        thread->stopAndJoin();
}

CDownloadThreadManager::~CDownloadThreadManager() {
    // Workers use the descriptor: they end before it closes.
    for (auto& thread : m_threads)
        thread->stopAndJoin();
    closeFile();
}

int CDownloadThreadManager::createThreads(int count) {
    if (!m_writeMutex)
        return 0;
    // An existing file is opened for update so bytes already written stay in place.
    m_fd = ::open(m_localPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        LOG(INFO) << " Open local file failed: " << m_localPath << ": " << std::strerror(errno);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        m_threads.push_back(
            std::make_unique<CDownloadThread>(m_writeMutex.get(), m_fd, m_attemptLimitMs));
        m_threads.back()->startThread();
        m_idle.push_back(m_threads.back().get());
    }
    return count;
}

bool CDownloadThreadManager::setFileLength(int64_t length) {
    struct stat st {};
    if (m_fd < 0 || fstat(m_fd, &st) != 0)
        return false;
    if (st.st_size == length)
        return true;
    if (ftruncate(m_fd, static_cast<off_t>(length)) != 0) {
        LOG(INFO) << " Set length " << length << " of " << m_localPath
                  << " failed: " << std::strerror(errno);
        return false;
    }
    return true;
}

bool CDownloadThreadManager::closeFile() {
    if (m_fd < 0)
        return true;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        LOG(INFO) << " Close local file failed: " << m_localPath << ": " << std::strerror(errno);
        return false;
    }
    return true;
}

CDownloader::CDownloader(std::string url, std::string localPath, std::string taskFilePath,
                         int workers)
    : m_url(url),
      m_localPath(localPath),
      m_taskFilePath(taskFilePath),
      m_workers(workers),
      m_taskManager(url, localPath, taskFilePath),
      m_threadManager(localPath) {
    m_info.tick = platform::tickCount();
    m_driver = std::thread([this] { downloaderThread(); });
}

CDownloader::~CDownloader() {
    stopDownload();
    waitForDriver();
}

errorcode CDownloader::downloadInit(const std::string& tag) {
    if (m_threadManager.createThreads(m_workers) == 0)
        return kCannotOpenFile;
    const errorcode rc = m_taskManager.loadDownloadTask(tag);
    if (rc != kSuccess) {
        LOG(INFO) << " [Error]: "
                  << "error to loadDownloadTask";
        return rc;
    }
    // Old bytes past the end would survive a fresh table, and a file short of its length would
    // look like another file to the next run and be fetched again.
    if (!m_threadManager.setFileLength(m_taskManager.ContentLength))
        return kCannotOpenFile;
    {
        std::lock_guard<std::mutex> lock(m_infoMutex);
        m_info.tick = platform::tickCount();
        m_info.downloaded = m_taskManager.getDownloadedSize();
        m_info.downloadTime = m_taskManager.DownloadTime;
    }
    m_started = false;
    return kSuccess;
}

int CDownloader::startDownload() {
    m_runState = kRunning;
    return 1;
}

int CDownloader::stopDownload() {
    m_runState = kStopped;
    return 1;
}

void CDownloader::waitForDriver() {
    if (m_driver.joinable())
        m_driver.join();
}

DownloadInfo CDownloader::getDownloadInfo() const {
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_info;
}

int CDownloader::updateDownloadInfo() {
    std::lock_guard<std::mutex> lock(m_infoMutex);
    const uint64_t now = platform::tickCount();
    const int64_t downloaded = m_taskManager.getDownloadedSize();
    if (now == m_info.tick)
        return 1;
    DownloadInfo next = m_info;
    const auto interval = static_cast<int64_t>(now - m_info.tick);
    next.tick = now;
    next.downloadTime = m_taskManager.addDownloadTime(interval);
    const int64_t speed = (downloaded - m_info.downloaded) * 1000 / interval;
    next.speedText = formatSize(speed) + "/S";
    next.downloaded = downloaded;
    const int64_t length = m_taskManager.ContentLength;
    const double ratio =
        length > 0 ? static_cast<double>(downloaded) / static_cast<double>(length) : 0.0;
    next.percent = static_cast<double>(static_cast<int64_t>(ratio * 10000)) / 100.0;
    next.averageBytesPerSecond =
        next.downloadTime > 0 ? (downloaded / next.downloadTime) * 1000 : 0;
    next.averageText = formatSize(next.averageBytesPerSecond) + "/S";
    next.requestCount = static_cast<int32_t>(m_taskManager.getTotalRequestTimes());
    m_info = next;
    return 1;
}

void CDownloader::downloaderThread() {
    double saves = 0;
    auto save = [this] {
        std::lock_guard<std::mutex> lock(m_infoMutex);
        // No table was built (set-up failed): there is nothing to resume from.
        if (m_taskManager.ContentLength > 0)
            m_taskManager.saveDownloadTask();
    };
    while (m_runState != kStopped) {
        if (m_runState == kPaused) {
            sleepMs(1);
            continue;
        }
        if (saves < getDownloadInfo().percent / 10) {
            saves += 1;
            save();
        }
        if (!m_taskManager.hasUnfinishedTask() && !m_threadManager.hasBusyThread()) {
            m_runState = kStopped;
            sleepMs(100);
            LOG(INFO) << " Download will stop";
            continue;
        }
        m_started = true;
        m_threadManager.collectIdleThreads();
        m_taskManager.reclaimTasks();
        updateDownloadInfo();
        while (m_taskManager.hasWaitingTask() && m_threadManager.hasIdleThread())
            m_threadManager.assignTask(m_taskManager.popTask());
        sleepMs(1);
    }
    while (m_threadManager.hasBusyThread()) {
        m_threadManager.collectIdleThreads();
        m_taskManager.reclaimTasks();
        updateDownloadInfo();
        sleepMs(1);
    }
    if (!m_taskManager.isAllTaskFinished()) {
        LOG(INFO) << " Stopping Download,"
                  << "Mission Failed";
        save();
    }
    m_threadManager.stopAllThreads();
    m_fileClosedCleanly = m_threadManager.closeFile();
    updateDownloadInfo();
    LOG(INFO) << " Stopping Download,"
              << "Update DownloadInfo";
    save();
    LOG(INFO) << " Download Stopped！";
}
