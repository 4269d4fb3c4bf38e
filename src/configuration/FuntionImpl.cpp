#include "FuntionImpl.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "LanguageTable.h"
#include "Logging.h"
#include "TextUtil.h"
#include "platform/CommandLine.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "report/EventReporter.h"

namespace FuntionImpl {
namespace {

namespace fs = std::filesystem;

// Resources as kvres attaches them to the installer.
constexpr const char* kVersionType = "VERSION";
constexpr uint32_t kVersionId = 1;

constexpr const char* kCurrentVersionKeys[] = {
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion",
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
};
constexpr const char* kBuildValues[] = {"CurrentBuild", "CurrentBuildNumber"};
constexpr const char* kDotNetKey = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";

constexpr const char* kNetFrameCheckFile = "NetFrameCheck.db";
// A check file is a few lines; anything past this is not read.
constexpr std::streamsize kNetFrameCheckMaxBytes = 1 << 20;

// Bounds of the subdirectory search, far above any installed product's tree.
constexpr int kFindMaxDepth = 64;
constexpr size_t kFindMaxDirectories = 100000;

constexpr const char* kXdgOpen = "/usr/bin/xdg-open";
constexpr const char* kGio = "/usr/bin/gio";

// Windows error numbers the "StartWindowError" reports carry.
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorPathNotFound = 3;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorGenFailure = 31;
constexpr int kErrorInvalidName = 123;

size_t codePointCount(std::string_view text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// A value whose key or value may be missing, without the empty-string fold of ReadRegString.
std::optional<std::string> readRegValue(platform::Hive root, std::string_view subkey,
                                        std::string_view name) {
    auto key = platform::RegKey::open(root, subkey);
    if (!key)
        return std::nullopt;
    return key->getString(name);
}

struct SearchState {
    std::string_view fileName;
    std::set<fs::path>
        visited;  // canonical forms: a directory reached twice (links) is searched once
    bool budgetLogged = false;
};

fs::path searchSubdirs(const fs::path& dir, int depth, SearchState& state) {
    std::error_code ec;
    if (depth > kFindMaxDepth)
        return {};
    if (state.visited.size() >= kFindMaxDirectories) {
        if (!state.budgetLogged)
            LOG(INFO) << " FindFileInSubdirs stops after " << kFindMaxDirectories << " folders, at "
                      << dir.string();
        state.budgetLogged = true;
        return {};
    }
    fs::path canonical = fs::canonical(dir, ec);
    if (ec || !state.visited.insert(canonical).second)
        return {};

    std::vector<fs::path> subdirs;
    fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError))
            subdirs.push_back(it->path().filename());
    }
    std::sort(subdirs.begin(), subdirs.end());
    for (const auto& name : subdirs) {
        const fs::path sub = dir / name;
        fs::path candidate = sub / state.fileName;
        if (fs::exists(candidate, ec))
            return candidate;
        if (fs::path found = searchSubdirs(sub, depth + 1, state); !found.empty())
            return found;
    }
    return {};
}

std::string unquote(std::string_view path) {
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    return std::string(path);
}

int startFailed(const char* where, int code) {
    LOG(INFO) << " CreateProcess failed" << where << " (" << code << ")";
    EventReporter::instance().report("Other", "StartWindowError", std::to_string(code));
    return -1;
}

bool hasExecuteBit(const fs::path& path) {
    std::error_code ec;
    const auto perms = fs::status(path, ec).permissions();
    return !ec && (perms & (fs::perms::owner_exec | fs::perms::group_exec |
                            fs::perms::others_exec)) != fs::perms::none;
}

}  // namespace

std::array<int, 4> SplitVersion4(std::string_view version) {
    std::array<int, 4> parts{};
    for (size_t i = 0; i < parts.size() && !version.empty(); ++i) {
        const size_t dot = version.find('.');
        parts[i] = parseDecimalInt(version.substr(0, dot));
        if (dot == std::string_view::npos)
            break;
        version.remove_prefix(dot + 1);
    }
    return parts;
}

