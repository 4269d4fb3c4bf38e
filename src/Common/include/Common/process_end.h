#pragma once
// How the message box and the launch-hint window end the process on their owner's behalf: the
// single-instance guard is released, "CrashRate"/"Close" goes out at once, and the process
// exits without unwinding (worker threads are never joined, so static destructors must not run
// under them). The owner fills in what only it knows; tests replace `exit` so the test process
// survives and can check what happened in which order.
//
// Threads: reportClose may run on any thread (the launch-hint thread calls it); the whole
// sequence (EndNow) runs on the UI thread.

#include <functional>

struct ProcessEnd {
    // Lets a new copy of the installer start; may be empty (no guard held).
    std::function<void()> releaseInstanceGuard;
    // Sends "CrashRate"/"Close" now; empty: the process-wide event reporter does it.
    std::function<void()> reportClose;
    // Ends the process with the code; empty: flushes the log and the standard streams, then
    // _Exit.
    std::function<void(int)> exit;

    void ReleaseGuard() const;
    void ReportClose() const;
    void Exit(int code) const;
    // Guard, report, exit 0, in that order.
    void EndNow() const;
};
