// The setup phase of the install thread: verification, the silent setup run and completion.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>

#include "CConfigure.h"
#include "CLibcurlTool.h"
#include "Common/install_window.h"
#include "Common/install_worker.h"
#include "Common/install_worker_internal.h"
#include "Common/setup_handover.h"
#include "DownLoadImpl.h"
#include "FuntionImpl.h"
#include "FuntionImplSignature.h"
#include "Logging.h"
#include "RemoteServices.h"
#include "TextUtil.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "platform/Trust.h"
#include "report/EventReporter.h"

namespace fs = std::filesystem;

namespace {

void report(const std::string& category, const std::string& action, const std::string& label) {
    EventReporter::instance().report(category, action, label, false);
}

constexpr const char* kPieceA = " /VERYSILENT /SP- /NORESTART /DIR=\"";
constexpr const char* kPieceB = "\\\" /LANG=";
constexpr const char* kPieceC = " /LOG=\"";
constexpr const char* kPieceD = "\"";
constexpr const char* kPieceE = " /sptrack ";
constexpr const char* kPieceF = "\" /LANG=";
constexpr const char* kPieceG = "\" /sptrack null";
constexpr size_t kMaxCommandLine = 1023;

const char* const kProductPageKeys[] = {
    "product_url_english", "product_url_japanese", "product_url_chinesesimp", "product_url_spanish",
    "product_url_german", "product_url_french", "product_url_russian", "product_url_portuguese",
    "product_url_arabic", "product_url_italiano", "product_url_chinesetrad", "product_url_korean",
    "product_url_nederlands", "product_url_indonesian", "product_url_turkish", "product_url_hindi",
    "product_url_thai", "product_url_malay", "product_url_swedish", "product_url_czech"};

const char* const kRecordCodes[] = {"en", "ja", "zhcn", "es", "de", "fr", "ru", "pt", "ar", "it",
                                    "zhtw", "ko", "nl", "id", "tr", "hi", "th", "my", "se", "cz"};

// A progress pacer: moves the bar while the worker waits, and stops at once when told.
class Pacer {
public:
    template <typename Body>
    explicit Pacer(Body body) : m_thread([this, body] { body(*this); }) {}
    ~Pacer() { stop(); }
    // Sleeps `ms` unless stopped meanwhile; false once stopped.
    bool sleep(int ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return !m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopped; });
    }
    bool stopped() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stopped;
    }
    void stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopped = true;
        }
        m_cv.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stopped = false;
    std::thread m_thread;
};

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

std::optional<platform::Process> startProcess(const std::string& application, const std::string& commandLine) {
    platform::ProcessStartInfo info;
    info.application = application;
    // The child's own name goes in front; the logged command line stays as built.
    info.commandLine = quoted(application) + commandLine;
    // Only standard input, output and error: the program log and sockets stay ours.
    info.inheritHandles = false;
    std::string error;
    auto process = platform::Process::start(info, &error);
    if (!process) LOG(INFO) << " CreateProcess failed: " << application << ": " << error;
    return process;
}

// A setup that did not install, by time-out (empty label) or by its exit status: the failure
// page, then the message that deletes the download so a retry fetches it again.
int setupFailed(InstallRun& run, const std::string& label) {
    report("DownloaderInfo", "InstallFailed", label);
    ShowInstallFailed(run.window, run.retryLabel);
    run.window.ShowMessageBox(kMsgSetupTimeout);
    CloseRun(run.window);
    return -1;
}

int setupTimedOut(InstallRun& run, int counter) {
    LOG(INFO) << " Cmd nWaitSeconds timed out: " << counter;
    return setupFailed(run, "");
}

int commandLineRefused(InstallRun& run, const std::string& why) {
    LOG(INFO) << " Setup command line refused, not started: " << why;
    InstallWindow& w = run.window;
    w.ShowMessageBox(kMsgPathError);
    w.SetControlEnabled("closebtn", true);
    ShowInstallFailed(w, run.retryLabel);
    CloseRun(w);
    return -1;
}

constexpr const char* kRunFolderPrefix = "run-";