bool DotNetCheckNeeded(std::string_view local, std::string_view needed) {
    if (needed.empty())
        return false;
    const auto have = SplitVersion4(local);
    const auto want = SplitVersion4(needed);
    for (size_t i = 0; i < have.size(); ++i)
        if (have[i] != want[i])
            return have[i] < want[i];
    return false;
}

std::string ParseNetFrameCheck(std::string_view raw) {
    const std::string text = sanitizeUtf8(raw);
    std::string_view rest = text;
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);
    bool inSettings = false;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        // The length counts the line end, as a line read in text mode has it.
        const size_t length = codePointCount(line) + (end == std::string_view::npos ? 0 : 1);
        if (length < 3)
            continue;
        if (line.find("[Settings]") != std::string_view::npos) {
            inSettings = true;
            continue;
        }
        if (line.find("[Text]") != std::string_view::npos)
            break;
        if (!inSettings)
            continue;
        const size_t eq = line.find('=', 1);
        if (eq == std::string_view::npos)
            continue;
        if (line.substr(0, eq) == "NetFrameworkVersion")
            return std::string(line.substr(eq + 1));
    }
    return {};
}

std::string FileVersionFromResources(const platform::ResourceTable& resources) {
    const auto* entry = resources.find(kVersionType, kVersionId);
    if (!entry)
        return {};
    const std::string text(entry->data.begin(), entry->data.end());
    unsigned parts[4];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &tail) != 4)
        return {};
    for (unsigned p : parts)
        if (p > 0xFFFF)
            return {};
    char out[32];
    std::snprintf(out, sizeof out, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    return out;
}

platform::ProcessStartInfo ShellOpenStartInfo(const fs::path& path, bool haveXdgOpen) {
    platform::ProcessStartInfo info;
    // Quoted whole: blanks and ";" stay inside the one argument; the caller keeps quotes out.
    const std::string quoted = "\"" + path.string() + "\"";
    if (haveXdgOpen) {
        info.application = kXdgOpen;
        info.commandLine = "xdg-open " + quoted;
    } else {
        info.application = kGio;
        info.commandLine = "gio open " + quoted;
    }
    return info;
}

std::string GetOSVersionName() {
    const platform::OsRelease release = platform::readOsRelease();
    if (!release.prettyName.empty())
        return release.prettyName;
    if (release.name.empty())
        return release.versionId;
    return release.versionId.empty() ? release.name : release.name + " " + release.versionId;
}

bool IsWindows11() {
    for (const char* subkey : kCurrentVersionKeys) {
        auto key = platform::RegKey::open(platform::Hive::LocalMachine, subkey);
        if (!key)
            continue;
        // The first key that opens decides, as on Windows; only the value has a second chance.
        for (const char* value : kBuildValues)
            if (auto build = key->getString(value))
                return IsWindows11Build(*build);
        return false;
    }
    return false;
}

EventReporter::Settings ReporterSettings() {
    EventReporter::Settings settings;
    settings.version = GetFileVersionString(platform::ownModulePath());
    settings.osText = GetOSVersionName() + (IsWow64() ? " 64bit" : " 32bit");
    settings.localeText = GetUILanguageName();
    return settings;
}

std::string GetUILanguageName() {
    return UILanguageName(platform::userUiLanguageId());
}

bool IsWow64() {
    return platform::is64BitOs();
}

std::string GetFileVersionString(const fs::path& file) {
    return FileVersionFromResources(platform::readResources(file));
}

std::string ReadRegString(platform::Hive root, std::string_view subkey,
                          std::string_view valueName) {
    return readRegValue(root, subkey, valueName).value_or(std::string());
}

bool WriteRegString(platform::Hive root, std::string_view subkey, std::string_view valueName,
                    std::string_view data) {
    auto key = platform::RegKey::create(root, subkey);
    if (!key) {
        LOG(INFO) << " WriteRegString cannot create " << platform::hiveName(root) << "\\" << subkey;
        return false;
    }
    return key->setString(valueName, data);
}

std::string WideToUtf8(std::string_view text) {
    return sanitizeUtf8(text);
}

