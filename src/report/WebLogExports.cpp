// The library's exported C functions. Only these names leave the shared object.

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "report/IWebLog.h"
#include "report/WebLog.h"

namespace {

constexpr int kIdentityAttempts = 3;

// The NSISLog entries still being written. Each runs on a thread of its own with an object of
// its own; the threads are joined when the library is unloaded (after their requests were
// cancelled), so none outlives the code and data it runs on.
class NsisJobs {
public:
    ~NsisJobs() {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& job : m_jobs)
            job->log->cancel();
        for (auto& job : m_jobs)
            if (job->thread.joinable())
                job->thread.join();
    }

    void start(std::unique_ptr<weblog::WebLog> log, int32_t operationId, int32_t softwareId,
               int32_t languageId, int32_t siteId) {
        std::lock_guard<std::mutex> lock(m_mutex);
        reapFinished();
        auto job = std::make_unique<Job>();
        job->log = std::move(log);
        Job* raw = job.get();
        m_jobs.push_back(std::move(job));
        try {
            raw->thread = std::thread([raw, operationId, softwareId, languageId, siteId] {
                const char* guid = nullptr;
                const char* userId = nullptr;
                for (int i = 0; i < kIdentityAttempts && !guid && !userId; ++i)
                    raw->log->InitUserInfo(&guid, &userId);
                if (guid || userId)
                    raw->log->AddUserLog(operationId, 1, "", softwareId, languageId, siteId, "", 0,
                                         0);
                raw->done = true;
            });
        } catch (...) {
            m_jobs.pop_back();
            throw;
        }
    }

private:
    struct Job {
        std::unique_ptr<weblog::WebLog> log;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    // Called with m_mutex held; keeps the list as short as the entries in flight.
    void reapFinished() {
        for (auto it = m_jobs.begin(); it != m_jobs.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                it = m_jobs.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex m_mutex;
    std::list<std::unique_ptr<Job>> m_jobs;
};

NsisJobs& nsisJobs() {
    static NsisJobs jobs;
    return jobs;
}

}  // namespace

extern "C" {

IWebLog* CreateExportObj() {
    try {
        return new weblog::WebLog(weblog::WebLog::defaultOptions());
    } catch (const std::exception&) {
        return nullptr;
    }
}

void DestroyExportObj(IWebLog* object) {
    delete static_cast<weblog::WebLog*>(object);
}

void CancelExportObj(IWebLog* object) {
    if (object)
        static_cast<weblog::WebLog*>(object)->cancel();
}

int32_t NSISLog(int32_t operationId, int32_t softwareId, int32_t languageId, int32_t siteId) {
    try {
        // Made before the job list, so everything the object set up outlives the list's end.
        auto log = std::make_unique<weblog::WebLog>(weblog::WebLog::defaultOptions());
        nsisJobs().start(std::move(log), operationId, softwareId, languageId, siteId);
    } catch (const std::exception&) {  // std::system_error and std::bad_alloc
        // No memory or no thread: the entry is lost, as any failed entry is.
    }
    return 0;
}
}
