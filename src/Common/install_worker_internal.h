#pragma once
// Shared by the two halves of the install thread (download phase, setup phase).

#include <cstdint>
#include <string>

#include "Common/install_worker.h"

class InstallWindow;

struct InstallRun {
    InstallWindow& window;
    const InstallTuning& tuning;
    std::string workFolder;
    std::string downloadPath;
    std::string retryLabel;         // "Retry" or "First"
    uint64_t downloadPhaseEnd = 0;  // tick at the end of the download phase
};

// Stop the slides, show page 0, stage 1, tell the window the worker ended.
void CloseRun(InstallWindow& window);
// The failure presentation of the finish page.
void ShowInstallFailed(InstallWindow& window, const std::string& retryLabel);
// Writes the chosen language where the product's own setup (or the product) reads it.
void RecordInstallLanguage(InstallWindow& window);
// Verification, silent setup run and completion, after a successful download.
int FinishInstall(InstallRun& run);