fs::path FindFileInSubdirs(const fs::path& dir, std::string_view fileName) {
    if (fileName.empty() || fs::path(fileName).has_root_path())
        return {};
    SearchState state{fileName, {}, false};
    return searchSubdirs(dir, 0, state);
}

int64_t GetFileSize64(const fs::path& path) {
    return platform::fileSize64(path);
}

size_t ReplaceAll(std::string& text, std::string_view pattern, std::string_view replacement) {
    if (text.empty() || pattern.empty())
        return 0;
    size_t count = 0;
    for (size_t pos = text.find(pattern); pos != std::string::npos; pos = text.find(pattern, pos)) {
        text.replace(pos, pattern.size(), replacement);
        pos += replacement.size();
        ++count;
    }
    return count;
}

std::string GetDotNetVersion() {
    return ReadRegString(platform::Hive::LocalMachine, kDotNetKey, "Version");
}

std::string ReadNetFrameCheck(const fs::path& dir) {
    const fs::path file = dir / kNetFrameCheckFile;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::string text(static_cast<size_t>(kNetFrameCheckMaxBytes), '\0');
    in.read(text.data(), kNetFrameCheckMaxBytes);
    text.resize(static_cast<size_t>(in.gcount()));
    if (in.bad()) {
        LOG(INFO) << " ReadNetFrameCheck cannot read " << file.string();
        return {};
    }
    return ParseNetFrameCheck(text);
}

bool WillShowNetFrameCheck(const fs::path& dir) {
    const std::string needed = ReadNetFrameCheck(dir);
    if (needed.empty())
        return false;
    const std::string local = GetDotNetVersion();
    LOG(INFO) << " LocalNetFrame: " << local << ", NeedNetFrame: " << needed;
    return DotNetCheckNeeded(local, needed);
}

bool IsSetupExe(std::string_view fileName) {
    return fileName.size() >= 4 && fileName.ends_with(".exe");
}

int StartTargetMainExe(std::string_view quotedPath, int mode) {
    const std::string bare = unquote(quotedPath);
    std::error_code ec;
    if (mode == 0) {
        if (bare.empty() || !fs::exists(bare, ec))
            return startFailed("1", kErrorFileNotFound);
        // The command line has no way to carry a literal quote (Windows forbids it in names).
        if (bare.find('"') != std::string::npos)
            return startFailed("2", kErrorInvalidName);
        // Absolute, so the path can never read as an option of the opener.
        const fs::path target = fs::absolute(bare, ec);
        const bool haveXdgOpen = fs::exists(kXdgOpen, ec);
        if (!haveXdgOpen && !fs::exists(kGio, ec)) {
            LOG(INFO) << " Neither " << kXdgOpen << " nor " << kGio << " is installed";
            return startFailed("2", kErrorFileNotFound);
        }
        std::string error;
        if (!platform::Process::start(ShellOpenStartInfo(target, haveXdgOpen), &error)) {
            LOG(INFO) << " Opening " << target.string() << " failed: " << error;
            return startFailed("2", kErrorGenFailure);
        }
        return 0;
    }

    if (bare.empty())
        return startFailed("3", kErrorFileNotFound);
    if (bare.find('"') != std::string::npos)
        return startFailed("3", kErrorInvalidName);
    const fs::path program = fs::absolute(bare, ec);
    const fs::path folder = program.parent_path();
    if (!fs::is_directory(folder, ec))
        return startFailed("3", kErrorPathNotFound);
    if (!fs::is_regular_file(program, ec))
        return startFailed("3", kErrorFileNotFound);
    platform::ProcessStartInfo info;
    info.application = program;
    info.commandLine = "\"" + program.string() + "\"";
    info.workingDirectory = folder;
    info.inheritHandles = true;
    std::string error;
    if (!platform::Process::start(info, &error)) {
        LOG(INFO) << " Starting " << program.string() << " failed: " << error;
        return startFailed("3", hasExecuteBit(program) ? kErrorGenFailure : kErrorAccessDenied);
    }
    return 0;
}

}  // namespace FuntionImpl
