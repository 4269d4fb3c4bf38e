#include "CDownloadTaskManager.h"

#include <fcntl.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "CLibcurlTool.h"
#include "HttpHeaderText.h"
#include "Logging.h"
#include "TextUtil.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "report/EventReporter.h"

DownloadTask* CTaskManager::popTask() {
    if (m_waitingTasks.empty())
        return nullptr;
    DownloadTask* task = m_waitingTasks.back();
    m_waitingTasks.pop_back();
    task->TaskStatus = kTaskDispatched;
    m_takenTasks.push_back(task);
    return task;
}

int CTaskManager::addWaitingTask(DownloadTask* task) {
    if (!task)
        return 0;
    m_waitingTasks.push_back(task);
    return 1;
}

int CTaskManager::addTakenTask(DownloadTask* task) {
    if (!task)
        return 0;
    m_takenTasks.push_back(task);
    return 1;
}

CDownloadTaskManager::CDownloadTaskManager(std::string url, std::string localPath,
                                           std::string taskFilePath)
    : m_taskFilePath(std::move(taskFilePath)),
      m_url(std::move(url)),
      m_localPath(std::move(localPath)) {}

int64_t CDownloadTaskManager::getContentLength(CURLcode& result) {
    result = CURLE_OK;
    CLibcurlTool tool;
    ProbeHeaders probe;
    long lastStatus = 0;
    for (int fetch = 0; fetch <= kMaxRedirects; ++fetch) {
        if (m_deadline != 0) {
            const uint64_t now = platform::tickCount();
            if (now >= m_deadline) {
                LOG(INFO) << " Set-up time limit reached, no probe of " << m_url;
                result = CURLE_OPERATION_TIMEDOUT;
                return 0;
            }
            tool.setTextTimeLimit(static_cast<int64_t>(m_deadline - now));
        }
        std::string header;
        result = tool.getHttpHeader(m_url, header, &lastStatus, CLibcurlTool::kMaxTextBytes);
        probe = parseProbeHeaders(header);
        if (probe.cdn) {
            LOG(INFO) << " Cdn result: " << probe.cacheStatus << ", " << probe.edge;
            EventReporter::instance().report("Download", "3.CDNStatus",
                                             probe.edge + "/" + probe.cacheStatus, false);
        }
        if (!probe.location)
            break;
        const std::string next = resolveLocation(m_url, *probe.location);
        if (next.empty()) {
            LOG(INFO) << " Bad Location " << *probe.location << " from " << m_url;
            return 0;
        }
        m_url = next;
        if (fetch == kMaxRedirects) {
            LOG(INFO) << " Too many redirects, last: " << m_url;
            return 0;
        }
    }
    // An error page's length is not the file's.
    const int64_t length = lastStatus >= 200 && lastStatus < 300 ? probe.length : 0;
    m_probedETag = probe.etag;
    m_probedLastModified = probe.lastModified;
    LOG(INFO) << " Get Contentlength = " << length;
    return length;
}

