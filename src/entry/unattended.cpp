#include "Common/unattended.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "CConfigure.h"
#include "Common/console_presenter.h"
#include "Common/host_probes.h"
#include "Common/install_session.h"
#include "Common/install_worker.h"
#include "Common/side_queries.h"
#include "Common/skin_labels.h"
#include "Common/skin_probe.h"
#include "Common/startup_sequence.h"
#include "FuntionImpl.h"
#include "FuntionImplChannel.h"
#include "FuntionImplFirewall.h"
#include "LanguageTable.h"
#include "Logging.h"
#include "TextUtil.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/Sync.h"
#include "platform/System.h"
#include "report/EventReporter.h"
#include "ui/ZipArchive.h"

namespace fs = std::filesystem;

namespace {

void report(const std::string& category, const std::string& action, const std::string& label,
            bool now = false) {
    EventReporter::instance().report(category, action, label, now);
}

// Joins on every path out, so no side query outlives the presenter it writes to.
class ThreadGroup {
public:
    ~ThreadGroup() { joinAll(); }
    void start(std::function<void()> body) { m_threads.emplace_back(std::move(body)); }
    void joinAll() {
        for (auto& t : m_threads)
            if (t.joinable())
                t.join();
    }

private:
    std::vector<std::thread> m_threads;
};

// The window stays open while its queued events go out; a terminal run ends right after its
// last one, so it gives them a bounded time first. Then the closing event, sent at once.
constexpr uint32_t kQueuedEventsGraceMs = 5000;

void finishReporting() {
    EventReporter::instance().waitUntilIdle(kQueuedEventsGraceMs);
    report("CrashRate", "Close", "", true);
}

// The product's main program in the install folder, or found below it; empty when the
// configuration never loaded.
std::string launchTarget(const std::string& installPath, const CConfigure& cfg) {
    if (cfg.loadState != CConfigure::kLoaded)
        return {};
    const fs::path folder = installPath;
    const fs::path candidate = folder / cfg.Process_name;
    std::error_code ec;
    if (fs::exists(candidate, ec))
        return candidate.string();
    return FuntionImpl::FindFileInSubdirs(folder, cfg.Process_name).string();
}

struct SkinParts {
    std::shared_ptr<const ui::ZipArchive> skin;
    std::map<std::string, std::string> labels;
};

// The embedded skin package and its product configuration; nullopt, said on `out`, without them.
std::optional<SkinParts> OpenSkinPackage(const platform::ResourceTable& resources,
                                         std::ostream& out) {
    const platform::ResourceEntry* skinResource =
        resources.find(kSkinResourceType, kSkinResourceId);
    if (!skinResource || skinResource->data.empty()) {
        out << "This installer carries no skin package." << std::endl;
        return std::nullopt;
    }
    std::string error;
    std::shared_ptr<const ui::ZipArchive> skin =
        ui::ZipArchive::OpenFromMemory(skinResource->data, &error);
    if (!skin) {
        out << "The skin package does not open: " << error << std::endl;
        return std::nullopt;
    }
    const auto configureXml = skin->UnzipText(kConfigureEntry, &error);
    auto labels = configureXml ? ReadLabelTexts(*configureXml) : std::nullopt;
    if (!labels) {
        out << "The skin package has no readable product configuration (" << kConfigureEntry << ")."
            << std::endl;
        return std::nullopt;
    }
    return SkinParts{std::move(skin), std::move(*labels)};
}

// The interface language as the window chooses it when it shows, and its licence event when
// the skin carries that licence.
void ReportLanguage(ConsolePresenter& w, const SkinParts& package, const UnattendedOptions& options,
                    uint64_t shownAt) {
    const int startupIndex = ReportStartupCountry(platform::userUiLanguageId());
    w.languageIndex = options.languageIndex.value_or(startupIndex);
    const LanguageRow& row = LanguageRowFor(w.languageIndex);
    const auto licence = package.skin->UnzipText("skin\\License.xml");
    if (*row.licenseControl && licence &&
        licence->find(std::string("name=\"") + row.licenseControl + "\"") != std::string::npos)
        report("DownloaderInfo00", "LanguageSetting", row.eventLabel);
    const std::string format = w.LanguageText("install_page", "install_label");
    if (!format.empty())
        w.progressFormat = format;
    report("Other", "ClickToShowTime", std::to_string(platform::tickCount() - shownAt));
}

// What the install came to, on the terminal; the product started when asked. The exit status.
int PrintOutcome(ConsolePresenter& w, const CConfigure& cfg, int result,
                 const UnattendedOptions& options, const std::string& installPath,
                 const std::string& productName) {
    if (result == 0) {
        w.Print("Installed " + cfg.Software_name + " " + cfg.Software_version + " into " +
                installPath);
        if (!options.startProduct)
            return 0;
        const std::string target = launchTarget(installPath, cfg);
        report("Download", "7.ProgramLaunch", "", true);
        // Run directly: a terminal session has no desktop handler that would start a program.
        if (target.empty() || FuntionImpl::StartTargetMainExe("\"" + target + "\"", 1) != 0) {
            w.Print(PlainText(w.LanguageText("message_page", "ClickShortcutToLaunchText")));
            return 1;
        }
        w.Print("Started " + target);
        return 0;
    }
    if (result == 1) {
        w.Print("Downloaded " + cfg.Software_name + " to " + w.DownloadedSetupPath());
        return 0;
    }
    w.Print("The install of " + productName + " failed.");
    return 1;
}

// The program log's lines are for the log file, unless asked for; a caller that prints
// elsewhere than standard output keeps the process's setting.
void SetTerminalLevel(const UnattendedOptions& options, const std::ostream& out) {
    if (&out == &std::cout)
        kvlog::setConsoleLevel(options.verbose ? kvlog::ConsoleLevel::Verbose
                                               : kvlog::ConsoleLevel::Quiet);
}

// The firewall entry, then the single-instance guard: false when another copy holds it.
bool GuardInstance(int downloaderId, std::ostream& out,
                   std::unique_ptr<platform::NamedMutex>& instance) {
    FuntionImpl::AddFirewallException(platform::ownModulePath().string());
    bool alreadyRunning = false;
    instance = platform::NamedMutex::create("ORL_Downloader_" + std::to_string(downloaderId),
                                            &alreadyRunning);
    if (!alreadyRunning)
        return true;
    LOG(INFO) << " Already exist instance, id is: " << downloaderId;
    out << "Another copy of this installer is running for the same product." << std::endl;
    return false;
}

}  // namespace

