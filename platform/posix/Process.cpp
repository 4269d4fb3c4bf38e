// Processes through posix_spawn, waits through a pidfd, the snapshot from /proc.
//
// glibc's posix_spawn reports a failed chdir or exec in the child as its own return value, so
// a start either gives a running child of the requested program or fails here; the program and
// folder are still checked first for a clearer reason.

#include "platform/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include "Logging.h"
#include "SpawnInternal.h"
#include "platform/CommandLine.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kDefaultSearchPath = "/usr/local/bin:/usr/bin:/bin";
constexpr int kEintrRetries = 100;
constexpr milliseconds kPollFirst{1};
constexpr milliseconds kPollLast{10};

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// Through syscall(): glibc 2.36's <sys/pidfd.h> declares its wrappers without C linkage, so they
// do not link from C++.
int openPidFd(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}
int sendSignal(int pidFd, int signal) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidFd, signal, nullptr, 0));
}

bool isExecutableFile(const fs::path& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::optional<fs::path> searchPath(const std::string& name) {
    const char* env = std::getenv("PATH");
    std::string_view list = (env != nullptr && *env != '\0') ? env : kDefaultSearchPath;
    while (true) {
        size_t colon = list.find(':');
        std::string_view dir = list.substr(0, colon);
        fs::path candidate = fs::path(dir.empty() ? "." : std::string(dir)) / name;
        if (isExecutableFile(candidate)) {
            std::error_code ec;
            fs::path absolute = fs::absolute(candidate, ec);
            return ec ? candidate : absolute;
        }
        if (colon == std::string_view::npos)
            return std::nullopt;
        list.remove_prefix(colon + 1);
    }
}

std::optional<std::string> readLink(const std::string& path) {
    std::string buffer(256, '\0');
    for (int attempt = 0; attempt < 6; ++attempt) {
        ssize_t got = readlink(path.c_str(), buffer.data(), buffer.size());
        if (got < 0)
            return std::nullopt;
        if (static_cast<size_t>(got) < buffer.size()) {
            buffer.resize(static_cast<size_t>(got));
            return buffer;
        }
        buffer.resize(buffer.size() * 4);
    }
    return std::nullopt;
}

enum class ChildState { Ended, Running, Error };

// Collects the child when it has ended; `code` then holds its exit status, shell style.
ChildState collectChild(int pid, int pidFd, int& code) {
    for (int attempt = 0; attempt < kEintrRetries; ++attempt) {
        siginfo_t info{};
        const int flags = WEXITED | WNOHANG;
        // Through the pidfd when there is one: it names this very process even if the pid were
        // reused, which matters for children collected long after their handle was closed.
        int rc = pidFd >= 0 ? waitid(P_PIDFD, static_cast<id_t>(pidFd), &info, flags)
                            : waitid(P_PID, static_cast<id_t>(pid), &info, flags);
        if (rc != 0) {
            if (errno == EINTR)
                continue;
            if (errno == EINVAL && pidFd >= 0) {
                pidFd = -1;  // a kernel without P_PIDFD
                continue;
            }
            LOG(INFO) << " Process wait failed, pid " << pid << ": " << errnoText(errno);
            return ChildState::Error;
        }
        if (info.si_pid == 0)
            return ChildState::Running;
        code = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
        return ChildState::Ended;
    }
    LOG(INFO) << " Process wait interrupted too often, pid " << pid;
    return ChildState::Error;
}

// Children whose Process went away while they ran; collected by later starts.
struct Orphan {
    int pid;
    int pidFd;
};
std::mutex g_orphansMutex;
std::vector<Orphan> g_orphans;

void collectOrphans() {
    std::lock_guard lock(g_orphansMutex);
    std::erase_if(g_orphans, [](const Orphan& orphan) {
        int code = 0;
        if (collectChild(orphan.pid, orphan.pidFd, code) == ChildState::Running) {
            return false;
        }
        if (orphan.pidFd >= 0)
            close(orphan.pidFd);
        return true;
    });
}

// Returns 0 or an errno value.
int prepareSpawn(detail::SpawnPlan& plan, const ProcessStartInfo& info) {
    int rc = 0;
    if (!info.workingDirectory.empty())
        rc = posix_spawn_file_actions_addchdir_np(plan.actions(), info.workingDirectory.c_str());
    if (rc == 0 && !info.inheritHandles)
        rc = posix_spawn_file_actions_addclosefrom_np(plan.actions(), 3);
    if (rc == 0)
        rc = detail::resetChildSignals(plan.attributes());
    return rc;
}

}  // namespace