// The folder the verified copies run from: one per installer process, removed when the setup
// has ended. A copy is kept only while a setup left running by the time-out may still use it.
class RunFolder {
public:
    explicit RunFolder(const fs::path& workFolder)
        : m_path(workFolder / (kRunFolderPrefix + std::to_string(::getpid()))) {
        removeStale(workFolder);
        std::error_code ec;
        fs::create_directory(m_path, ec);
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
    ~RunFolder() {
        if (m_keep)
            return;
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    const fs::path& path() const { return m_path; }
    void keep() { m_keep = true; }

private:
    // Folders of earlier runs whose process is gone, and an earlier attempt of this one.
    static void removeStale(const fs::path& workFolder) {
        std::error_code ec;
        for (fs::directory_iterator it(workFolder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.rfind(kRunFolderPrefix, 0) != 0)
                continue;
            const int pid = parseDecimalInt(name.substr(std::strlen(kRunFolderPrefix)));
            const bool gone =
                pid <= 0 || pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH);
            std::error_code removeError;
            if (gone)
                fs::remove_all(it->path(), removeError);
        }
    }

    fs::path m_path;
    bool m_keep = false;
};

// A sub-program as it will run: a private copy of exactly the bytes whose signature passed.
struct VerifiedSubProgram {
    std::string name;
    std::string downloaded;  // its install log goes beside it: the copy's folder is removed
    fs::path copy;
};

// The sub-program list is read once, here: what joins it later is neither checked nor run.
std::vector<VerifiedSubProgram> verifySubPrograms(const InstallWindow& w,
                                                  const fs::path& runFolder) {
    const auto names = w.subPrograms.names();
    const auto files = w.subPrograms.files();
    std::vector<VerifiedSubProgram> verified;
    for (size_t k = 0; k < files.size() && k < names.size(); ++k) {
        if (files[k].empty())
            continue;
        const fs::path folder = runFolder / ("sub-" + std::to_string(k));
        std::error_code ec;
        fs::create_directory(folder, ec);
        const fs::path copy = folder / fs::path(files[k]).filename();
        const platform::TrustResult trust = platform::stripAppendedSignature(files[k], copy);
        LOG(INFO) << " VerifyEmbeddedSignature result is " << static_cast<int32_t>(trust.status)
                  << ", " << FuntionImpl::SignatureMessage(trust.status, trust.lastError, files[k]);
        // A sub-program whose signature failed is not run with the installer's rights.
        if (!trust.ok()) {
            LOG(INFO) << " SubProgram not signed, not installed: " << files[k];
            continue;
        }
        verified.push_back({names[k], files[k], copy});
    }
    return verified;
}

}  // namespace

namespace install_detail {

std::string SetupLanguageCode(int index, int downloaderId) {
    if (index == 1) {
        const bool jp = (downloaderId >= 117 && downloaderId <= 125 && downloaderId != 121);
        return jp ? "jp" : "ja";
    }
    return RecordLanguageCode(index);
}

std::string RecordLanguageCode(int index) {
    if (index < 0 || index >= 20) return "en";
    return kRecordCodes[index];
}

std::string SetupCommandLine(const std::string& installDir, const std::string& langCode,
                             const std::string& tempDir, const std::string& logFileName,
                             const std::string& trackingId) {
    std::string line = kPieceA + installDir + kPieceB + langCode;
    if (!tempDir.empty()) line += kPieceC + tempDir + logFileName + kPieceD;
    line += kPieceE + (trackingId.empty() ? std::string("null") : trackingId);
    return line;
}

std::string ExceptionReportBody(bool md5Ok, bool signatureOk, int downloaderId, int loadSource) {
    const char* code = nullptr;
    if (!md5Ok && !signatureOk) code = "MD5_Hash_Check_Fail_Cfg";
    else if (!md5Ok) code = "MD5_Check_Fail_Cfg";
    else if (!signatureOk) code = "Hash_Check_Fail_Cfg";
    if (!code) return {};
    char body[1024];
    std::snprintf(body, sizeof body, "pid=%d&type=2&exception_code=%s%d", downloaderId, code, loadSource);
    return body;
}

std::string InstallMinutesText(int64_t ms) {
    const double minutes = static_cast<double>(ms) / 1000.0 / 60.0;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(static_cast<int64_t>(minutes * 100)) / 100.0);
    return text;
}

}  // namespace install_detail

void CloseRun(InstallWindow& w) {
    w.StopSlides();
    w.SelectTabPage("main_tablayout", 0);
    w.stage = 1;
    w.PostWindowMessage(kMsgInstallEnded);
}

void ShowInstallFailed(InstallWindow& w, const std::string& retryLabel) {
    report("Download", "8.DownFail", retryLabel);
    if (w.HasControl("finish_label")) w.SetControlText("finish_label", "Install failed, please install again!");
    w.SetControlVisible("text_fail_retry", true);
    w.SetControlVisible("text_fail_advice", true);
    w.SetControlVisible("img_warning", true);
    w.SetControlEnabled("start_app", true);
    w.SetControlText("start_app", w.LanguageText("install_page", "retry_btn"));
    w.SetControlVisible("start_app", true);
    w.SetControlVisible("text_startshortcut", false);
}

