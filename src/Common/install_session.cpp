#include "Common/install_session.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "CConfigure.h"
#include "Common/install_window.h"
#include "Common/install_worker.h"
#include "FuntionImpl.h"
#include "Logging.h"
#include "TextUtil.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Services.h"
#include "report/EventReporter.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMinimumFreeBytes = 314572800;  // 300 MiB; exactly that is too little
constexpr uint32_t kServiceStopWaitMs = 30000;
constexpr int kMaxPendingRenameSuffix = 1000;

bool endsWith(const std::string& text, std::string_view tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string SessionStamp(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%.4d%.2d%.2d%.2d%.2d%.2d%.3d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    return text;
}

DownloadDirectory MakeDownloadDirectory(const std::string& softwareName,
                                        const std::string& extraDownloadUrl) {
    const fs::path base = endsWith(extraDownloadUrl, ".exe") ? platform::tempDirectory()
                                                             : platform::desktopDirectory();
    if (base.empty())
        return {"", softwareName};
    const fs::path folder =
        platform::privateFolder(platform::longPath(base) /
                                install_detail::WorkFolderBaseName(extraDownloadUrl, softwareName));
    return {folder.string(), softwareName};
}

bool OpenProgramLog(const fs::path& file) {
    // The folder is private by now; the file is still made new so nothing in it is reused.
    const int fd = platform::openForAppend(file, true);
    if (fd < 0) {
        LOG(INFO) << " Program log not created: " << file.string() << ": " << std::strerror(errno);
        return false;
    }
    ::close(fd);
    kvlog::configureLogging(file, false);
    return true;
}

std::string LogFileName(const std::string& extraDownloadUrl, const std::string& sessionStamp) {
    std::string name = install_detail::SetupFileName(extraDownloadUrl, sessionStamp);
    if (name.size() >= 4)
        name.resize(name.size() - 4);
    return name + ".log";
}

std::string DefaultInstallPath() {
    return (platform::programFilesDirectory() / "Quenlake").string();
}

std::string ComposeInstallPath(const std::string& chosenFolder, const std::string& productFolder) {
    if (chosenFolder.find(productFolder) != std::string::npos)
        return chosenFolder;
    if (!chosenFolder.empty() && chosenFolder.back() == '/')
        return chosenFolder + productFolder;
    return chosenFolder + "/" + productFolder;
}

bool HasInstallSpace(const std::string& path, const FreeSpaceProbe& probe) {
    const auto free = probe ? probe(path) : platform::freeBytes(path);
    return free && *free > kMinimumFreeBytes;
}

bool IsPathPendingRename(const std::string& folder) {
    const auto key = platform::RegKey::open(platform::Hive::LocalMachine,
                                            "SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    if (!key)
        return false;
    const auto value = key->queryValue("PendingFileRenameOperations");
    if (!value)
        return false;
    const std::string inside = folder + "/";
    for (const auto& entry : value->strings)
        if (entry.find(inside) != std::string::npos)
            return true;
    return false;
}

std::optional<platform::ProcessEntry> FindRunningProcess(const std::string& processName) {
    for (const auto& p : platform::runningProcesses())
        if (p.name == processName)
            return p;
    return std::nullopt;
}

std::string ProductServiceName(int softwareId) {
    if (softwareId == 6)
        return "KestrovaWinAdService";
    if (softwareId == 105)
        return "KestrovaDataRecoveryService";
    return {};
}

std::optional<std::string> PrepareInstall(InstallWindow& w, const std::string& productFolder) {
    const CConfigure& cfg = *w.configure;
    if (!cfg.Process_name.empty()) {
        if (const auto running = FindRunningProcess(cfg.Process_name)) {
            LOG(INFO) << " " << running->name << "," << cfg.Process_name << "ID:" << running->pid;
            w.ShowMessageBox(kMsgAppRunning);
            return std::nullopt;
        }
    }
    std::string path = w.GetInstallPath();
    // The folder goes into the setup's command line in quotes.
    if (!isSafeCommandLinePiece(path)) {
        LOG(INFO) << " Install folder refused (a double quote or control character): " << path;
        w.ShowMessageBox(kMsgPathError);
        return std::nullopt;
    }
    if (!HasInstallSpace(path, w.freeSpaceProbe)) {
        w.ShowMessageBox(kMsgNoSpace);
        return std::nullopt;
    }
    platform::createDirectories(path);
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
        w.ShowMessageBox(kMsgPathError);
        return std::nullopt;
    }
    if (IsPathPendingRename(path)) {
        EventReporter::instance().report("Other", "ProcessNeedRestartSign", "", false);
        // The folder will change at the next restart: install beside it instead.
        for (int n = 1; n <= kMaxPendingRenameSuffix; ++n) {
            const std::string other = path + " " + std::to_string(n);
            if (!IsPathPendingRename(other)) {
                path = other;
                break;
            }
        }
    }
    MakeDownloadDirectory(productFolder, w.LabelText("Extra_download_url").value_or(""));
    std::string installPath = path;
    if (installPath.find(productFolder) == std::string::npos)
        installPath += "/" + productFolder;

    w.SelectTabPage("main_tablayout", 1);
    w.SelectTabPage("page_layout", 1);
    w.SetControlEnabled("closebtn", true);

    const std::string service = ProductServiceName(cfg.Software_id);
    if (!service.empty())
        platform::stopService(service, kServiceStopWaitMs);

    w.SetControlText("install_label", FormatProgress(w.progressFormat, 0.0));
    w.SetControlVisible("text_fail_retry", false);
    w.SetControlVisible("text_fail_advice", false);
    w.SetControlVisible("img_warning", false);
    w.SetControlText("start_app", w.LanguageText("install_page", "start_app"));
    return installPath;
}
