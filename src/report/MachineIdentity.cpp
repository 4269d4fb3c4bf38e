#include "report/MachineIdentity.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "TextUtil.h"
#include "platform/Network.h"
#include "platform/System.h"

namespace weblog {

std::string getMacAddress() {
    const auto adapters = platform::networkAdapters();
    const auto* adapter = platform::selectIdentityAdapter(
        adapters, platform::bestInterfaceIndex(platform::kIdentityRouteDestination));
    return adapter ? platform::formatMacCompact(adapter->mac) : std::string();
}

std::string getVolumeSerial() {
    const uint32_t serial = platform::volumeSerial();
    if (serial == 0)
        return {};
    char text[16];
    std::snprintf(text, sizeof text, "%X", serial);
    return text;
}

std::string clientId() {
    return getVolumeSerial() + getMacAddress();
}

std::string osNameFromVersion(const OsVersionFacts& f) {
    if (!f.known)
        return kUnknownOsName;
    const bool amd64 = f.processorArchitecture == 9;
    auto pick = [&](const char* workstation, const char* server) {
        return std::string(f.workstation ? workstation : server);
    };
    switch (f.major * 100 + f.minor) {
        case 400:
            if (f.platformId == 1)
                return "Microsoft Windows 95";
            if (f.platformId == 2)
                return "Microsoft Windows NT 4.0";
            return kUnknownOsName;
        case 410:
            return "Microsoft Windows 98";
        case 490:
            return "Microsoft Windows Me";
        case 500:
            return "Windows 2000";
        case 501:
            return "Windows XP";
        case 502:
            if (f.workstation && amd64)
                return "Windows XP Professional x64 Edition";
            return f.serverR2 != 0 ? "Windows Server 2003 R2" : "Windows Server 2003";
        case 600:
            return pick("Windows Vista", "Windows Server 2008");
        case 601:
            return pick("Windows 7", "Windows Server 2008 R2");
        case 602:
            // Kept from the table: with the true version numbers a 6.2 system is never 10.0.
            if (!f.workstation)
                return "Windows Server 2012";
            if (f.major >= 10)
                return f.build < 22000 ? "Windows 10" : "Windows 11";
            return "Windows 8";
        case 603:
            return pick("Windows 8.1", "Windows Server 2012 R2");
        case 1000:
            if (!f.workstation)
                return "Windows Server 2016 Technical Preview";
            return f.build < 22000 ? "Windows 10" : "Windows 11";
        default:
            return kUnknownOsName;
    }
}

std::string architectureSuffix(uint16_t processorArchitecture) {
    return processorArchitecture == 9 || processorArchitecture == 6 ? " x64" : " x32";
}

uint16_t processorArchitectureOf(std::string_view machine) {
    if (machine == "x86_64" || machine == "amd64")
        return 9;
    if (machine == "ia64")
        return 6;
    if (machine == "aarch64" || machine == "arm64")
        return 12;
    if (machine.substr(0, 3) == "arm")
        return 5;
    return 0;
}

std::string getOsText() {
    const platform::OsRelease release = platform::readOsRelease();
    std::string name = release.prettyName;
    if (name.empty() && !release.name.empty())
        name = release.name + (release.versionId.empty() ? "" : " " + release.versionId);
    if (name.empty())
        name = kUnknownOsName;
    return name + architectureSuffix(processorArchitectureOf(platform::kernelInfo().machine));
}

std::string newGuidText() {
    const std::string braced = platform::newGuid();  // "{8-4-4-4-12}"
    if (braced.size() != 38)
        return {};
    return braced.substr(1, 36);
}

std::string sessionIdFromGuid(std::string_view guid) {
    if (guid.size() == 38 && guid.front() == '{' && guid.back() == '}')
        guid = guid.substr(1, 36);
    if (guid.size() != 36)
        return {};
    std::string id;
    for (size_t i = 0; i < guid.size(); ++i) {
        const char c = guid[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return {};
            continue;
        }
        if (hexDigitValue(c) < 0)
            return {};
        const bool thirdGroup = i >= 14 && i < 18;
        id.push_back(thirdGroup ? asciiLower(c) : asciiUpper(c));
    }
    return id;
}

std::string processSessionId() {
    static std::once_flag once;
    static std::string* id = nullptr;  // never freed: hosts may report until the very end
    std::call_once(once, [] { id = new std::string(sessionIdFromGuid(newGuidText())); });
    return *id;
}

int64_t timestampMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) |
                           (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                           static_cast<uint8_t>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace weblog
