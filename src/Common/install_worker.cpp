#include "Common/install_worker.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "CConfigure.h"
#include "CLibcurlTool.h"
#include "Common/install_window.h"
#include "Common/side_queries.h"
#include "DownLoadImpl.h"
#include "FuntionImpl.h"
#include "Logging.h"
#include "TextUtil.h"
#include "install_worker_internal.h"
#include "platform/Network.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "report/EventReporter.h"

namespace fs = std::filesystem;

namespace {

void report(const std::string& category, const std::string& action, const std::string& label) {
    EventReporter::instance().report(category, action, label, false);
}

// An earlier download whose record names another version or digest is not resumed.
void discardStaleDownload(const std::string& downloadPath, const CConfigure& cfg) {
    const std::string record = downloadPath + ".db";
    std::ifstream in(record);
    if (!in)
        return;
    std::string line;
    std::getline(in, line);
    in.close();
    if (line.size() > 259)
        line.resize(259);
    std::string version, md5;
    const size_t sep = line.find("###");
    if (sep != std::string::npos) {
        version = line.substr(0, sep);
        md5 = asciiLower(line.substr(sep + 3));
    }
    std::error_code ec;
    if (version != cfg.Software_version || (md5 != cfg.Md5 && md5 != cfg.Md5_extra)) {
        fs::remove(downloadPath, ec);
        fs::remove(downloadPath + ".xml", ec);
    }
    fs::remove(record, ec);
}

int failDownload(InstallRun& run, int r) {
    InstallWindow& w = run.window;
    report("Other", "DownErrorCode", "error" + std::to_string(r));
    int kind = 0;
    switch (r) {
        case -4:
            report("DownloaderInfo00", "DownloaderFailed", "-4");
            IncreaseRequestTooMuchTimes(w.configure->Software_name);
            kind = kMsgInternetTimeout;
            break;
        case -3:
            report("DownloaderInfo00", "DownloaderFailed", "-3");
            kind = kMsgInternetTimeout;
            break;
        case -2:
            report("DownloaderInfo00", "DownloaderFailed", "-2");
            kind = kMsgInternetFailed;
            break;
        case -1:
            report("DownloaderInfo00", "DownloaderFailed", "-1");
            kind = kMsgUrlFailed;
            break;
        default:
            report("DownloaderInfo00", "DownloaderFailed", "Unknown");
            return -1;
    }
    w.ShowMessageBox(kind);
    w.SetControlEnabled("closebtn", true);
    ShowInstallFailed(w, run.retryLabel);
    CloseRun(w);
    return -1;
}

void downloadSubPrograms(InstallRun& run, const DownloadWatch& watch) {
    InstallWindow& w = run.window;
    const auto names = w.subPrograms.names();
    const size_t n = names.size();
    for (size_t k = 0; k < n; ++k) {
        ++w.subProgramCounter;
        for (int i = 0; i < run.tuning.subProgramUrlWaits; ++i) {
            const auto url = w.subPrograms.url(k);
            if (url && !url->empty())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        }
        for (int j = 0; j < 3; ++j) {
            const std::string where =
                std::to_string(k) + "/" + std::to_string(n) + ", " + std::to_string(j) + "/3";
            LOG(INFO) << " SubProgram Info: " << where;
            report("Download", "IsToolKit", "1");
            const auto url = w.subPrograms.url(k);
            const auto file = w.subPrograms.file(k);
            if (!url || !file) {
                LOG(INFO) << " SubProgram no url: " << where;
            } else if (!url->empty() && !file->empty()) {
                const int s = CDownLoadImpl::SuperDownloadFile(*url, *file, watch);
                if (s == 1)
                    break;
                LOG(INFO) << " SubProgram Download Fail: " << s << ", " << where;
            } else {
                LOG(INFO) << " SubProgram url no length: " << where;
            }
        }
    }
}

}  // namespace