errorcode CDownloadTaskManager::generateDownloadTask(const std::string& tag) {
    std::vector<std::string> records;
    int64_t length = 0;
    for (int probe = 0; probe < 5; ++probe) {
        CURLcode rc = CURLE_OK;
        length = getContentLength(rc);
        if (length > 0) {
            records.push_back("Success");
            break;
        }
        records.push_back("error:" + std::to_string(static_cast<int>(rc)));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    while (records.size() < 5)
        records.push_back("Null");
    if (!tag.empty()) {
        const std::string label =
            records[0] + "/" + records[1] + "/" + records[2] + "/" + records[3] + "/" + records[4];
        EventReporter::instance().report("GetSize", tag, label, false);
        LOG(INFO) << " GetSize: " << tag << ", " << label;
    }
    if (length <= 0) {
        LOG(INFO) << " [Error]: "
                  << "Get ContentLength Fail, tried 5 times";
        return kNoContentLength;
    }

    ContentLength = length;
    ETag = m_probedETag;
    LastModified = m_probedLastModified;
    const int64_t n = ContentLength / kTaskSize;
    TasksCount = static_cast<int32_t>(n == 0 ? 1 : n);
    for (int32_t k = 1; k <= TasksCount; ++k) {
        auto task = std::make_unique<DownloadTask>();
        task->StartPos = (k - 1) * kTaskSize;
        task->WrittenPos = task->StartPos;
        task->EndPos = k == TasksCount ? ContentLength : k * kTaskSize - 1;
        task->TaskStatus = kTaskWaiting;
        task->RemotePath = m_url;
        task->LocalPath = m_localPath;
        task->TaskId = k;
        task->RequestTimes = 0;
        task->ContentLength = ContentLength;
        addTask(std::move(task));
    }
    return kSuccess;
}

errorcode CDownloadTaskManager::loadDownloadTask(const std::string& tag) {
    if (access(m_taskFilePath.c_str(), R_OK) != 0)
        return generateDownloadTask(tag);
    errorcode result = readDownloadTask() ? checkDownloadTask() : kBadTaskLayout;
    // The file is sized when its table is built, so a file of another length was not written
    // by this table (removed, replaced, or cut short by someone else).
    if (result == kSuccess && platform::fileSize64(m_localPath) != ContentLength) {
        LOG(INFO) << " Local file " << m_localPath << " is not " << ContentLength << " bytes long";
        result = kBadTaskLayout;
    }
    if (result == kSuccess) {
        // Tasks fetch what the probe found now, not what a file on disk says.
        for (auto& task : m_allTasks) {
            task->RemotePath = m_url;
            task->LocalPath = m_localPath;
        }
        LOG(INFO) << " Load tasks from file success!";
        return kSuccess;
    }
    LOG(INFO) << " taskinfo file error";
    clearDownloadTask();
    return generateDownloadTask(tag);
}

namespace {

void addNumber(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* parent, const char* name,
               int64_t value) {
    auto* e = doc.NewElement(name);
    e->SetText(std::to_string(value).c_str());
    parent->InsertEndChild(e);
}

void addText(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* parent, const char* name,
             const std::string& value) {
    auto* e = doc.NewElement(name);
    e->SetText(value.c_str());
    parent->InsertEndChild(e);
}

int64_t number(const tinyxml2::XMLElement* e) {
    const char* text = e->GetText();
    return text ? parseDecimalInt64(text) : 0;
}

std::string text(const tinyxml2::XMLElement* e) {
    const char* t = e->GetText();
    return t ? t : "";
}

}  // namespace

int CDownloadTaskManager::saveDownloadTask() {
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    auto* root = doc.NewElement("TaskInfo");
    doc.InsertEndChild(root);
    addNumber(doc, root, "TasksCount", TasksCount);
    addNumber(doc, root, "ContentLength", ContentLength);
    addNumber(doc, root, "DownloadTime", DownloadTime);
    if (!ETag.empty())
        addText(doc, root, "ETag", ETag);
    if (!LastModified.empty())
        addText(doc, root, "LastModified", LastModified);
    for (const auto& task : m_allTasks) {
        auto* e = doc.NewElement("Task");
        root->InsertEndChild(e);
        addNumber(doc, e, "StartPos", task->StartPos);
        addNumber(doc, e, "EndPos", task->EndPos);
        addNumber(doc, e, "DownloadedPos", task->DownloadedPos());
        addText(doc, e, "RemotePath", task->RemotePath);
        addText(doc, e, "LocalPath", task->LocalPath);
        addNumber(doc, e, "TaskStatus", task->TaskStatus);
        addNumber(doc, e, "TaskId", task->TaskId);
        addNumber(doc, e, "RequestTimes", task->RequestTimes);
    }
    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);

    // Written beside it and renamed over it, so a crash leaves the old file or the new one. The
    // temporary name is predictable: whatever is there is removed and the file made afresh,
    // never written through a link.
    const std::string tmp = m_taskFilePath + ".tmp";
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const size_t size = static_cast<size_t>(printer.CStrSize() > 0 ? printer.CStrSize() - 1 : 0);
    bool ok =
        fd >= 0 && platform::writeAll(fd, {reinterpret_cast<const uint8_t*>(printer.CStr()), size});
    if (fd >= 0)
        ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), m_taskFilePath.c_str()) != 0) {
        LOG(INFO) << " Save task file failed: " << m_taskFilePath << ": " << std::strerror(errno);
        ::unlink(tmp.c_str());
    }
    return 1;
}

bool CDownloadTaskManager::readDownloadTask() {
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(m_taskFilePath.c_str()) != tinyxml2::XML_SUCCESS)
        return false;
    const auto* root = doc.FirstChildElement();
    if (!root)
        return false;
    for (const auto* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string_view name = e->Name();
        if (name == "TasksCount") {
            TasksCount = static_cast<int32_t>(number(e));
        } else if (name == "ContentLength") {
            ContentLength = number(e);
        } else if (name == "DownloadTime") {
            DownloadTime = number(e);
        } else if (name == "ETag") {
            ETag = text(e);
        } else if (name == "LastModified") {
            LastModified = text(e);
        } else if (name == "Task") {
            auto task = std::make_unique<DownloadTask>();
            int64_t downloaded = 0;
            for (const auto* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
                const std::string_view field = c->Name();
                if (field == "StartPos")
                    task->StartPos = number(c);
                else if (field == "EndPos")
                    task->EndPos = number(c);
                else if (field == "DownloadedPos")
                    downloaded = number(c);
                else if (field == "TaskStatus")
                    task->TaskStatus = static_cast<int32_t>(number(c));
                else if (field == "TaskId")
                    task->TaskId = static_cast<int32_t>(number(c));
                else if (field == "RemotePath")
                    task->RemotePath = text(c);
                else if (field == "LocalPath")
                    task->LocalPath = text(c);
            }
            task->RequestTimes = 0;
            if (task->ContentLength == 0 && ContentLength != 0)
                task->ContentLength = ContentLength;
            // The stored form for now; checkDownloadTask turns it into the exact position.
            task->WrittenPos = downloaded;
            addTask(std::move(task));
        }
    }
    return true;
}