void RecordInstallLanguage(InstallWindow& w) {
    const int index = w.languageIndex;
    const int id = w.downloaderId;
    using platform::Hive;
    if (id == 104) {
        FuntionImpl::WriteRegString(Hive::CurrentUser, "Software\\Vellmark\\Clip Shifter Pro", "kCurrentLanguage",
                                    index == 2 ? "Chinese" : "English");
        return;
    }
    if (id >= 113 && id <= 115) {
        static const char* const kRoamly[] = {"en_US", "ja_JP", "zh_CN", "es_ES", "de_DE", "fr_FR",
                                              "ru_RU", "pt_BR", "en_US", "en_US", "zh_TW"};
        const char* value = (index >= 0 && index <= 10) ? kRoamly[index] : "en_US";
        FuntionImpl::WriteRegString(Hive::CurrentUser, "Software\\Kestrova\\Roamly", "Lang", value);
        return;
    }
    std::string key;
    if (platform::RegKey::open(Hive::LocalMachine, "SoftWare\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"))
        key = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{" + w.configure->Software_name + "}_is1";
    else if (platform::RegKey::open(Hive::LocalMachine, "SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall"))
        key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{" + w.configure->Software_name + "}_is1";
    else
        return;
    FuntionImpl::WriteRegString(Hive::LocalMachine, key, "Inno Setup: Language", install_detail::RecordLanguageCode(index));
}

