// Program entry of the installer.

#include <iostream>
#include <string>
#include <vector>

#include "Common/skin_probe.h"
#include "Common/unattended.h"
#include "FuntionImpl.h"
#include "Logging.h"
#include "platform/Resources.h"
#include "report/EventReporter.h"

namespace {

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

int wWinMain(const std::string& commandLine) {
    // A terminal is always at hand on this platform, so "debug" only turns the greeting on.
    if (commandLine == "debug")
        std::cout << "test" << std::endl;

    const SkinProbe probe = ProbeSkinPackage(platform::readOwnResources());
    if (!probe.packageFound) {
        std::cout << "No skin package found in this program" << std::endl;
        return 0;
    }
    std::cout << "Skin package: " << probe.entryNames.size() << " files" << std::endl;
    if (!probe.downloaderId) {
        std::cout << "Downloader_id: not found" << std::endl;
        return 0;
    }
    std::cout << "Downloader_id: " << *probe.downloaderId << std::endl;
    std::cout << "Window class: " << probe.windowClassName << std::endl;
    return 0;
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
