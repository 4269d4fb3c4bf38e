// kvdiag: diagnostics that expose the installer's pieces to tests, benchmarks and vendors.
//
//   kvdiag skin [BINARY]       what start-up finds in the skin package embedded in BINARY
//                              (default: the kvdownloader beside this program)
//   kvdiag endpoints           the remote services this build talks to
//   kvdiag config [--markup] [--binary BINARY]
//                              loads the product configuration as the install worker does:
//                              the update service's reply, else the skin's configure.xml
//                              (only the latter with --markup); the log goes to standard output
//   kvdiag download URL OUT    a watched download, progress on one updating line, then the
//                              result code (1 downloaded, -1 .. -4 the kinds of failure)
//   kvdiag md5 FILE A B TAG    the MD5 check: 1 when the digest is A or B
//   kvdiag handover FILE COPY  the setup hand-over: one read makes COPY, the MD5 and the signature check
//   kvdiag probe               every system probe's answer on this machine
//   kvdiag verify FILE         the signature check's log line; exit 0 only when verified
//   kvdiag event CATEGORY ACTION LABEL [--now]
//                              reports one event as the installer does, with the installer's
//                              version; --now sends it at once and prints the UA result, else
//                              it is queued and the send thread's work is awaited (up to 60 s)
//
// Only `event` sends usage reports; the other commands keep the events they cause in memory.

#include <filesystem>
#include <iostream>
#include <string>

#include <chrono>
#include <cstdio>

#include "CConfigure.h"
#include "DownLoadImpl.h"
#include "FuntionImpl.h"
#include "FuntionImplSignature.h"
#include "Logging.h"
#include "platform/System.h"
#include "Common/setup_handover.h"
#include "Common/skin_labels.h"
#include "Common/skin_probe.h"
#include "RemoteServices.h"
#include "TextUtil.h"
#include "platform/Resources.h"
#include "report/EventReporter.h"

