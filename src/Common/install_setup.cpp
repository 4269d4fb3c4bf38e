// The setup phase of the install thread: verification, the silent setup run and completion.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
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
    info.inheritHandles = true;
    std::string error;
    auto process = platform::Process::start(info, &error);
    if (!process) LOG(INFO) << " CreateProcess failed: " << application << ": " << error;
    return process;
}

int setupTimedOut(InstallRun& run, int counter) {
    LOG(INFO) << " Cmd nWaitSeconds timed out: " << counter;
    report("DownloaderInfo", "InstallFailed", "");
    ShowInstallFailed(run.window, run.retryLabel);
    run.window.ShowMessageBox(kMsgSetupTimeout);
    CloseRun(run.window);
    return -1;
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
    const fs::path runFolder = fs::path(run.workFolder) / ("run-" + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove_all(runFolder, ec);
    fs::create_directory(runFolder, ec);
    const fs::path runCopy = runFolder / fs::path(run.downloadPath).filename();
    HandoverOptions handoverOptions;
    handoverOptions.md5 = !md5FromMarkup;
    const SetupHandover handover = HandOverSetup(run.downloadPath, runCopy, handoverOptions);
    const bool md5Ok = md5FromMarkup || CDownLoadImpl::checkMD5Digest(run.downloadPath, handover.md5, cfg.Md5,
                                                                      cfg.Md5_extra, cfg.Software_version) == 1;
    const platform::TrustResult& trust = handover.trust;
    LOG(INFO) << " VerifyEmbeddedSignature result is " << static_cast<int32_t>(trust.status) << ", "
              << FuntionImpl::SignatureMessage(trust.status, trust.lastError, run.downloadPath);
    const bool signatureOk = trust.ok();
    std::vector<bool> subProgramOk;
    for (const auto& file : w.subPrograms.files()) subProgramOk.push_back(FuntionImpl::VerifyEmbeddedSignature(file));

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
    const std::string tempDir = platform::tempDirectory().string() + "/";
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
            return setupTimedOut(run, counter);
        }
        ++counter;
    }
    // The install goes on whatever the setup returned; the status only helps whoever reads the
    // log of a failed install (128 + N: ended by signal N).
    if (const auto status = setup->exitCode(); status && *status != 0)
        LOG(INFO) << " Setup exit status: " << *status;

    const auto names = w.subPrograms.names();
    const auto files = w.subPrograms.files();
    for (size_t k = 0; k < files.size() && k < names.size(); ++k) {
        // A sub-program whose signature failed is not run with the installer's rights.
        if (k < subProgramOk.size() && !subProgramOk[k]) {
            LOG(INFO) << " SubProgram not signed, not installed: " << files[k];
            continue;
        }
        const std::string folder = installDir + "/" + names[k];
        const std::string line = kPieceA + folder + kPieceF + langCode + kPieceC + files[k] + ".install.log" + kPieceG;
        if (auto sub = startProcess(files[k], line)) sub->wait(platform::kInfinite);
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
