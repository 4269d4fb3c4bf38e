// The Windows naming tables: version names and UI language names, over the numbers Windows
// reports. Pure; the probes of FuntionImpl.cpp decide what to feed them on this system.

#include <cstdio>

#include "FuntionImpl.h"
#include "TextUtil.h"
#include "platform/LanguageIds.h"

namespace FuntionImpl {
namespace {

constexpr uint16_t kLanguageNeutral = 0;
constexpr uint16_t kLanguageDefault = 1024;
constexpr int kWindows11FirstBuild = 22000;

std::string versionExName(const WindowsVersionData& d) {
    const bool workstation = d.productType == kVerNtWorkstation;
    switch (d.major) {
        case 4:
            if (d.minor == 0) {
                if (d.platformId == kVerPlatformWin32Nt)
                    return "Windows NT 4.0";
                if (d.platformId == kVerPlatformWin32Windows)
                    return "Windows 95";
                return {};
            }
            if (d.minor == 10)
                return "Windows 98";
            if (d.minor == 90)
                return "Microsoft Windows Me";
            return {};
        case 5:
            if (d.minor == 0)
                return "Windows 2000";
            if (d.minor == 1)
                return "Windows XP";
            if (d.minor == 2) {
                if (workstation && d.processorArchitecture == kProcessorArchitectureAmd64)
                    return "Windows XP Professional x64 Edition";
                return d.serverR2 == 0 ? "Windows Server 2003" : "Windows Server 2003 R2";
            }
            return {};
        case 6:
            if (d.minor == 0)
                return workstation ? "Windows Vista" : "Windows Server 2008";
            if (d.minor == 1)
                return workstation ? "Windows 7" : "Windows Server 2008 R2";
            if (d.minor == 2)
                return workstation ? "Windows 8" : "Windows Server 2012";
            return {};
        default:
            return "Error";
    }
}

}  // namespace

std::string WindowsVersionName(const WindowsVersionData& data) {
    if (data.windows11)
        return "Windows 11";
    // GetVersionExW answers 6.2 to programs without a compatibility manifest; the NT numbers
    // are asked first because they tell 8.1 and 10 apart.
    if (data.ntMajor == 6 && data.ntMinor == 3)
        return "Windows 8.1";
    if (data.ntMajor == 10 && data.ntMinor == 0)
        return "Windows 10";
    if (!data.versionExAvailable)
        return {};
    return versionExName(data);
}

bool IsWindows11Build(std::string_view buildText) {
    return parseDecimalInt(buildText) >= kWindows11FirstBuild;
}

std::string UILanguageName(uint16_t languageId) {
    if (languageId == kLanguageNeutral)
        return "Neutral_Neutral";
    if (languageId == kLanguageDefault)
        return "Default_Default";
    if (const char* name = platform::windowsLanguageName(languageId))
        return name;
    char text[32];
    std::snprintf(text, sizeof text, "0x%.4x_0x%.4x", static_cast<unsigned>(languageId),
                  static_cast<unsigned>(languageId));
    return text;
}

}  // namespace FuntionImpl