int FinishInstall(InstallRun& run) {
    InstallWindow& w = run.window;
    CConfigure& cfg = *w.configure;

    if (!FuntionImpl::IsSetupExe(cfg.Extra_download_url)) {
        w.ShowProgressValue(100.0);
        RecordInstallLanguage(w);
        w.SetControlEnabled("closebtn", true);
        CloseRun(w);
        LOG(INFO) << "APP DownloaderSucceed";
        return 1;
    }
    w.SetControlText("text_startshortcut", "{f 18}" + w.LanguageText("message_page", "ClickShortcutToLaunchText") + "{/f}");

    // Verification, with the bar moving from 81 to 90 meanwhile.
    Pacer verifyPacer([&w, &run](Pacer& self) {
        for (int i = 0; i < 10; ++i) {
            if (self.stopped()) return;
            w.ShowProgressValue(81 + i);
            if (!self.sleep(run.tuning.pacerStepMs)) return;
        }
        w.ShowProgressValue(90);
    });
    // What runs is a private copy of exactly the bytes whose digests were checked, made in the
    // same read of the download that computes them.
    const bool md5FromMarkup = cfg.loadSource == CConfigure::kFromMarkup;
    RunFolder runFolder(run.workFolder);
    const fs::path runCopy = runFolder.path() / fs::path(run.downloadPath).filename();
    HandoverOptions handoverOptions;
    handoverOptions.md5 = !md5FromMarkup;
    const SetupHandover handover = HandOverSetup(run.downloadPath, runCopy, handoverOptions);
    const bool md5Ok = md5FromMarkup || CDownLoadImpl::checkMD5Digest(run.downloadPath, handover.md5, cfg.Md5,
                                                                      cfg.Md5_extra, cfg.Software_version) == 1;
    const platform::TrustResult& trust = handover.trust;
    LOG(INFO) << " VerifyEmbeddedSignature result is " << static_cast<int32_t>(trust.status) << ", "
              << FuntionImpl::SignatureMessage(trust.status, trust.lastError, run.downloadPath);
    const bool signatureOk = trust.ok();
    const std::vector<VerifiedSubProgram> subPrograms = verifySubPrograms(w, runFolder.path());

    const std::string body = install_detail::ExceptionReportBody(md5Ok, signatureOk, w.downloaderId, cfg.loadSource);
    if (!body.empty()) {
        CLibcurlTool tool;
        std::string reply;
        const CURLcode rc = tool.httpPostText(remoteServiceUrl(kAlertService) + "/api/exception/send", body, reply, nullptr);
        LOG(INFO) << " Send error report: " << body << ", response is " << reply << ", return " << static_cast<int>(rc);
    }
    if (!signatureOk) {
        verifyPacer.stop();
        report("DownloaderInfo00", "DownloaderFailed", "-5");
        w.ShowMessageBox(kMsgVerifyFailed);
        w.SetControlEnabled("closebtn", true);
        ShowInstallFailed(w, run.retryLabel);
        CloseRun(w);
        return -1;
    }
    report("DownloaderInfo00", "DownloadSuccess001", "");
    report("DownloaderInfo", "BeginInstall001", "");
    report("Download", "4.DownFinsh", run.retryLabel);

    const std::string installDir = w.GetInstallPath();
    const std::string langCode = install_detail::SetupLanguageCode(w.languageIndex, w.downloaderId);
    // The setup's log goes to our private work folder: a setup may open it following links.
    const std::string tempDir = run.workFolder + "/";
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char logName[512];
    std::snprintf(logName, sizeof logName, "%s_Setup_%.4d%.2d%.2d%.2d%.2d%.2d.log", cfg.Software_name.c_str(),
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string trackingId;
    if (w.spTracking) {
        report("Other", "SPTrackingGetID", "");
        const std::string self = platform::ownModulePath().filename().string();
        if (self.find('_') != std::string::npos) {
            report("Other", "SPTrackingWriteID", "");
            trackingId = self;
        }
    }
    for (const std::string& piece :
         {runCopy.string(), installDir, tempDir, std::string(logName), trackingId}) {
        if (!isSafeCommandLinePiece(piece)) {
            verifyPacer.stop();
            return commandLineRefused(run, piece);
        }
    }
    const std::string commandLine = install_detail::SetupCommandLine(installDir, langCode, tempDir, logName, trackingId);
    LOG(INFO) << " [Download File Path]: " << run.downloadPath;
    LOG(INFO) << " [Start Install CmdLine]: " << commandLine;
    if (commandLine.size() > kMaxCommandLine) {
        // Never cut: a cut line could name another folder.
        LOG(INFO) << " Setup command line too long (" << commandLine.size() << " characters), not started";
        verifyPacer.stop();
        w.SetControlEnabled("closebtn", true);
        ShowInstallFailed(w, run.retryLabel);
        CloseRun(w);
        return -1;
    }
    report("Download", "5.ProgramInstall", run.retryLabel);
    auto setup = startProcess(runCopy.string(), commandLine);
    verifyPacer.stop();
    Pacer installPacer([&w, &run](Pacer& self) {
        for (int i = 0; i < 10; ++i) {
            if (self.stopped()) return;
            const int value = 91 + i;
            if (value >= 100) continue;
            w.ShowProgressValue(value);
            if (!self.sleep(run.tuning.installPacerStepMs)) return;
        }
    });
    // A setup that cannot start ends like one that never finishes.
    if (!setup) {
        installPacer.stop();
        return setupTimedOut(run, 0);
    }
    int counter = 0;
    while (setup->wait(1000) != platform::WaitResult::Signaled) {
        if (counter > run.tuning.setupWaitLimit) {
            installPacer.stop();
            // The setup still runs from its copy.
            runFolder.keep();
            return setupTimedOut(run, counter);
        }
        ++counter;
    }
    // A setup exits non-zero exactly when it did not install (128 + N: ended by signal N).
    const int status = setup->exitCode().value_or(-1);
    if (status != 0) {
        LOG(INFO) << " Setup exit status: " << status;
        installPacer.stop();
        return setupFailed(run, std::to_string(status));
    }

    for (const VerifiedSubProgram& sub : subPrograms) {
        const std::string folder = installDir + "/" + sub.name;
        const std::string log = sub.downloaded + ".install.log";
        if (!isSafeCommandLinePiece(folder) || !isSafeCommandLinePiece(log)) {
            LOG(INFO) << " SubProgram command line refused, not installed: " << sub.copy.string();
            continue;
        }
        const std::string line = kPieceA + folder + kPieceF + langCode + kPieceC + log + kPieceG;
        if (auto process = startProcess(sub.copy.string(), line))
            process->wait(platform::kInfinite);
    }

    installPacer.stop();
    LOG(INFO) << " Cmd Finished, nWaitSeconds: " << counter;
    w.ShowProgressValue(100.0);
    report("DownloaderInfo00", "InstallFinish001", "");
    report("Download", "6.ProgramFinsh", run.retryLabel);

    const int index = w.languageIndex;
    if (index >= 0 && index < 20) {
        const std::string page = w.LabelText(kProductPageKeys[index]).value_or("");
        if (!page.empty()) {
            LOG(INFO) << " Open Url: " << page;
            platform::openUrl(page);
        }
    }

    RecordInstallLanguage(w);
    w.SetControlEnabled("closebtn", true);
    CloseRun(w);
    w.SetControlVisible("start_app", w.needStart == 1);
    w.SetControlVisible("text_startshortcut", w.needStart == 0);

    const std::string minutes = install_detail::InstallMinutesText(
        static_cast<int64_t>(platform::tickCount() - run.downloadPhaseEnd));
    LOG(INFO) << " Install Totally Take " << minutes << " minutes And Send To Server";
    report("DownloaderInfo00", "InstalllProgramTime", minutes);
    return 0;
}
