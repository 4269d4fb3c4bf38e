#pragma once
// The piece model of a download: the remote file cut into 1 MiB tasks, the probe that learns the
// file's length, and the XML task file that lets an interrupted download resume.
//
// Threads: the driver thread owns the manager and its lists. Worker threads touch only the task
// they were dispatched, and only through the atomic fields below, so the driver can read
// positions and statuses (progress, task-file saves) while workers write them.

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

enum errorcode {
    kSuccess = 1,
    kLengthChanged = 2,    // stored ContentLength (or validator) differs from the remote file
    kBadTaskLayout = 3,    // the stored table is not the contiguous 1 MiB layout
    kNoContentLength = 6,  // the length could not be learned in 5 probes
    kCannotOpenFile = 7,   // the local output file could not be opened
};

inline constexpr int64_t kTaskSize = 1048576;

// A task's status. The numbers are stored in the task file, so they never change.
enum TaskState : int32_t {
    kTaskWaiting = 0,
    kTaskFinished = 1,
    kTaskReturned = 2,  // returned by a worker after an attempt
    kTaskDispatched = 3,
};

struct DownloadTask {
    std::atomic<int32_t> TaskStatus{kTaskWaiting};  // a TaskState
    int32_t TaskId = 0;                             // k: the task starts at (k - 1) MiB
    std::string RemotePath;
    std::string LocalPath;
    int64_t StartPos = 0;
    int64_t EndPos = 0;  // last byte, inclusive; for the last task the file length itself
    int64_t ContentLength = 0;
    std::atomic<int32_t> RequestTimes{0};

    // Offset of the next byte not yet written: StartPos .. lastByte() + 1. Kept exact, because
    // the stored form (DownloadedPos) cannot tell "last byte missing" from "complete".
    std::atomic<int64_t> WrittenPos{0};

    // The last byte this task covers.
    int64_t lastByte() const { return EndPos == ContentLength ? ContentLength - 1 : EndPos; }
    bool complete() const { return WrittenPos.load() > lastByte(); }
    // The next byte to write in the task file's form: it stops at EndPos.
    int64_t DownloadedPos() const { return std::min(WrittenPos.load(), EndPos); }
    int64_t writtenBytes() const { return WrittenPos.load() - StartPos; }
};

class CTaskManager {
public:
    virtual ~CTaskManager() = default;

    // Takes the LAST waiting task (last in, first out), marks it dispatched (3), files it taken.
    virtual DownloadTask* popTask();
    virtual int addWaitingTask(DownloadTask* task);
    virtual int addTakenTask(DownloadTask* task);

    int32_t TasksCount = 0;

protected:
    std::vector<std::unique_ptr<DownloadTask>> m_allTasks;  // in TaskId order; owns the tasks
    std::vector<DownloadTask*> m_takenTasks;
    std::vector<DownloadTask*> m_waitingTasks;
};

class CDownloadTaskManager : public CTaskManager {
public:
    CDownloadTaskManager(std::string url, std::string localPath, std::string taskFilePath);

    // Probes the remote file (following Location answers, at most kMaxRedirects times); 0 when
    // the length was not learned. `result` receives the last request's code. May report the
    // "3.CDNStatus" event.
    int64_t getContentLength(CURLcode& result);
    // Monotonic tick (platform::tickCount) after which no probe is sent any more: set-up as a
    // whole stays bounded however slowly the server answers. 0: each probe only has its own
    // limit.
    void setDeadline(uint64_t tick) { m_deadline = tick; }
    errorcode generateDownloadTask(const std::string& tag);
    // Resumes from the task file when it describes the remote file as it is now and the local
    // file has the table's length; otherwise builds a fresh table.
    errorcode loadDownloadTask(const std::string& tag);
    // Writes the task file atomically (a temporary file renamed over it). Always 1; a failure
    // is logged and leaves the previous file in place.
    int saveDownloadTask();
    // Fills the manager from the task file; false when the file cannot be read or is not a task
    // file at all (not XML, no root).
    bool readDownloadTask();
    // 1, 2 (the remote file is another one now) or 3. A probe that learns nothing cannot tell
    // and keeps the table: one failed request is no reason to fetch everything again.
    errorcode checkDownloadTask();
    void clearDownloadTask();
    int addTask(std::unique_ptr<DownloadTask> task);

    bool hasWaitingTask() const { return !m_waitingTasks.empty(); }
    bool hasUnfinishedTask() const;
    bool isAllTaskFinished() const;
    void reclaimTasks();
    int64_t getDownloadedSize() const;  // bytes actually written
    int64_t addDownloadTime(int64_t ms);
    int64_t getTotalRequestTimes() const;

    const std::string& url() const { return m_url; }
    const std::vector<std::unique_ptr<DownloadTask>>& tasks() const { return m_allTasks; }

    int64_t ContentLength = 0;
    int64_t DownloadTime = 0;
    // Validators of the file the table was built for (from the probe); empty when the server
    // sends none. A different validator at resume means another file: the table is rebuilt.
    std::string ETag;
    std::string LastModified;

    static constexpr int kMaxRedirects = 10;

private:
    std::string m_taskFilePath;
    std::string m_url;
    std::string m_localPath;
    // Validators seen by the latest probe.
    std::string m_probedETag;
    std::string m_probedLastModified;
    uint64_t m_deadline = 0;
};
