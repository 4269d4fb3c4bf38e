#pragma once
// Child processes started from a Windows-style command line, the running-process snapshot and
// the program's own path.
//
// Starting. The command line is split with splitCommandLine(); its first token is the child's
// argv[0]. The program run is `application` when given (a relative path counts from this
// process's current folder), else argv[0], looked up on PATH when it has no "/". The child gets
// this process's environment, default signal handling and an empty signal mask. Without
// `inheritHandles` it keeps only descriptors 0, 1 and 2; with it, every descriptor not marked
// close-on-exec. A missing or non-executable program and a missing working folder fail the
// start (nullopt, reason logged and put in *error); they never show up as a child exit code.
//
// Ownership and threads. A Process is owned by one thread at a time (move it to hand it over).
// Its destructor never kills the child: a child still running is left to run, and reaped by a
// later start() once it has ended, so it does not linger as a zombie.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Wait.h"

namespace platform {

struct ProcessStartInfo {
    std::filesystem::path application;       // empty: the command line's first token
    std::string commandLine;                 // Windows-style, see splitCommandLine()
    std::filesystem::path workingDirectory;  // empty: this process's current folder
    bool inheritHandles = false;
};

class Process {
public:
    static std::optional<Process> start(const ProcessStartInfo& info, std::string* error = nullptr);

    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    int pid() const { return m_pid; }
    // Waits up to `timeoutMs` (kInfinite: no limit) for the child to end: Signaled once it has
    // ended (its exit code is then known), Timeout while it still runs, Failed on error.
    WaitResult wait(uint32_t timeoutMs);
    // The exit status once wait() has returned Signaled: the exit code, or 128 + the signal
    // number when a signal ended it (like a shell). nullopt before.
    std::optional<int> exitCode() const { return m_exitCode; }
    // Kills the child (SIGKILL, like TerminateProcess) without waiting for it; wait() then
    // collects it. True when it was killed or had already ended.
    bool terminate();

private:
    Process(int pid, int pidFd) : m_pid(pid), m_pidFd(pidFd) {}
    bool collect();
    void release();
    bool running() const { return m_pid >= 0 && !m_exitCode && !m_lost; }

    int m_pid = -1;    // -1 once moved from
    int m_pidFd = -1;  // -1 when pidfd_open is unavailable; waits then poll waitid
    std::optional<int> m_exitCode;
    bool m_lost = false;  // collected by someone else: nothing left to wait for or to kill
};

struct ProcessEntry {
    int pid = 0;
    std::string name;  // executable file name, e.g. "sleep"
};

// Every process visible in /proc, by pid. The name is the executable's file name; for processes
// whose executable cannot be read (other users', kernel threads) the name from the command line
// when it agrees with the kernel's short name, else that short name (at most 15 characters).
std::vector<ProcessEntry> runningProcesses();
std::vector<std::string> runningProcessNames();

// Absolute path of this program's executable file; empty (reason logged) on failure.
std::filesystem::path ownModulePath();

}  // namespace platform
