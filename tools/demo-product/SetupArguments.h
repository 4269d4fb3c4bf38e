#pragma once
// The demo setup's command line, read the way an Inno Setup program reads its switches:
// names without ASCII case, "/NAME=value" for values, unknown switches ignored. The installer
// passes "/sptrack ID" as two arguments, so that one switch takes the argument after it.
// Pure functions; any thread.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace demo {

struct SetupArguments {
    std::optional<std::string> dir;         // /DIR=, as given (may be empty)
    std::string language;                   // /LANG=, empty when not given
    std::optional<std::string> logFile;     // /LOG=; /LOG alone asks for no file here
    std::optional<std::string> trackingId;  // the argument after /sptrack
    bool verySilent = false;                // /VERYSILENT
    bool silent = false;                    // /SILENT
    bool uninstall = false;                 // /UNINSTALL
    std::vector<std::string> ignored;       // arguments that meant nothing to the setup
};

// `args` without the program name.
SetupArguments parseSetupArguments(const std::vector<std::string>& args);

// The install folder for a /DIR= text: "\" read as a separator (the installer ends the folder
// with one), trailing separators dropped, "." and ".." resolved. nullopt, with the reason in
// `error`, for an empty or relative folder or the root folder.
std::optional<std::filesystem::path> installFolderFromText(std::string_view text,
                                                           std::string& error);

// A Windows-style file path (/LOG=) with "\" read as a separator.
std::filesystem::path filePathFromText(std::string_view text);

}  // namespace demo
