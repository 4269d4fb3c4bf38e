// Program entry of the installer: the window a user installs with, or the unattended mode.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Common/install_ui_mainwnd.h"
#include "Common/process_end.h"
#include "Common/skin_labels.h"
#include "Common/skin_probe.h"
#include "Common/unattended.h"
#include "FuntionImpl.h"
#include "FuntionImplFirewall.h"
#include "Logging.h"
#include "platform/Process.h"
#include "platform/Resources.h"
#include "platform/Sync.h"
#include "report/EventReporter.h"
#include "ui/GtkHost.h"
#include "ui/Host.h"
#include "ui/SkinPackage.h"

namespace {

// Held for the life of the process: a second copy for the same product sees it and ends.
std::unique_ptr<platform::NamedMutex> g_instanceMutex;

constexpr const char* kNoDisplay =
    "kvdownloader: no X display to show the installer window on (DISPLAY is not set or cannot "
    "be opened); run \"kvdownloader --unattended\" to install without a window\n";

// Whole command line as the program received it, the program name left out.
std::string JoinCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

// A window program has no terminal unless it was started with "debug": what it writes on
// standard output goes nowhere, so a terminal that started it stays quiet.
void DiscardStandardOutput() {
    std::cout.flush();
    std::fflush(stdout);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0)
        return;
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
}

// The caption of the window: the product's name from the skin's configuration.
std::string ProductName(const platform::ResourceTable& resources) {
    const auto configure = ReadSkinText(resources, kConfigureEntry);
    const auto labels = configure ? ReadLabelTexts(*configure) : std::nullopt;
    if (!labels)
        return {};
    const auto it = labels->find("Software_name");
    return it == labels->end() ? std::string() : it->second;
}

// Ends the process without unwinding: threads the window started are never joined.
[[noreturn]] void EndProcess(int code) {
    ProcessEnd{}.Exit(code);
    std::_Exit(code);
}

int wWinMain(const std::string& commandLine) {
    const bool debug = commandLine == "debug";
    if (!debug)
        DiscardStandardOutput();
    if (debug)
        kvlog::setConsoleLevel(kvlog::ConsoleLevel::Verbose);
    kvlog::configureLogging({}, debug);
    std::cout << "test" << std::endl;

    if (!ui::gtk::Install()) {
        std::cerr << kNoDisplay;
        return 1;
    }

    // A window of this product already on the desktop is brought forward instead of a second.
    const platform::ResourceTable resources = platform::readOwnResources();
    const SkinProbe probe = ProbeSkinPackage(resources);
    if (probe.downloaderId && ui::GetHostBackend()->ActivateWindowOfClass(probe.windowClassName)) {
        LOG(INFO) << " The window " << probe.windowClassName
                  << " is open already; it was brought to the front";
        return 0;
    }

    FuntionImpl::AddFirewallException(platform::ownModulePath().string());

    const platform::ResourceEntry* skin = resources.find(kSkinResourceType, kSkinResourceId);
    const std::vector<uint8_t> skinBytes = skin ? skin->data : std::vector<uint8_t>();
    // The message boxes and the launch hint build from the process's default package.
    if (auto package = ui::SkinPackage::Open(skinBytes))
        ui::SkinPackage::SetDefault(std::move(package));
    InstallUIMainWnd window(WindowClassName(probe.downloaderId.value_or("")), skinBytes);
    window.SetProcessEnd({.releaseInstanceGuard = [] { g_instanceMutex.reset(); }});
    if (!window.CreateMainWindow(ProductName(resources))) {
        // Without a usable skin there is no window, and no program log yet to say why.
        std::cerr << "kvdownloader: the installer window could not be created: this program "
                     "carries no usable skin package (kvres lint checks one)\n";
        EndProcess(1);
    }

    char mutexName[64];
    std::snprintf(mutexName, sizeof mutexName, "ORL_Downloader_%d", window.DownloaderId());
    bool alreadyExisted = false;
    g_instanceMutex = platform::NamedMutex::create(mutexName, &alreadyExisted);
    if (alreadyExisted) {
        LOG(INFO) << " Already exist instance, id is: " << window.DownloaderId();
        g_instanceMutex.reset();
        EndProcess(0);
    }

    window.CenterAndShow();
    ui::RunMessageLoop();
    EndProcess(0);
}

}  // namespace

int main(int argc, char** argv) {
    EventReporter::setUpInstance(&FuntionImpl::ReporterSettings);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (IsUnattendedCommand(args)) {
        std::string error;
        const auto options = ParseUnattendedOptions(args, error);
        if (!options) {
            std::cerr << "kvdownloader: " << error << "\n" << kUnattendedUsage;
            return 2;
        }
        return RunUnattended(*options, platform::readOwnResources(), std::cout);
    }
    return wWinMain(JoinCommandLine(argc, argv));
}