std::optional<Process> Process::start(const ProcessStartInfo& info, std::string* error) {
    collectOrphans();
    auto fail = [&](const std::string& reason) -> std::optional<Process> {
        LOG(INFO) << " Process start failed: " << reason;
        if (error != nullptr)
            *error = reason;
        return std::nullopt;
    };
    if (info.commandLine.find('\0') != std::string::npos) {
        return fail("command line holds a NUL character: " + info.commandLine);
    }
    std::vector<std::string> arguments = splitCommandLine(info.commandLine);
    fs::path program;
    std::error_code ec;
    if (!info.application.empty()) {
        program = fs::absolute(info.application, ec);
        if (ec)
            return fail("bad program path " + info.application.string() + ": " + ec.message());
        if (arguments.empty())
            arguments.push_back(info.application.string());
    } else if (arguments.empty() || arguments[0].empty()) {
        return fail("no program in command line: " + info.commandLine);
    } else if (arguments[0].find('/') == std::string::npos) {
        auto found = searchPath(arguments[0]);
        if (!found)
            return fail("program not found on PATH: " + arguments[0]);
        program = *found;
    } else {
        program = fs::absolute(arguments[0], ec);
        if (ec)
            return fail("bad program path " + arguments[0] + ": " + ec.message());
    }
    if (!isExecutableFile(program)) {
        return fail("program missing or not executable: " + program.string());
    }
    if (!info.workingDirectory.empty() && !fs::is_directory(info.workingDirectory, ec)) {
        return fail("working folder missing: " + info.workingDirectory.string());
    }

    detail::SpawnPlan plan;
    if (int rc = prepareSpawn(plan, info); rc != 0) {
        return fail("spawn settings for " + program.string() + ": " + errnoText(rc));
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (int rc = posix_spawn(&pid, program.c_str(), plan.actions(), plan.attributes(), argv.data(),
                             environ);
        rc != 0) {
        std::string where =
            info.workingDirectory.empty() ? std::string() : " in " + info.workingDirectory.string();
        return fail("cannot run " + program.string() + where + ": " + errnoText(rc));
    }
    // Without a pidfd (old kernel, filtered system call) waits fall back to polling waitid.
    int pidFd = openPidFd(pid);
    return Process(pid, pidFd);
}

Process::Process(Process&& other) noexcept
    : m_pid(other.m_pid),
      m_pidFd(other.m_pidFd),
      m_exitCode(other.m_exitCode),
      m_lost(other.m_lost) {
    other.m_pid = -1;
    other.m_pidFd = -1;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        release();
        m_pid = other.m_pid;
        m_pidFd = other.m_pidFd;
        m_exitCode = other.m_exitCode;
        m_lost = other.m_lost;
        other.m_pid = -1;
        other.m_pidFd = -1;
    }
    return *this;
}

Process::~Process() {
    release();
}

void Process::release() {
    // A child still running is left to run; a later start() collects it once it has ended.
    if (running() && !collect() && !m_lost) {
        std::lock_guard lock(g_orphansMutex);
        g_orphans.push_back({m_pid, m_pidFd});
        m_pidFd = -1;
    }
    if (m_pidFd >= 0)
        close(m_pidFd);
    m_pid = -1;
    m_pidFd = -1;
}

// Collects the child if it has ended, without blocking.
bool Process::collect() {
    int code = 0;
    switch (collectChild(m_pid, m_pidFd, code)) {
        case ChildState::Ended:
            m_exitCode = code;
            return true;
        case ChildState::Running:
            return false;
        case ChildState::Error:
            m_lost = true;
            return false;
    }
    return false;
}

