#pragma once
// The main window's own steps around an install that do not depend on how the window looks:
// the folders it prepares when it starts and the checks of the install click. The GUI window
// and the unattended mode both run them, reaching the window only through InstallWindow.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "Common/install_window.h"
#include "platform/Process.h"

// "%.4d%.2d%.2d%.2d%.2d%.2d%.3d" of the local time (year ... millisecond).
std::string SessionStamp(std::chrono::system_clock::time_point now);

struct DownloadDirectory {
    std::string folder;         // where downloads and the program log go
    std::string productFolder;  // the Software_name label: the product's folder name
};

// The temporary folder (setup programs) or the desktop (anything else), then the work folder
// name of the download, made or checked before anything is written into it: a folder that is a
// link, or owned or writable by someone else, is replaced by a fresh private one
// (platform::privateFolder). `folder` is empty when no private folder could be had.
DownloadDirectory MakeDownloadDirectory(const std::string& softwareName,
                                        const std::string& extraDownloadUrl);

// Creates the program log `file` (new, not through a link) and points the logger at it. False
// (the log stays on standard output only) when the file cannot be made.
bool OpenProgramLog(const std::filesystem::path& file);

// The program log's file name: the setup file name with the session stamp in place of the
// version and ".log" in place of its last four characters.
std::string LogFileName(const std::string& extraDownloadUrl, const std::string& sessionStamp);

// The folder offered before the user chooses one: the programs folder + "/Quenlake".
std::string DefaultInstallPath();

// The install folder from the folder the user chose: the product folder is appended unless the
// text already contains it.
std::string ComposeInstallPath(const std::string& chosenFolder, const std::string& productFolder);

// More than 300 MiB free where `path` is (or will be) created; `probe` measures it when given.
bool HasInstallSpace(const std::string& path, const FreeSpaceProbe& probe = {});

// True when a rename or delete waiting for the next restart names something inside `folder`.
bool IsPathPendingRename(const std::string& folder);

// The running process whose executable name is exactly `processName`.
std::optional<platform::ProcessEntry> FindRunningProcess(const std::string& processName);

// The system service the product runs, stopped before its setup replaces it; empty for none.
std::string ProductServiceName(int softwareId);

// The install click up to the start of the worker: the product must not be running, the
// folder must have room and be creatable (each refusal shows its message kind), a running
// product service is stopped, and the bar is reset. Returns the folder the setup installs into,
// nullopt when the install does not start.
std::optional<std::string> PrepareInstall(InstallWindow& window, const std::string& productFolder);
