// kvdiag: diagnostics that expose the installer's pieces to tests, benchmarks and vendors.
//
//   kvdiag skin [BINARY]   what start-up finds in the skin package embedded in BINARY
//                          (default: the kvdownloader beside this program)

#include <filesystem>
#include <iostream>
#include <string>

#include "Common/skin_probe.h"
#include "platform/Resources.h"

namespace {

int usage() {
    std::cerr << "usage: kvdiag skin [BINARY]\n";
    return 2;
}

std::filesystem::path besideMe(const std::string& name) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path(name) : self.parent_path() / name;
}

int skin(const std::filesystem::path& binary) {
    if (!std::filesystem::is_regular_file(binary)) {
        std::cerr << "kvdiag: no such program: " << binary.string() << "\n";
        return 1;
    }
    const auto resources = platform::readResources(binary);
    const SkinProbe probe = ProbeSkinPackage(resources);
    std::cout << "Program: " << binary.string() << "\n";
    const std::string version = ReadFileVersion(resources);
    std::cout << "File version: " << (version.empty() ? "none" : version) << "\n";
    if (!probe.packageFound) {
        std::cout << "Skin package: none\n";
        return 1;
    }
    std::cout << "Skin package: " << probe.entryNames.size() << " files\n";
    if (!probe.configureFound) {
        std::cout << "configure.xml: missing\n";
        return 1;
    }
    if (!probe.downloaderId) {
        std::cout << "Downloader_id: not found\n";
        return 1;
    }
    std::cout << "Downloader_id: " << *probe.downloaderId << "\n";
    std::cout << "Window class: " << probe.windowClassName << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "skin" && argc <= 3)
        return skin(argc == 3 ? std::filesystem::path(argv[2]) : besideMe("kvdownloader"));
    return usage();
}