namespace {

int usage() {
    std::cerr << "usage: kvdiag skin [BINARY]\n"
                 "       kvdiag endpoints\n"
                 "       kvdiag config [--markup] [--binary BINARY]\n"
                 "       kvdiag download URL OUT\n"
                 "       kvdiag md5 FILE A B TAG\n"
                 "       kvdiag handover FILE COPY\n"
                 "       kvdiag probe\n"
                 "       kvdiag verify FILE\n"
                 "       kvdiag event CATEGORY ACTION LABEL [--now]\n";
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

int endpoints() {
    for (const auto& service : remoteServices()) std::cout << service.name << " " << service.baseUrl << "\n";
    return 0;
}

int config(const std::filesystem::path& binary, bool markupOnly) {
    const auto markup = ReadSkinText(platform::readResources(binary), kConfigureEntry);
    if (!markup) {
        std::cerr << "kvdiag: no configure.xml in the skin package of " << binary.string() << "\n";
        return 1;
    }
    auto labels = ReadLabelTexts(*markup);
    if (!labels) {
        std::cerr << "kvdiag: configure.xml does not parse\n";
        return 1;
    }
    auto label = [&](const char* name) { return parseDecimalInt((*labels)[name]); };
    CConfigure configure(label("Downloader_id"), label("Language_id"), label("Site_id"));
    bool loaded = false;
    if (!markupOnly) loaded = configure.getDownloadInfoXml(true) == 1 && configure.parseDownloadInfoXml() == 1;
    if (!loaded) configure.loadFromMarkup(LabelLookup(*labels));
    configure.printContent();
    return 0;
}

int download(const std::string& url, const std::string& out) {
    // The engine logs every request; on this command the progress line is the interesting part.
    if (!std::getenv("KVDIAG_VERBOSE")) kvlog::configureLogging(out + ".log", false);
    uint64_t lastPrint = 0;
    int64_t lastTotal = 0;
    uint64_t lastTick = platform::tickCount();
    int64_t lastDone = 0;
    double speed = 0;
    DownloadWatch watch;
    watch.showProgress = [&](int64_t done, int64_t total) {
        lastTotal = total;
        const uint64_t now = platform::tickCount();
        if (now - lastPrint < 200 && done != total) return;
        if (now > lastTick) speed = static_cast<double>(done - lastDone) * 1000.0 / static_cast<double>(now - lastTick);
        lastTick = now;
        lastDone = done;
        lastPrint = now;
        const double percent = total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 0.0;
        std::printf("\r%6.2f%%  %10.2f MB/s  %lld / %lld bytes", percent, speed / 1048576.0,
                    static_cast<long long>(done), static_cast<long long>(total));
        std::fflush(stdout);
    };
    const int result = CDownLoadImpl::SuperDownloadFile(url, out, watch);
    if (result == CDownLoadImpl::kDownloaded && lastTotal > 0) watch.showProgress(lastTotal, lastTotal);
    std::printf("\nResult: %d\n", result);
    return result == CDownLoadImpl::kDownloaded ? 0 : 1;
}

int md5(const std::string& file, const std::string& a, const std::string& b, const std::string& tag) {
    const int result = CDownLoadImpl::checkMD5(file, a, b, tag);
    std::printf("Result: %d\n", result);
    return result == 1 ? 0 : 1;
}

int handover(const std::string& file, const std::string& copy) {
    const auto start = std::chrono::steady_clock::now();
    const SetupHandover h = HandOverSetup(file, copy);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("MD5: %s\nSignature: 0x%x %s\nSeconds: %.3f\n", h.md5.c_str(), h.trust.status,
                h.trust.detail.c_str(), took.count());
    return h.trust.ok() ? 0 : 1;
}

int probe() {
    // The version probe reads the installer's resources: kvdiag carries none of its own.
    for (const auto& [name, answer] : FuntionImpl::ProbeReport(besideMe("kvdownloader")))
        std::cout << name << ": " << answer << "\n";
    return 0;
}

int event(const std::string& category, const std::string& action, const std::string& label, bool now) {
    // The hits carry the installer's version: kvdiag has none of its own.
    EventReporter::Settings settings = EventReporter::defaultSettings();
    settings.version = FuntionImpl::GetFileVersionString(besideMe("kvdownloader"));
    EventReporter::setUpInstance(settings);
    EventReporter& reporter = EventReporter::instance();
    if (now) {
        const int result = reporter.report(category, action, label, true);
        std::printf("UA result: %d\n", result);
        return result == 0 ? 0 : 1;
    }
    reporter.report(category, action, label, false);
    const bool sent = reporter.waitUntilIdle(60000);
    std::printf(sent ? "Queued and handed to the collectors\n" : "Still queued after 60 s\n");
    return sent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "event" && (argc == 5 || (argc == 6 && std::string(argv[5]) == "--now")))
        return event(argv[2], argv[3], argv[4], argc == 6);
    EventReporter::setUpInstance(EventReporter::recordOnly());
    if (command == "skin" && argc <= 3)
        return skin(argc == 3 ? std::filesystem::path(argv[2]) : besideMe("kvdownloader"));
    if (command == "endpoints" && argc == 2) return endpoints();
    if (command == "probe" && argc == 2) return probe();
    if (command == "verify" && argc == 3) return FuntionImpl::VerifyEmbeddedSignature(argv[2]) ? 0 : 1;
    if (command == "download" && argc == 4) return download(argv[2], argv[3]);
    if (command == "md5" && argc == 6) return md5(argv[2], argv[3], argv[4], argv[5]);
    if (command == "handover" && argc == 4) return handover(argv[2], argv[3]);
    if (command == "config") {
        bool markupOnly = false;
        std::filesystem::path binary = besideMe("kvdownloader");
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--markup") {
                markupOnly = true;
            } else if (arg == "--binary" && i + 1 < argc) {
                binary = argv[++i];
            } else {
                return usage();
            }
        }
        return config(binary, markupOnly);
    }
    return usage();
}
