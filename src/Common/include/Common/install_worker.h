#pragma once
// The install thread: from the click on install to an installed product. One pass through the
// steps; every end the user sees closes with stage 1 and kMsgInstallEnded posted to the window.
//
// Runs on its own thread and reaches the window only through InstallWindow.

#include <cstdint>
#include <string>

class InstallWindow;

// Limits of one run. The defaults are the product's; tests shorten them.
struct InstallTuning {
    int setupWaitLimit = 240;  // 1 s waits of the setup run beyond this count: time-out
    uint64_t stallMs = 30000;  // no download progress this long: the download fails
    uint64_t noSpeedEventMs = 3000;
    int subProgramUrlWaits = 10;  // 1 s waits for a sub-program's URL
    int pacerStepMs = 2000;       // verification pacer step (the setup pacer takes 5000)
    int installPacerStepMs = 5000;
    bool assumeOffline = false;  // the network check always fails (tests of that path)

    // The defaults, with KV_TEST_SETUP_WAIT_LIMIT, KV_TEST_STALL_MS, KV_TEST_OFFLINE and
    // KV_TEST_SUBPROGRAM_WAITS applied when set (so end-to-end tests can reach the slow paths
    // quickly).
    static InstallTuning fromEnvironment();
};

// Returns -1 for the failure ends, 1 for a finished non-setup download, 0 for an installation.
int InstallThreadFunc(InstallWindow& window,
                      const InstallTuning& tuning = InstallTuning::fromEnvironment());

// Pure pieces of the worker, exposed for tests.
namespace install_detail {
// "0s", "[1~10s]", "[11~20s]" ...
std::string TimingBucket(int64_t seconds);
// The /LANG= code and the language-record code of `languageIndex`.
std::string SetupLanguageCode(int languageIndex, int downloaderId);
std::string RecordLanguageCode(int languageIndex);
// Base name of the work folder and the setup file name, from the Extra_download_url label.
std::string WorkFolderBaseName(const std::string& extraDownloadUrl,
                               const std::string& softwareName);
std::string SetupFileName(const std::string& extraDownloadUrl, const std::string& softwareVersion);
// The setup command line (pieces A, B, C, D, E) for the main product.
std::string SetupCommandLine(const std::string& installDir, const std::string& langCode,
                             const std::string& tempDir, const std::string& logFileName,
                             const std::string& trackingId);
// The exception report body for the failed checks; empty when both passed.
std::string ExceptionReportBody(bool md5Ok, bool signatureOk, int downloaderId, int loadSource);
// "%.1f" of minutes truncated to two decimals.
std::string InstallMinutesText(int64_t milliseconds);
}  // namespace install_detail
