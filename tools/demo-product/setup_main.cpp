// KestrovaEditor_2.4.1.0.exe: the demo product's setup program, run by the installer as
//
//   setup /VERYSILENT /SP- /NORESTART /DIR="FOLDER\" /LANG=xx /LOG="FILE" /sptrack ID
//
// It installs KestrovaEditor.exe, its uninstaller (a copy of this program, run with
// /UNINSTALL) and, when the setup carries a data payload (Payload.h), KestrovaEditor.pak into
// FOLDER, registers the product's uninstall entry and logs every step,
// including the exact arguments it received, to FILE. It shows nothing; errors also go to
// standard error. KV_DEMO_SETUP makes it slow, hang or fail for tests (SetupBehaviour.h).
//
// Exit status: 0 installed (or uninstalled); 1 the command line or KV_DEMO_SETUP is unusable,
// the payload is cut short, or a hang gave up, and nothing was installed; 4 the install failed and
// what it had added was taken away again; fail:CODE exits with CODE.

#include <dirent.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "EmbeddedEditor.h"
#include "Logging.h"
#include "Payload.h"
#include "Product.h"
#include "ProductInstall.h"
#include "SetupArguments.h"
#include "SetupBehaviour.h"
#include "SetupLog.h"
#include "platform/Process.h"
#include "platform/Trust.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitUnusable = 1;
constexpr int kExitInstallFailed = 4;

demo::SetupLog* g_log = nullptr;

// The platform layer logs its reasons (registry, folders) on the program log; here they belong
// in the setup's own log, or on standard error when there is none, never on standard output.
class SetupLogDispatch : public el::LogDispatchCallback {
protected:
    void handle(const el::LogDispatchData* data) override {
        const std::string& message = data->logMessage()->message();
        if (g_log && g_log->isOpen())
            g_log->line("platform:" + message);
        else
            std::cerr << "setup:" << message << '\n';
    }
};

void routeLibraryLog(demo::SetupLog& log) {
    g_log = &log;
    el::Loggers::reconfigureLogger("default", el::ConfigurationType::ToStandardOutput, "false");
    el::Helpers::installLogDispatchCallback<SetupLogDispatch>("SetupLogDispatch");
}

int fail(demo::SetupLog& log, int code, const std::string& message) {
    std::cerr << demo::kProductName << " setup: " << message << '\n';
    log.line("Error: " + message);
    log.line("Setup exit code: " + std::to_string(code));
    return code;
}

// This program as the uninstaller: its own bytes without the appended signature block, so the
// uninstaller is the same whether the signed file or the installer's stripped copy ran.
bool ownProgramBytes(std::vector<uint8_t>& bytes, std::string& error) {
    const fs::path self = platform::ownModulePath();
    std::error_code ec;
    const uintmax_t size = self.empty() ? 0 : fs::file_size(self, ec);
    std::ifstream in(self, std::ios::binary);
    if (self.empty() || ec || !in) {
        error = "cannot read the setup program " + self.string();
        return false;
    }
    bytes.resize(size);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        error = "cannot read the setup program " + self.string();
        return false;
    }
    if (const auto content = platform::appendedSignedContentSize(bytes))
        bytes.resize(*content);
    return true;
}

// Returns the exit code to use now, or -1 to go on with the install.
int behave(const demo::SetupBehaviour& behaviour, demo::SetupLog& log) {
    using Kind = demo::SetupBehaviour::Kind;
    switch (behaviour.kind) {
        case Kind::Normal:
            return -1;
        case Kind::Slow:
            log.line("Test behaviour: waiting " + std::to_string(behaviour.value) +
                     " ms before the install");
            std::this_thread::sleep_for(std::chrono::milliseconds(behaviour.value));
            return -1;
        case Kind::Fail:
            log.line("Test behaviour: failing without installing");
            log.line("Setup exit code: " + std::to_string(behaviour.value));
            return static_cast<int>(behaviour.value);
        case Kind::Hang: {
            log.line("Test behaviour: hanging until killed");
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(demo::kHangLimitMs);
            while (std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::seconds(1));
            return fail(log, kExitUnusable,
                        "still hanging after " + std::to_string(demo::kHangLimitMs / 1000) +
                            " s; giving up without installing");
        }
    }
    return -1;
}

