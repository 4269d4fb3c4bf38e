#pragma once
// The demo product: what its setup installs and registers. The installer's product
// configuration names the same product ("Software_name", "Software_version", "Process_name"),
// so these texts must agree with it.

namespace demo {

inline constexpr const char* kProductName = "Kestrova Editor";
inline constexpr const char* kProductVersion = "2.4.1.0";
inline constexpr const char* kPublisher = "Kestrova Software";
inline constexpr const char* kApplicationFile = "KestrovaEditor.exe";
inline constexpr const char* kUninstallerFile = "unins000.exe";
// The sample library a setup with a payload installs (the payload's bytes as they are).
inline constexpr const char* kDataFile = "KestrovaEditor.pak";
// Written by the application into its own folder each time it starts.
inline constexpr const char* kStartedLogFile = "started.log";
// The switch that turns the copy of the setup in the install folder into its uninstaller.
inline constexpr const char* kUninstallSwitch = "/UNINSTALL";

// Where a 32-bit setup registers the product: the 32-bit view of the machine hive on a 64-bit
// system, the plain key otherwise.
inline constexpr const char* kUninstallKey64 =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Kestrova Editor}_is1";
inline constexpr const char* kUninstallKey32 =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Kestrova Editor}_is1";

}  // namespace demo