WaitResult Process::wait(uint32_t timeoutMs) {
    if (m_exitCode)
        return WaitResult::Signaled;
    if (!running()) {
        LOG(INFO) << " Process wait without a child to wait for, pid " << m_pid;
        return WaitResult::Failed;
    }
    const bool infinite = timeoutMs == kInfinite;
    const auto deadline = Clock::now() + milliseconds(timeoutMs);
    auto leftMs = [&] {
        auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, 1000000));
    };
    if (m_pidFd >= 0) {
        for (int attempt = 0; attempt < kEintrRetries; ++attempt) {
            pollfd readable{m_pidFd, POLLIN, 0};
            int rc = poll(&readable, 1, infinite ? -1 : leftMs());
            if (rc > 0)
                break;
            if (rc == 0 && !infinite && leftMs() == 0)
                return WaitResult::Timeout;
            if (rc < 0 && errno != EINTR) {
                LOG(INFO) << " Process poll failed, pid " << m_pid << ": " << errnoText(errno);
                return WaitResult::Failed;
            }
        }
        if (collect())
            return WaitResult::Signaled;
        if (m_lost)
            return WaitResult::Failed;
        // Readable yet not collectable is not expected; fall through to polling.
    }
    milliseconds step = kPollFirst;
    while (true) {
        if (collect())
            return WaitResult::Signaled;
        if (m_lost)
            return WaitResult::Failed;
        if (!infinite && Clock::now() >= deadline)
            return WaitResult::Timeout;
        auto sleep = infinite ? step : std::min<milliseconds>(step, milliseconds(leftMs()));
        std::this_thread::sleep_for(sleep);
        step = std::min(step * 2, kPollLast);
    }
}

bool Process::terminate() {
    if (m_exitCode)
        return true;
    if (!running()) {
        LOG(INFO) << " Process terminate without a child to end, pid " << m_pid;
        return false;
    }
    int rc = m_pidFd >= 0 ? sendSignal(m_pidFd, SIGKILL) : kill(m_pid, SIGKILL);
    if (rc == 0 || errno == ESRCH)
        return true;  // ESRCH: it has ended already
    LOG(INFO) << " Process terminate failed, pid " << m_pid << ": " << errnoText(errno);
    return false;
}

std::vector<ProcessEntry> runningProcesses() {
    std::vector<ProcessEntry> entries;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        LOG(INFO) << " Process snapshot failed, /proc: " << errnoText(errno);
        return entries;
    }
    while (dirent* item = readdir(proc)) {
        std::string_view id = item->d_name;
        if (id.empty() ||
            !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        std::string dir = "/proc/" + std::string(id);
        std::string name;
        if (auto exe = readLink(dir + "/exe")) {
            constexpr std::string_view kDeleted = " (deleted)";
            if (exe->ends_with(kDeleted))
                exe->resize(exe->size() - kDeleted.size());
            name = fs::path(*exe).filename().string();
        }
        if (name.empty()) {
            std::string comm;
            std::getline(std::ifstream(dir + "/comm"), comm);
            std::string argv0;
            std::getline(std::ifstream(dir + "/cmdline"), argv0, '\0');
            std::string base = fs::path(argv0).filename().string();
            // comm is cut to 15 characters; the command line, which a process may rewrite,
            // is trusted only when it agrees.
            name = (!comm.empty() && base.starts_with(comm)) ? base : comm;
        }
        if (name.empty())
            continue;  // ended while we looked
        entries.push_back({std::atoi(std::string(id).c_str()), std::move(name)});
    }
    closedir(proc);
    std::sort(entries.begin(), entries.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return entries;
}

std::vector<std::string> runningProcessNames() {
    std::vector<std::string> names;
    for (auto& entry : runningProcesses())
        names.push_back(std::move(entry.name));
    return names;
}

fs::path ownModulePath() {
    auto path = readLink("/proc/self/exe");
    if (!path) {
        LOG(INFO) << " Own module path unknown, /proc/self/exe: " << errnoText(errno);
        return {};
    }
    return *path;
}

}  // namespace platform