namespace install_detail {

std::string TimingBucket(int64_t t) {
    if (t <= 0)
        return "0s";
    const int64_t q = t / 10;
    const int64_t m = t % 10;
    char text[64];
    if (m != 0)
        std::snprintf(text, sizeof text, "[%lld~%llds]", static_cast<long long>(10 * q + 1),
                      static_cast<long long>(10 * q + 10));
    else
        std::snprintf(text, sizeof text, "[%lld~%llds]", static_cast<long long>(10 * q - 9),
                      static_cast<long long>(10 * q));
    return text;
}

std::string WorkFolderBaseName(const std::string& url, const std::string& softwareName) {
    const size_t slash = url.rfind('/');
    if (slash == std::string::npos)
        return softwareName;
    const size_t dot = url.find('.', slash);
    if (dot == std::string::npos)
        return softwareName;
    std::string base = url.substr(slash + 1, dot - slash - 1);
    // The name becomes a folder under the temporary folder. It holds no "/" and no "." by how it
    // is cut, so "." and ".." cannot arise; an empty name or a Windows separator can.
    if (base.empty() || base.find('\\') != std::string::npos)
        return softwareName;
    return base;
}

std::string SetupFileName(const std::string& url, const std::string& version) {
    std::string name = url.substr(url.rfind('/') == std::string::npos ? 0 : url.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.resize(dot);
    const bool exe = url.size() >= 4 && url.compare(url.size() - 4, 4, ".exe") == 0;
    return name + "_" + version + (exe ? ".exe" : ".apk");
}

}  // namespace install_detail

InstallTuning InstallTuning::fromEnvironment() {
    InstallTuning t;
    if (const char* v = std::getenv("KV_TEST_SETUP_WAIT_LIMIT"))
        t.setupWaitLimit = std::max(0, parseDecimalInt(v));
    if (const char* v = std::getenv("KV_TEST_STALL_MS")) {
        t.stallMs = static_cast<uint64_t>(std::max<int64_t>(1000, parseDecimalInt64(v)));
        t.noSpeedEventMs = std::min<uint64_t>(t.noSpeedEventMs, t.stallMs / 2);
    }
    if (const char* v = std::getenv("KV_TEST_OFFLINE"))
        t.assumeOffline = std::string(v) == "1";
    if (const char* v = std::getenv("KV_TEST_SUBPROGRAM_WAITS"))
        t.subProgramUrlWaits = std::max(0, parseDecimalInt(v));
    return t;
}

namespace {

// The server's reply wins over configure.xml.
void RefreshConfiguration(InstallWindow& w, CConfigure& cfg) {
    if (cfg.loadState != CConfigure::kLoaded) {
        cfg.getDownloadInfoXml(true);
        cfg.parseDownloadInfoXml();
        if (cfg.loadState != CConfigure::kLoaded)
            cfg.loadFromMarkup([&w](std::string_view name) { return w.LabelText(name); });
    }
    if (cfg.loadState == CConfigure::kLoaded)
        cfg.printContent();
}

// A 64-bit link that the server does not have (404) gives way to the first configured link that
// is not a CDN's.
std::string Prefer32BitLink(InstallWindow& w, std::string url) {
    if (FuntionImpl::IsWow64() && url.find("_64.exe") != std::string::npos) {
        CLibcurlTool probe;
        if (!probe.valid()) {
            LOG(INFO) << " Curl object create failed!";
        } else {
            std::string header;
            long status = 0;
            const CURLcode rc = probe.getHttpHeader(url, header, &status);
            LOG(INFO) << " Curl check 64Bit link, http code is " << status << ", curl code is "
                      << static_cast<int>(rc);
            if (status == 404) {
                for (const char* label : {"Download_url", "Extra_download_url"}) {
                    const std::string other = w.LabelText(label).value_or("");
                    if (!other.empty() && !FuntionImpl::IsCdnUrl(other)) {
                        url = other;
                        LOG(INFO) << " UrlUsed change to: " << url;
                        report("Download", "64PC32Link", "");
                        break;
                    }
                }
            }
        }
    }
    return url;
}

// The download URL: the candidates, the page's own link among them, checked in turn.
std::string ChooseDownloadUrl(InstallWindow& w, CConfigure& cfg) {
    const std::string pageUrl = GetDataDlUrl(w);
    if (!pageUrl.empty())
        cfg.candidateUrls.push_back(pageUrl);
    std::string url = checkRemotePath(cfg.candidateUrls, 1);
    url = Prefer32BitLink(w, url);
    w.SetUrlUsed(url);
    return url;
}

// A configuration from the markup has no digest to check an earlier download against.
void ClearMarkupDownload(const fs::path& workFolder, const std::string& setupName) {
    LOG(INFO) << " Configure Load From File, clearAppData Before Download! ";
    std::error_code ec;
    fs::remove(workFolder / setupName, ec);
    fs::remove((workFolder / setupName).string() + ".xml", ec);
}

// The installer runs with high rights and runs what it puts here: only a folder of ours alone
// will do (the window start made or replaced it already; this returns the same one). Empty when
// there is none.
fs::path PrivateWorkFolder(const std::string& extraLabel, const CConfigure& cfg) {
    const fs::path temp = platform::tempDirectory();
    if (temp.empty())
        return {};
    return platform::privateFolder(platform::longPath(temp) / install_detail::WorkFolderBaseName(
                                                                  extraLabel, cfg.Software_name));
}

// Up to four attempts at the same URL; the result of the last.
int DownloadWithRetries(const std::string& url, const std::string& path, const DownloadWatch& watch,
                        const std::string& toolkit) {
    int r = 0;
    for (int n = 1; n <= 4; ++n) {
        report("Download", "IsToolKit", toolkit);
        r = CDownLoadImpl::SuperDownloadFile(url, path, watch);
        if (r == 1 && n == 1)
            break;
        if (r == 1) {
            LOG(INFO) << "Success，The Retry Frequency is: " << n - 1;
            report("Download", "4.DownFinsh", "AutoRetry");
            break;
        }
        if (n == 4) {
            LOG(INFO) << " The Retry Frequency is: " << 3;
            break;
        }
        LOG(INFO) << " The Retry Frequency is: " << n - 1;
        report("Download", "3.Downloading...", "AutoRetry");
    }
    return r;
}

}  // namespace

int InstallThreadFunc(InstallWindow& w, const InstallTuning& tuning) {
    using install_detail::SetupFileName;
    using install_detail::WorkFolderBaseName;
    CConfigure& cfg = *w.configure;
    const uint64_t start = platform::tickCount();
    report("DownloaderInfo", "BeginDownload001", "");
    w.subProgramCounter = 0;
    w.running = true;

    RefreshConfiguration(w, cfg);

    const std::string extraLabel = w.LabelText("Extra_download_url").value_or("");
    InstallRun run{w, tuning, {}, {}, w.isRetry ? "Retry" : "First", 0};
    const fs::path workFolder = PrivateWorkFolder(extraLabel, cfg);
    if (workFolder.empty()) {
        report("DownloaderInfo00", "DownloaderFailed", "Unknown");
        return -1;
    }
    run.workFolder = workFolder.string();

    std::string url = ChooseDownloadUrl(w, cfg);
    LOG(INFO) << " Speed-Test Totally Take " << (platform::tickCount() - start) << " ms";
    const uint64_t urlChosen = platform::tickCount();
    GetIEProxyConfig();

    const std::string setupName = SetupFileName(extraLabel, cfg.Software_version);
    const bool setupProgram = FuntionImpl::IsSetupExe(cfg.Extra_download_url);
    run.downloadPath =
        ((setupProgram ? workFolder : fs::path(w.downloadDirectory)) / setupName).string();
    w.SetDownloadedSetupPath(run.downloadPath);
    discardStaleDownload(run.downloadPath, cfg);

    if (cfg.loadSource == CConfigure::kFromMarkup)
        ClearMarkupDownload(workFolder, setupName);

    bool cdn = FuntionImpl::IsCdnUrl(url);
    report("Download", "3.Downloading...", run.retryLabel);
    DownloadWatch watch;
    watch.stallMs = tuning.stallMs;
    watch.noSpeedEventMs = tuning.noSpeedEventMs;
    if (tuning.assumeOffline)
        watch.isNetworkAlive = [] { return false; };
    watch.showProgress = [&w](int64_t done, int64_t total) { w.ShowDownloadProgress(done, total); };
    const std::string toolkit = w.subPrograms.names().empty() ? "2" : "0";

    int r = DownloadWithRetries(url, run.downloadPath, watch, toolkit);

    if (r == -4) {
        const auto other = std::find_if(cfg.candidateUrls.begin(), cfg.candidateUrls.end(),
                                        [&](const std::string& c) { return c != url; });
        if (other != cfg.candidateUrls.end()) {
            std::error_code ec;
            fs::remove(run.downloadPath + ".xml", ec);
            url = *other;
            LOG(INFO) << " Use New Url: " << url;
            cdn = FuntionImpl::IsCdnUrl(url);
            report("Download", "3.Downloading...", run.retryLabel);
            w.SetUrlUsed(url);
            report("Download", "IsToolKit", toolkit);
            r = CDownLoadImpl::SuperDownloadFile(url, run.downloadPath, watch);
        }
    }

    downloadSubPrograms(run, watch);

    const int64_t seconds = static_cast<int64_t>((platform::tickCount() - urlChosen) / 1000);
    const std::string bucket = install_detail::TimingBucket(seconds);
    LOG(INFO) << " Download Totally Takes about " << bucket << " And Send To Server";
    report("DownloadTime", cdn ? "CDN" : "Server", bucket);
    run.downloadPhaseEnd = platform::tickCount();

    if (r != 1)
        return failDownload(run, r);
    return FinishInstall(run);
}