errorcode CDownloadTaskManager::checkDownloadTask() {
    CURLcode rc = CURLE_OK;
    const int64_t length = getContentLength(rc);
    if (length == 0) {
        LOG(INFO) << " Remote length unknown now (" << static_cast<int>(rc) << "), task table kept";
    } else if (length != ContentLength) {
        return kLengthChanged;
    } else if ((!ETag.empty() && !m_probedETag.empty() && ETag != m_probedETag) ||
               (!LastModified.empty() && !m_probedLastModified.empty() &&
                LastModified != m_probedLastModified)) {
        LOG(INFO) << " Remote file changed: validators differ";
        return kLengthChanged;
    }
    // The layout the generator makes, and nothing else: contiguous 1 MiB tasks, the remainder
    // in the last one.
    const int64_t n = ContentLength / kTaskSize;
    if (ContentLength <= 0 || static_cast<int64_t>(m_allTasks.size()) != (n == 0 ? 1 : n))
        return kBadTaskLayout;
    int64_t expected = 0;
    for (const auto& task : m_allTasks) {
        if (task->StartPos != (static_cast<int64_t>(task->TaskId) - 1) * kTaskSize ||
            task->StartPos != expected)
            return kBadTaskLayout;
        expected = task->EndPos + 1;
    }
    if (expected != ContentLength + 1)
        return kBadTaskLayout;

    // Positions and statuses are trusted only inside their task.
    for (const auto& task : m_allTasks) {
        task->ContentLength = ContentLength;
        const int64_t stored = task->WrittenPos;
        const int32_t status = task->TaskStatus;
        if (stored < task->StartPos || stored > task->EndPos || status < kTaskWaiting ||
            status > kTaskDispatched || (status == kTaskFinished && stored != task->EndPos))
            return kBadTaskLayout;
        // Only a finished task has its last byte; any other position is where the next byte
        // goes (a position at EndPos fetches that one byte again).
        task->WrittenPos = status == kTaskFinished ? task->lastByte() + 1 : stored;
    }
    TasksCount = static_cast<int32_t>(m_allTasks.size());
    return kSuccess;
}

void CDownloadTaskManager::clearDownloadTask() {
    m_waitingTasks.clear();
    m_takenTasks.clear();
    m_allTasks.clear();
    TasksCount = 0;
    ContentLength = 0;
    DownloadTime = 0;
    ETag.clear();
    LastModified.clear();
}

int CDownloadTaskManager::addTask(std::unique_ptr<DownloadTask> task) {
    if (!task)
        return 0;
    DownloadTask* raw = task.get();
    m_allTasks.push_back(std::move(task));
    return raw->TaskStatus == kTaskFinished ? addTakenTask(raw) : addWaitingTask(raw);
}

bool CDownloadTaskManager::hasUnfinishedTask() const {
    if (!m_waitingTasks.empty())
        return true;
    for (const auto* task : m_takenTasks)
        if (task->TaskStatus != kTaskFinished)
            return true;
    return false;
}

bool CDownloadTaskManager::isAllTaskFinished() const {
    for (const auto& task : m_allTasks)
        if (task->TaskStatus != kTaskFinished)
            return false;
    return true;
}

void CDownloadTaskManager::reclaimTasks() {
    std::vector<DownloadTask*> kept;
    kept.reserve(m_takenTasks.size());
    for (auto* task : m_takenTasks) {
        const int32_t status = task->TaskStatus;
        if (status == kTaskWaiting || status == kTaskReturned)
            m_waitingTasks.push_back(task);
        else
            kept.push_back(task);
    }
    m_takenTasks.swap(kept);
}

int64_t CDownloadTaskManager::getDownloadedSize() const {
    int64_t total = 0;
    for (const auto& task : m_allTasks)
        total += task->writtenBytes();
    return total;
}

int64_t CDownloadTaskManager::addDownloadTime(int64_t ms) {
    DownloadTime += ms;
    return DownloadTime;
}

int64_t CDownloadTaskManager::getTotalRequestTimes() const {
    int64_t total = 0;
    for (const auto& task : m_allTasks)
        total += task->RequestTimes;
    return total;
}
