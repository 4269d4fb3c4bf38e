#pragma once
// The start of an install session, shared by the main window and the unattended mode so both
// read the product's labels, make the download folder, open the program log and report the
// start events the same way and in the same order.
//
// Threads: the thread that starts the session (the UI thread of the window).

#include <string>
#include <string_view>

class InstallWindow;

struct StartupLabels {
    int siteId = 0;
    int languageId = 0;
    int gifDuration = 0;
    int adminFlag = 0;
    std::string softwareName;
    std::string extraUrl;
};

// Resets what the worker reads at start (running, spTracking, isRetry, UrlUsed) and reads the
// configuration labels; downloaderId and needStart go straight into the window.
StartupLabels ReadStartupLabels(InstallWindow& window);

struct StartupFolders {
    std::string folder;  // the download folder, empty when no private folder could be had
    std::string productFolder;
    std::string logFile;  // the program log, empty without a folder
    bool logOpened = false;
};

// Makes the download folder (window.downloadDirectory) and opens the program log in it.
StartupFolders OpenStartupFolders(InstallWindow& window, const StartupLabels& labels,
                                  const std::string& sessionStamp);

// The start-up log lines, the reporter's product context, "CrashRate"/"Start", the machine
// facts once per machine ("PC", remembered by "GA_PC") and "Download"/"1.Launch".
void ReportStartup(const InstallWindow& window, const StartupLabels& labels);

// "DownloaderInfo00"/"Country" of the user's UI language; the index it maps to.
int ReportStartupCountry(uint32_t userLanguageId);

// The events of the click on install.
void ReportInstallClick(int languageIndex, bool improvementPlan, bool pathChanged);

// Whether "agree_improvement_checkbox" is ticked as `settingMarkup` writes it (unticked when
// the markup has no such check box).
bool ImprovementPlanDefault(std::string_view settingMarkup);

// The markup file that holds the settings panel and its check box.
inline constexpr const char* kSettingMarkupEntry = "skin\\InstallSetting.xml";
