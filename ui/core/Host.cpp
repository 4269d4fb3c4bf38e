#include "ui/Host.h"

#include <atomic>
#include <thread>

namespace ui {
namespace {

std::unique_ptr<HostBackend> g_backend;           // owned on the UI thread
std::atomic<HostBackend*> g_backendPtr{nullptr};  // read by other threads to wake it
std::atomic<std::thread::id> g_uiThread{};
std::atomic<bool> g_quit{false};
std::atomic<int> g_quitCode{0};

}  // namespace

void InstallHostBackend(std::unique_ptr<HostBackend> backend) {
    g_uiThread = std::this_thread::get_id();
    g_backendPtr = backend.get();
    g_backend = std::move(backend);
}

HostBackend* GetHostBackend() {
    return g_backendPtr.load();
}

bool IsUiThread() {
    return g_uiThread.load() == std::this_thread::get_id();
}

int RunMessageLoop() {
    if (HostBackend* backend = GetHostBackend())
        backend->RunUntil([] { return false; });
    return QuitExitCode();
}

void PostQuitMessage(int exitCode) {
    g_quitCode = exitCode;
    g_quit = true;
    if (HostBackend* backend = GetHostBackend())
        backend->Wake();
}

bool QuitRequested() {
    return g_quit.load();
}
int QuitExitCode() {
    return g_quitCode.load();
}

void ResetQuit() {
    g_quit = false;
    g_quitCode = 0;
}

}  // namespace ui
