#pragma once
// Helpers of the install workflow: system probes, registry strings, file helpers, the .NET
// check page decision and the start of the installed product. None keeps state between calls;
// any thread may call them (each opens what it reads per call). Texts are UTF-8. Failures are
// logged and give an empty string, false, -1 or 0, never an exception.
//
// The Windows decisions (version names, UI language names, .NET version comparison, check-file
// parsing) are pure functions over plain data, so they are tested without the machine; the
// probes feed them what this system offers.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CdnUrl.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/Resources.h"
#include "report/EventReporter.h"

namespace FuntionImpl {

// ---- Pure decisions -------------------------------------------------------------------------

// What a Windows system reports about its version.
struct WindowsVersionData {
    bool windows11 = false;  // IsWindows11: the build number is 22000 or more
    uint32_t ntMajor = 0;    // RtlGetNtVersionNumbers (never lies about the version)
    uint32_t ntMinor = 0;
    bool versionExAvailable = true;  // GetVersionExW succeeded; the fields below are its answer
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t platformId = 0;             // 1 Windows 9x, 2 NT
    uint8_t productType = 0;             // 1 workstation, 2 domain controller, 3 server
    uint16_t processorArchitecture = 0;  // 9 x64 (AMD64)
    int serverR2 = 0;                    // GetSystemMetrics(SM_SERVERR2)
};

inline constexpr uint32_t kVerPlatformWin32Windows = 1;
inline constexpr uint32_t kVerPlatformWin32Nt = 2;
inline constexpr uint8_t kVerNtWorkstation = 1;
inline constexpr uint16_t kProcessorArchitectureAmd64 = 9;

// "Windows 11", "Windows 10", "Windows 8.1", then the table by major and minor version
// ("Windows XP", "Windows Server 2008 R2", ...); "Error" for a major version not in the table,
// "" for a listed major with an unlisted minor or when GetVersionExW failed.
std::string WindowsVersionName(const WindowsVersionData& data);

// The build number text of the registry ("22621") read like atoi: 22000 or more is Windows 11.
bool IsWindows11Build(std::string_view buildText);

// "Language_Country" of a Windows LANGID: 0 "Neutral_Neutral", 1024 "Default_Default", a known
// id its table name, any other id "0x%.4x_0x%.4x" (0x0c1a → "0x0c1a_0x0c1a").
std::string UILanguageName(uint16_t languageId);

// The first four "."-separated parts of a version, each read like atoi, missing parts 0; parts
// after the fourth are ignored.
std::array<int, 4> SplitVersion4(std::string_view version);

// Whether the check page is needed: `needed` is not empty and `local` is older than it.
bool DotNetCheckNeeded(std::string_view local, std::string_view needed);

// The NetFrameworkVersion value of NetFrameCheck.db text: lines (CR LF or LF, a UTF-8 byte-order
// mark skipped) of fewer than 3 characters counting the line end are skipped; a line holding
// "[Settings]" opens the settings section, one holding "[Text]" ends the scan; inside the section
// the first line "key=value" (the "=" not first) with the key exactly "NetFrameworkVersion" gives
// its value, without the line end. Empty when there is none.
std::string ParseNetFrameCheck(std::string_view text);

// The "%d.%d.%d.%d" version of a VERSION 1 resource ("1.0.0.1", each part at most 65535);
// empty when there is none or it is malformed.
std::string FileVersionFromResources(const platform::ResourceTable& resources);

// What StartTargetMainExe mode 0 runs to open `path` (absolute, no double quote in it) with the
// desktop's handler: xdg-open, else `gio open`. The command line splits back
// (platform::splitCommandLine) into the program and the path as one argument.
platform::ProcessStartInfo ShellOpenStartInfo(const std::filesystem::path& path, bool haveXdgOpen);

// ---- Probes ---------------------------------------------------------------------------------

// The running system's name: PRETTY_NAME of os-release ("Debian GNU/Linux 12 (bookworm)"),
// else NAME and VERSION_ID; "" when unknown. On Windows data the table above decides.
std::string GetOSVersionName();

// The build number of HKLM "SOFTWARE\WOW6432Node\Microsoft\Windows NT\CurrentVersion", else of
// "SOFTWARE\Microsoft\Windows NT\CurrentVersion" (the first key that exists), value
// "CurrentBuild", else "CurrentBuildNumber", is 22000 or more; false when absent.
bool IsWindows11();

// UILanguageName of the user's UI language (platform::userUiLanguageId).
std::string GetUILanguageName();

// Whether the operating system is 64-bit (the Windows question was "a 32-bit program on 64-bit
// Windows"; this build's answer is about the system it runs on).
bool IsWow64();

// "%d.%d.%d.%d" of the file version resource of a program built by this project; "" for any
// other file and on any failure.
std::string GetFileVersionString(const std::filesystem::path& file);

// A REG_SZ value of any length, whole; "" when the key or the value is missing.
std::string ReadRegString(platform::Hive root, std::string_view subkey, std::string_view valueName);
// Creates the key (with its parents) when needed and stores the value as REG_SZ.
bool WriteRegString(platform::Hive root, std::string_view subkey, std::string_view valueName,
                    std::string_view data);

// Text for usage reports: valid UTF-8 unchanged, every ill-formed sequence replaced by U+FFFD.
std::string WideToUtf8(std::string_view text);

// The first path dir/S/.../fileName that exists, searching the subdirectories of `dir` in name
// order, each one's direct entry before its own subdirectories (depth first). Files directly in
// `dir` do not count. Symbolic links to directories are followed, but no directory is searched
// twice, so link loops end. Empty when nothing matches or `fileName` is empty.
std::filesystem::path FindFileInSubdirs(const std::filesystem::path& dir,
                                        std::string_view fileName);

// Size in bytes of a regular file (links followed); -1 when missing or not a regular file.
int64_t GetFileSize64(const std::filesystem::path& path);

// Replaces every occurrence of `pattern` from left to right, resuming after each inserted
// replacement; the number of replacements. 0 when the text or the pattern is empty.
size_t ReplaceAll(std::string& text, std::string_view pattern, std::string_view replacement);

// HKLM "SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Client" value "Version"; "" when absent.
std::string GetDotNetVersion();

// ParseNetFrameCheck of dir/NetFrameCheck.db; "" when it is missing or unreadable.
std::string ReadNetFrameCheck(const std::filesystem::path& dir);

// DotNetCheckNeeded(GetDotNetVersion(), ReadNetFrameCheck(dir)), with both logged.
bool WillShowNetFrameCheck(const std::filesystem::path& dir);

// The name ends in ".exe", exactly (case matters); false for names shorter than four characters.
bool IsSetupExe(std::string_view fileName);

// Starts the installed product. `quotedPath` is the program's path in double quotes (a path
// without them is taken as it is). Mode 0 opens it with the desktop's handler; any other mode
// runs it directly, its folder as working directory, without waiting for it. 0 once started;
// -1 on failure, logged and reported as "Other"/"StartWindowError" with a Windows error number
// (2 missing, 5 not executable, 123 a path the command line cannot carry, 31 other failures).
int StartTargetMainExe(std::string_view quotedPath, int mode);

// The usage reporter's settings for the running program: its version, OS text and locale;
// sending on. The program hands them to the reporter before its first use.
EventReporter::Settings ReporterSettings();

}  // namespace FuntionImpl
