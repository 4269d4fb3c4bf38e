#pragma once
// Installing the demo product into a folder and removing it again: its files, placed so that a
// half-written file never carries its final name, and its uninstall entry in the machine hive
// of the registry store (values "DisplayName", "DisplayVersion", "Publisher",
// "InstallLocation", "Inno Setup: App Path", "UninstallString").
//
// One thread (the setup has no other).

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "SetupLog.h"

namespace demo {

struct InstallPayload {
    std::span<const uint8_t> application;  // becomes kApplicationFile
    std::span<const uint8_t> uninstaller;  // becomes kUninstallerFile
    std::span<const uint8_t> data;         // becomes kDataFile unless empty
};

// kUninstallKey64 on a 64-bit system, kUninstallKey32 otherwise.
std::string uninstallKeyPath();

// Creates `folder` with its parents, places both programs (mode 0755) and the data file
// (0644), then writes the uninstall
// entry; values already in the key and not named above are kept. False, with the reason in
// `error`, on any failure; what this run added is then taken away again (new files, new
// folders, a new key; overwritten values get their earlier data back). A file that replaced
// one of an earlier install stays: it is whole, and the earlier one is gone.
bool installProduct(const std::filesystem::path& folder, const InstallPayload& payload,
                    SetupLog& log, std::string& error);

// Removes the install in `folder` (the uninstaller's own folder): the files it placed, the one
// the product writes itself (kStartedLogFile), the uninstall entry, and the folder when nothing
// else is left in it. Refused when the entry is missing or names another folder, so a stray
// copy of the uninstaller removes nothing. Files of anyone else stay, and so does the folder.
bool uninstallProduct(const std::filesystem::path& folder, SetupLog& log, std::string& error);

}  // namespace demo
