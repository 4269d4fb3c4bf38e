#include "Common/startup_sequence.h"

#include <filesystem>

#include "CConfigure.h"
#include "Common/host_probes.h"
#include "Common/install_session.h"
#include "Common/install_window.h"
#include "FuntionImpl.h"
#include "FuntionImplChannel.h"
#include "LanguageTable.h"
#include "Logging.h"
#include "TextUtil.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "report/EventReporter.h"
#include "ui/MarkupLoader.h"
#include "ui/Option.h"

namespace fs = std::filesystem;

namespace {

void report(const std::string& category, const std::string& action, const std::string& label) {
    EventReporter::instance().report(category, action, label, false);
}

// The machine facts go out once per machine; the marker is written after them.
void reportMachineOnce() {
    const char* key = "SOFTWARE\\Kestrova\\Downloader2.5.0";
    if (!FuntionImpl::ReadRegString(platform::Hive::LocalMachine, key, "GA_PC").empty())
        return;
    report("PC", "SysOS",
           FuntionImpl::GetOSVersionName() + (FuntionImpl::IsWow64() ? " 64bit" : " 32bit"));
    report("PC", "SysLanguage", FuntionImpl::GetUILanguageName());
    int width = 0, height = 0;
    FuntionImpl::GetScreenScale(width, height);
    report("PC", "SysScreenResolution", std::to_string(width) + "*" + std::to_string(height));
    FuntionImpl::WriteRegString(platform::Hive::LocalMachine, key, "GA_PC", "1");
}

}  // namespace

StartupLabels ReadStartupLabels(InstallWindow& w) {
    auto label = [&w](std::string_view name) { return w.LabelText(name).value_or(""); };
    w.running = false;
    w.spTracking = true;
    w.isRetry = false;
    w.SetUrlUsed("");
    w.downloaderId = parseDecimalInt(label("Downloader_id"));
    w.needStart = parseDecimalInt(label("NeedStart_flag"));
    StartupLabels labels;
    labels.siteId = parseDecimalInt(label("Site_id"));
    labels.languageId = parseDecimalInt(label("Language_id"));
    labels.gifDuration = parseDecimalInt(label("Gif_duration"));
    labels.adminFlag = parseDecimalInt(label("admin_flag"));
    labels.softwareName = label("Software_name");
    labels.extraUrl = label("Extra_download_url");
    return labels;
}

StartupFolders OpenStartupFolders(InstallWindow& w, const StartupLabels& labels,
                                  const std::string& sessionStamp) {
    const DownloadDirectory downloads = MakeDownloadDirectory(labels.softwareName, labels.extraUrl);
    StartupFolders folders{downloads.folder, downloads.productFolder, {}};
    w.downloadDirectory = downloads.folder;
    if (downloads.folder.empty())
        return folders;
    // The folder is made or checked before the log is opened in it.
    folders.logFile =
        (fs::path(downloads.folder) / LogFileName(labels.extraUrl, sessionStamp)).string();
    folders.logOpened = OpenProgramLog(folders.logFile);
    return folders;
}

void ReportStartup(const InstallWindow& w, const StartupLabels& labels) {
    LOG(INFO) << " Downloader version: "
              << FuntionImpl::GetFileVersionString(platform::ownModulePath())
              << ", 64Bit: " << (FuntionImpl::IsWow64() ? "True" : "False");
    int width = 0, height = 0;
    const double scale = FuntionImpl::GetScreenScale(width, height);
    LOG(INFO) << " Screen: " << width << "*" << height << ", " << scale;
    LOG(INFO) << " Request For Product Config -- [Downloader Id]: " << w.downloaderId
              << " [Site Id]: " << labels.siteId << " [Language Id]: " << labels.languageId;
    EventReporter::instance().setProductContext(FuntionImpl::ReportContext(
        labels.siteId, labels.softwareName, labels.extraUrl, IsToolkitDownloader(w.downloaderId)));
    report("CrashRate", "Start", "");
    reportMachineOnce();
    report("Download", "1.Launch", "");
}

int ReportStartupCountry(uint32_t userLanguageId) {
    const StartupLanguage startup = StartupLanguageFor(userLanguageId);
    report("DownloaderInfo00", "Country", startup.country);
    return startup.index;
}

void ReportInstallClick(int languageIndex, bool improvementPlan, bool pathChanged) {
    LOG(INFO) << " Click install button";
    report("DownloaderInfo00", "ClickInstall001", "");
    report("Download", "2.DownStart", "");
    report("Other", "ImprovementPlan", improvementPlan ? "Enable" : "Disabled");
    report("Other", "SetLanguage", LanguageRowFor(languageIndex).name);
    if (pathChanged)
        report("Other", "SetPath", "");
}

bool ImprovementPlanDefault(std::string_view settingMarkup) {
    const ui::MarkupDocument doc = ui::MarkupLoader(nullptr).LoadFromText(settingMarkup);
    bool ticked = false;
    if (!doc.root)
        return false;
    ui::ForEachControl(doc.root.get(), [&](ui::Control& c) {
        if (c.GetName() != "agree_improvement_checkbox")
            return true;
        if (auto* box = dynamic_cast<ui::Option*>(&c))
            ticked = box->IsSelected();
        return false;
    });
    return ticked;
}
