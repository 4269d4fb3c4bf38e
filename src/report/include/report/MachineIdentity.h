#pragma once
// What the reporting library tells about the machine: the MAC of the identity adapter and the
// volume serial (together the client id of the analytics hits), GUID texts, the OS text, the
// process's session id and the time stamp of the analytics JSON.
//
// Everything but the session id is recomputed on each call, so a changed adapter shows at
// once. Any thread may call anything; the pure functions touch only their arguments.

#include <cstdint>
#include <string>
#include <string_view>

namespace weblog {

// The six address bytes ("%02X" each, no separators) of the adapter of the best route to
// 8.8.8.8, else of the first adapter the identity rules accept; "" when none qualifies.
std::string getMacAddress();

// The serial number of the root file system's volume printed "%X"; "" when unknown.
std::string getVolumeSerial();

// getVolumeSerial() followed by getMacAddress(): the "cid" of every hit.
std::string clientId();

// What the Windows version calls report; the OS text is decided from these alone.
struct OsVersionFacts {
    bool known = false;  // both version calls succeeded
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    uint32_t platformId = 0;             // 1 Windows 9x, 2 NT
    bool workstation = false;            // product type 1
    uint16_t processorArchitecture = 0;  // native: 9 AMD64, 6 IA64, 12 ARM64, 0 x86
    int serverR2 = 0;                    // GetSystemMetrics(SM_SERVERR2)
};

inline constexpr const char* kUnknownOsName = "unknown OperatingSystem.";

// The OS name of the version table ("Windows 11", "Windows Server 2012 R2", ...), or
// kUnknownOsName. Pure.
std::string osNameFromVersion(const OsVersionFacts& facts);

// " x64" for the AMD64 (9) and IA64 (6) architectures, else " x32". Pure.
std::string architectureSuffix(uint16_t processorArchitecture);

// The Windows processor architecture number of a kernel machine name ("x86_64" 9, "ia64" 6,
// "aarch64" 12, "arm*" 5, anything else 0, as for x86). Pure.
uint16_t processorArchitectureOf(std::string_view machine);

// The OS text: on this system the os-release name (PRETTY_NAME, else NAME and VERSION_ID,
// else kUnknownOsName), followed by architectureSuffix of the kernel's machine.
std::string getOsText();

// A new GUID as "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (upper case); "" when none can be made.
std::string newGuidText();

// The 32-digit session id form of a GUID text (braces and dashes dropped, the third group in
// lower case); "" for a text that is not a GUID. Pure.
std::string sessionIdFromGuid(std::string_view guidText);

// The session id of this process: made on first use, then the same for every caller. Empty
// when no GUID could be made.
std::string processSessionId();

// Milliseconds since 1970 (UTC) of the current time.
int64_t timestampMs();

// Standard Base64 with "=" padding. Pure.
std::string base64(std::string_view bytes);

}  // namespace weblog
