#include "Common/host_probes.h"

#include <cstdint>
#include <cstdio>

#include "FuntionImpl.h"
#include "LanguageTable.h"
#include "Logging.h"
#include "TextUtil.h"
#include "platform/Process.h"
#include "platform/Resources.h"
#include "ui/Host.h"
#include "ui/MarkupLoader.h"
#include "ui/ZipArchive.h"

namespace FuntionImpl {

namespace {

constexpr const char* kSkinType = "ZIPRES";
constexpr uint32_t kSkinId = 138;

std::string boolText(bool value) {
    return value ? "true" : "false";
}

}  // namespace

double GetScreenScale(int& physicalWidth, int& physicalHeight) {
    // The window host measured the primary monitor when it started; without one (no display)
    // there is nothing to measure.
    const ui::HostBackend* host = ui::GetHostBackend();
    const ui::ScreenMetrics screen = host ? host->GetScreenMetrics() : ui::ScreenMetrics();
    physicalWidth = screen.pixels.cx;
    physicalHeight = screen.pixels.cy;
    return screen.scale;
}

std::string GetLanguageText(const ui::ZipArchive& package, std::string_view section,
                            std::string_view key, int languageIndex) {
    const char* fileName = LanguageRowFor(languageIndex).fileName;
    if (*fileName == '\0')
        return {};
    const std::string entry = std::string("language\\") + fileName;
    std::string error;
    const auto text = package.UnzipText(entry, &error);
    if (!text) {
        LOG(INFO) << " GetLanguageText cannot read " << entry << ": " << error;
        return {};
    }
    const ui::MarkupDocument doc = ui::MarkupLoader(nullptr).LoadFromText(*text, entry);
    if (!doc.root) {
        LOG(INFO) << " GetLanguageText cannot parse " << entry;
        return {};
    }
    for (const auto& [name, value] : doc.ChildTexts(section))
        if (name == key)
            return sanitizeUtf8(value);
    return {};
}

std::string GetLanguageText(std::string_view section, std::string_view key, int languageIndex) {
    const platform::ResourceTable resources = platform::readOwnResources();
    const auto* skin = resources.find(kSkinType, kSkinId);
    if (!skin) {
        LOG(INFO) << " GetLanguageText: the program carries no skin package";
        return {};
    }
    std::string error;
    auto package = ui::ZipArchive::OpenFromMemory(skin->data, &error);
    if (!package) {
        LOG(INFO) << " GetLanguageText: the skin package does not open: " << error;
        return {};
    }
    return GetLanguageText(*package, section, key, languageIndex);
}

std::vector<std::pair<std::string, std::string>> ProbeReport(const std::filesystem::path& program) {
    int width = 0;
    int height = 0;
    const double scale = GetScreenScale(width, height);
    char scaleText[64];
    std::snprintf(scaleText, sizeof scaleText, "%.2f (%d x %d)", scale, width, height);
    const std::filesystem::path versioned = program.empty() ? platform::ownModulePath() : program;
    return {
        {"GetOSVersionName", GetOSVersionName()},
        {"IsWindows11", boolText(IsWindows11())},
        {"GetUILanguageName", GetUILanguageName()},
        {"IsWow64", boolText(IsWow64())},
        {"GetScreenScale", scaleText},
        {"GetFileVersionString",
         versioned.empty() ? std::string() : GetFileVersionString(versioned)},
        {"GetDotNetVersion", GetDotNetVersion()},
    };
}

}  // namespace FuntionImpl