bool IsUnattendedCommand(const std::vector<std::string>& args) {
    return !args.empty() && args.front() == "--unattended";
}

std::optional<UnattendedOptions> ParseUnattendedOptions(const std::vector<std::string>& args,
                                                        std::string& error) {
    UnattendedOptions options;
    for (size_t i = IsUnattendedCommand(args) ? 1 : 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--dir" && hasValue) {
            options.folder = args[++i];
            if (options.folder->empty()) {
                error = "--dir needs a folder";
                return std::nullopt;
            }
        } else if (arg == "--lang" && hasValue) {
            const std::string& text = args[++i];
            const int index = parseDecimalInt(text);
            if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
                index > 19) {
                error = "--lang takes a language index from 0 to 19, not \"" + text + "\"";
                return std::nullopt;
            }
            options.languageIndex = index;
        } else if (arg == "--start") {
            options.startProduct = true;
        } else if (arg == "--verbose" || arg == "debug") {
            options.verbose = true;
        } else {
            error = "unknown or incomplete option \"" + arg + "\"";
            return std::nullopt;
        }
    }
    return options;
}

int RunUnattended(const UnattendedOptions& options, const platform::ResourceTable& resources,
                  std::ostream& out, const std::function<void(const ConsolePresenter&)>& inspect) {
    const std::optional<SkinParts> package = OpenSkinPackage(resources, out);
    if (!package)
        return 2;
    SetTerminalLevel(options, out);
    const bool terminal = &out == &std::cout && ::isatty(STDOUT_FILENO) == 1;
    ConsolePresenter w(out, package->skin, package->labels, terminal);
    const uint64_t shownAt = platform::tickCount();
    for (const char* name : {"text_fail_retry", "text_fail_advice", "img_warning"})
        w.SetControlVisible(name, false);
    const StartupLabels product = ReadStartupLabels(w);
    const std::string& softwareName = product.softwareName;
    CConfigure cfg(w.downloaderId, product.languageId, product.siteId);
    w.configure = &cfg;
    const std::string stamp = SessionStamp(std::chrono::system_clock::now());
    const std::string defaultPath = DefaultInstallPath();
    const std::string chosen = options.folder.value_or(defaultPath);
    const StartupFolders downloads = OpenStartupFolders(w, product, stamp);
    if (downloads.folder.empty()) {
        kvlog::setConsoleLevel(kvlog::ConsoleLevel::Normal);
        out << "No private work folder could be made; see the messages above." << std::endl;
        return 1;
    }
    w.SetChosenFolder(chosen, downloads.productFolder);
    const fs::path logFile = downloads.logFile;
    // Without its file the log's lines are better on the terminal than nowhere.
    if (!downloads.logOpened)
        kvlog::setConsoleLevel(kvlog::ConsoleLevel::Normal);

    std::unique_ptr<platform::NamedMutex> instance;
    if (!GuardInstance(w.downloaderId, out, instance))
        return 3;

    ThreadGroup queries;
    if (IsToolkitDownloader(w.downloaderId)) {
        w.subPrograms.setNames({"Torvane", "Melvisto"});
        queries.start([&w] { GetSubProgramInfoThreadFunc(w); });
    }
    std::thread configQuery([&w] { AsyncGetCbsInfoThreadFunc(w); });
    queries.start([&w] { VerifyCrossEndIdThreadFunc(w); });

    ReportStartup(w, product);
    ReportLanguage(w, *package, options, shownAt);

    // The window would show the licence now; the configuration query finishes meanwhile and
    // must not write the configuration while the worker reads it.
    configQuery.join();

    const auto setting = package->skin->UnzipText(kSettingMarkupEntry);
    ReportInstallClick(w.languageIndex, setting && ImprovementPlanDefault(*setting),
                       chosen != defaultPath);
    const std::string productName = cfg.Software_name.empty() ? softwareName : cfg.Software_name;
    w.Print("Installing " + productName + " into " + w.GetInstallPath());

    const auto installPath = PrepareInstall(w, downloads.productFolder);
    if (!installPath) {
        out << "The install did not start." << std::endl;
        finishReporting();
        out << "Log: " << logFile.string() << std::endl;
        if (inspect)
            inspect(w);
        return 1;
    }
    w.SetPreparedInstallPath(*installPath);

    const int result = InstallThreadFunc(w);
    queries.joinAll();

    const int status = PrintOutcome(w, cfg, result, options, *installPath, productName);
    finishReporting();
    w.Print("Install folder: " + *installPath);
    w.Print("Log: " + logFile.string());
    (void)instance;
    if (inspect)
        inspect(w);
    return status;
}