// Descriptors above standard error open as the setup starts, each with what it refers to
// ("4 -> /var/log/x.log"): whoever started the setup may have handed them over. "none" when
// there are none.
std::string inheritedDescriptors() {
    std::string list;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return "unknown";
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd <= 2 || fd == own)
            continue;
        std::error_code ec;
        const fs::path target = fs::read_symlink(fs::path("/proc/self/fd") / entry->d_name, ec);
        list += (list.empty() ? "" : ", ") + std::string(entry->d_name) + " -> " + target.string();
    }
    ::closedir(dir);
    return list.empty() ? "none" : list;
}

void logStart(demo::SetupLog& log, int argc, char** argv, const demo::SetupArguments& options,
              const std::string& inherited) {
    log.line(std::string("Setup: ") + demo::kProductName + " " + demo::kProductVersion);
    log.line("Setup program: " + platform::ownModulePath().string());
    log.line("Arguments: " + std::to_string(argc));
    for (int i = 0; i < argc; ++i)
        log.line("argv[" + std::to_string(i) + "]: [" + argv[i] + "]");
    log.line("Language: " + (options.language.empty() ? std::string("(none)") : options.language));
    log.line("Tracking id: " + options.trackingId.value_or("(none)"));
    for (const std::string& ignored : options.ignored)
        log.line("Ignored argument: [" + ignored + "]");
    log.line("Inherited descriptors: " + inherited);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const demo::SetupArguments options = demo::parseSetupArguments(args);

    const std::string inherited = inheritedDescriptors();
    demo::SetupLog log;
    if (options.logFile && !options.logFile->empty()) {
        std::string error;
        // Without its log the setup can still do its job; the reason is shown.
        if (!log.open(demo::filePathFromText(*options.logFile), error))
            std::cerr << demo::kProductName << " setup: " << error << '\n';
    }
    routeLibraryLog(log);
    logStart(log, argc, argv, options, inherited);

    std::string error;
    const char* behaviourText = std::getenv(demo::kBehaviourVariable);
    const auto behaviour = demo::parseSetupBehaviour(behaviourText ? behaviourText : "", error);
    if (!behaviour)
        return fail(log, kExitUnusable, std::string(demo::kBehaviourVariable) + ": " + error);
    if (const int code = behave(*behaviour, log); code >= 0)
        return code;

    if (options.uninstall) {
        const fs::path folder = platform::ownModulePath().parent_path();
        log.line("Uninstalling from: " + folder.string());
        if (folder.empty() || !demo::uninstallProduct(folder, log, error))
            return fail(log, kExitInstallFailed, "uninstall failed: " + error);
        log.line("Uninstall succeeded.");
        return 0;
    }

    if (!options.dir)
        return fail(log, kExitUnusable, "no install folder: /DIR=\"FOLDER\" is required");
    const auto folder = demo::installFolderFromText(*options.dir, error);
    if (!folder)
        return fail(log, kExitUnusable, error);
    log.line("Install folder: " + folder->string());

    std::vector<uint8_t> ownBytes;
    if (!ownProgramBytes(ownBytes, error))
        return fail(log, kExitUnusable, error);
    // The uninstaller is the program alone: the data payload is installed once, as its file.
    const auto parts = demo::splitPayload(ownBytes, error);
    if (!parts)
        return fail(log, kExitUnusable, error);
    const demo::InstallPayload payload{demo::embeddedEditor(), parts->program, parts->payload};
    if (!demo::installProduct(*folder, payload, log, error))
        return fail(log, kExitInstallFailed, "install failed: " + error);

    log.line("Installation process succeeded.");
    log.line("Setup exit code: 0");
    if (!options.verySilent && !options.silent)
        std::cout << demo::kProductName << " " << demo::kProductVersion << " installed into "
                  << folder->string() << '\n';
    return 0;
}
