#pragma once
// One download: a driver thread that hands waiting tasks to a fixed pool of worker threads,
// reclaims the tasks they return, keeps the progress figures and saves the task file.
//
// Threads: the controlling thread constructs the CDownloader, calls downloadInit,
// startDownload / stopDownload, reads getDownloadInfo and finally waitForDriver; the driver thread
// alone touches the task and thread lists; each worker touches only its current task. Destroying
// the CDownloader stops the driver, wakes and joins every worker and closes the file.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CDownloadTaskManager.h"
#include "CLibcurlTool.h"
#include "platform/Sync.h"

// "1536" → "1K512B": whole units, largest first (a unit only when strictly more remains).
std::string splitSize(int64_t bytes);
// "1536" → "1.5K", 0 → "0.00B".
std::string formatSize(int64_t bytes);

struct DownloadInfo {
    uint64_t tick = 0;       // monotonic milliseconds of the update
    int64_t downloaded = 0;  // bytes written so far
    std::string speedText = "0.0B/S";
    double percent = 0.0;      // truncated to two decimals
    int64_t downloadTime = 0;  // milliseconds, accumulated across runs
    std::string averageText = "0.0B/S";
    int64_t averageBytesPerSecond = 0;
    int32_t requestCount = 0;
};

// In-process auto-reset event: one wait is released per set.
class WakeEvent {
public:
    void set();
    void wait();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signaled = false;
};

class CThread {
public:
    enum State { kExit = 0, kWork = 1, kIdle = 2 };

    explicit CThread(platform::NamedMutex* writeMutex);
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    virtual int run() { return 1; }

    int startThread();
    // Hands `task` to the thread and wakes it.
    void dispatch(DownloadTask* task);
    // Asks the thread to end, wakes it and waits for it.
    void stopAndJoin();

    int state() const { return m_state.load(); }
    void setState(int state) { m_state.store(state); }
    DownloadTask* task() const { return m_task.load(); }
    platform::NamedMutex* writeMutex() const { return m_writeMutex; }

private:
    void threadProc();

    std::thread m_thread;
    std::atomic<int> m_state{kIdle};
    std::atomic<DownloadTask*> m_task{nullptr};
    platform::NamedMutex* m_writeMutex;
    WakeEvent m_wake;
};

class CDownloadThread : public CThread {
public:
    CDownloadThread(platform::NamedMutex* writeMutex, int fd, int64_t attemptLimitMs)
        : CThread(writeMutex), m_fd(fd), m_attemptLimitMs(attemptLimitMs) {}
    ~CDownloadThread() override { stopAndJoin(); }
    int run() override;
    int fd() const { return m_fd; }

private:
    int m_fd;  // the download's shared output file, not owned
    int64_t m_attemptLimitMs;
    // Kept across attempts so the connection to the server is reused (a fresh TCP and TLS
    // handshake per 1 MiB segment costs more than the segment on a fast link); dropped after a
    // failed attempt so the next one starts clean. Used by the worker thread only.
    std::unique_ptr<CLibcurlTool> m_tool;
};

class CThreadManager {
public:
    CThreadManager();
    virtual ~CThreadManager();
    virtual int createThreads(int count);

    int assignTask(DownloadTask* task);
    void collectIdleThreads();
    bool hasBusyThread() const { return !m_busy.empty(); }
    bool hasIdleThread() const { return !m_idle.empty(); }
    void stopAllThreads();

protected:
    std::vector<std::unique_ptr<CThread>> m_threads;  // owns every thread
    std::vector<CThread*> m_idle;
    std::vector<CThread*> m_busy;
    std::unique_ptr<platform::NamedMutex> m_writeMutex;  // "mutex_for_downloadthread"
};

class CDownloadThreadManager : public CThreadManager {
public:
    explicit CDownloadThreadManager(std::string localPath) : m_localPath(std::move(localPath)) {}
    ~CDownloadThreadManager() override;
    // Opens the output file (kept as it is when it exists, created otherwise; never through a
    // link), then starts the workers. 0 when the file cannot be opened.
    int createThreads(int count) override;
    // Gives the open output file `length` bytes; false (logged) when it cannot.
    bool setFileLength(int64_t length);
    // Closes the output file; false (logged) when the close reports a write error.
    bool closeFile();
    // Limit of one segment attempt for workers created from now on.
    void setAttemptLimitMs(int64_t ms) { m_attemptLimitMs = ms; }

private:
    std::string m_localPath;
    int m_fd = -1;
    int64_t m_attemptLimitMs = CLibcurlTool::kSegmentTimeLimitMs;
};

class CDownloader {
public:
    enum RunState { kStopped = 0, kRunning = 1, kPaused = 2 };

    CDownloader(std::string url, std::string localPath, std::string taskFilePath, int workers);
    ~CDownloader();
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;

    // Before downloadInit: the tick by which set-up (the probes) must be over, and the limit of
    // one segment attempt (which also bounds how long a stop waits for running attempts).
    void setSetupDeadline(uint64_t tick) { m_taskManager.setDeadline(tick); }
    void setAttemptLimitMs(int64_t ms) { m_threadManager.setAttemptLimitMs(ms); }

    // Opens the file, builds or resumes the task table and gives the file the table's length,
    // so that a file killed half-way still matches its saved task file. The progress figures
    // start from what is already there.
    errorcode downloadInit(const std::string& tag);
    int startDownload();
    int stopDownload();
    int updateDownloadInfo();
    // Waits for the driver thread to end (after stopDownload, or once it stopped by itself).
    void waitForDriver();

    DownloadInfo getDownloadInfo() const;
    int runState() const { return m_runState.load(); }
    bool started() const { return m_started.load(); }
    int64_t contentLength() const { return m_taskManager.ContentLength; }
    int32_t tasksCount() const { return m_taskManager.TasksCount; }
    // True when the output file was closed cleanly (only meaningful once the driver ended).
    bool fileClosedCleanly() const { return m_fileClosedCleanly.load(); }

private:
    void downloaderThread();

    std::string m_url;
    std::string m_localPath;
    std::string m_taskFilePath;
    int m_workers;
    std::atomic<int> m_runState{kPaused};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_fileClosedCleanly{false};
    mutable std::mutex m_infoMutex;  // guards m_info and the task manager's DownloadTime
    DownloadInfo m_info;
    CDownloadTaskManager m_taskManager;
    CDownloadThreadManager m_threadManager;
    std::thread m_driver;
};
