#pragma once
// Basic facts about the machine and the user: a millisecond clock, fresh GUIDs, whether the
// operating system is 64-bit, the user's UI language as a Windows LANGID, and the OS and
// kernel names for logs and usage reports.
//
// Threads: everything may be called from any thread. The functions that read environment
// variables (userUiLanguageId) must not race a setenv/unsetenv on another thread; the program
// changes its environment only at start-up, before it starts threads. The pure functions
// (formatGuid, guidFromRandomBytes, isMachine64Bit, uiLanguageIdFromEnvironment,
// parseOsRelease) touch nothing but their arguments. Nothing here throws; a failure is
// logged and gives an empty result.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Milliseconds of a monotonic clock (never jumps with wall-clock changes); only differences
// between two readings mean anything.
uint64_t tickCount();

// A random (version 4) GUID, "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}" in upper-case hex with Y
// one of 8, 9, A, B. The bytes come from getrandom(); "" (logged) if the kernel gives none.
std::string newGuid();

// "{...}" of 16 bytes in order, upper-case hex, grouped 4-2-2-2-6. Formats only; sets no bits.
std::string formatGuid(const std::array<uint8_t, 16>& bytes);

// Stamps version 4 and the RFC 4122 variant onto 16 random bytes and formats them.
std::string guidFromRandomBytes(std::array<uint8_t, 16> bytes);

// True when the kernel's machine name (uname -m) is a 64-bit architecture: x86_64, aarch64,
// ppc64, ppc64le, s390x, riscv64, loongarch64, mips64, sparc64, alpha, ia64.
bool isMachine64Bit(std::string_view machine);

// isMachine64Bit of the running kernel; false when uname fails.
bool is64BitOs();

// The user's UI language as a Windows LANGID, decided from the four variables a gettext
// program reads, in their order of precedence. The entries of LANGUAGE (a colon list) are
// tried first, in order, and the first that names a known language wins; then the first
// non-empty of LC_ALL, LC_MESSAGES, LANG. Codeset and modifier are ignored unless the modifier
// picks a script ("sr_RS@latin"). "C", "POSIX" ("C.UTF-8" too) and nothing set at all mean
// English (1033). A locale that names no known language gives 0.
uint16_t uiLanguageIdFromEnvironment(std::string_view language, std::string_view lcAll,
                                     std::string_view lcMessages, std::string_view lang);

// uiLanguageIdFromEnvironment of this process's environment.
uint16_t userUiLanguageId();

// The fields of os-release(5) the program reports. Empty when not given.
struct OsRelease {
    std::string id;          // ID, e.g. "debian"
    std::string versionId;   // VERSION_ID, e.g. "12"
    std::string name;        // NAME, e.g. "Debian GNU/Linux"
    std::string prettyName;  // PRETTY_NAME, e.g. "Debian GNU/Linux 12 (bookworm)"
};

// Parses os-release text: shell-style KEY=value lines, values bare or in single or double
// quotes (backslash escapes inside double quotes and in bare values), blank lines and
// '#' comments ignored. A malformed line is logged and skipped; a later assignment of the same
// key wins, as when the shell sources the file.
OsRelease parseOsRelease(std::string_view text);

// /etc/os-release, or /usr/lib/os-release when the first is missing; all fields empty (logged)
// when neither can be read.
OsRelease readOsRelease();

struct KernelInfo {
    std::string sysname;  // "Linux"
    std::string release;  // "6.1.0-18-amd64"
    std::string machine;  // "x86_64"
};

// From uname(2); all fields empty (logged) on failure.
KernelInfo kernelInfo();

}  // namespace platform
