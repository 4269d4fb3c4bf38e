#include "platform/Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Logging.h"

namespace platform {
namespace fs = std::filesystem;
namespace {

constexpr const char* kPrivateTempName = "kvtemp";
constexpr const char* kRootProgramFiles = "/opt";
constexpr const char* kDesktopKey = "XDG_DESKTOP_DIR";
// user-dirs.dirs holds a dozen short lines; a bigger file is not one.
constexpr std::streamsize kMaxUserDirsBytes = 64 * 1024;
// Bounds the walk up to an existing ancestor; real paths are far shallower.
constexpr int kMaxAncestorSteps = 4096;

std::string envValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// "/a/b/" → "/a/b"; the root stays "/".
fs::path withoutTrailingSlash(std::string text) {
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return fs::path(text);
}

// The quoted value of a user-dirs.dirs line, with \" \\ \$ \` unescaped; nullopt when the
// value is not one complete double-quoted string (a trailing comment is allowed).
std::optional<std::string> unquote(std::string_view v) {
    if (v.empty() || v.front() != '"')
        return std::nullopt;
    std::string out;
    for (size_t i = 1; i < v.size(); ++i) {
        char c = v[i];
        if (c == '"') {
            std::string_view rest = v.substr(i + 1);
            size_t next = rest.find_first_not_of(" \t");
            if (next != std::string_view::npos && rest[next] != '#')
                return std::nullopt;
            return out;
        }
        if (c == '\\' && i + 1 < v.size() && std::strchr("\"\\$`", v[i + 1])) {
            out.push_back(v[++i]);
            continue;
        }
        out.push_back(c);
    }
    return std::nullopt;
}

std::string readSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::string text(static_cast<size_t>(kMaxUserDirsBytes), '\0');
    in.read(text.data(), kMaxUserDirsBytes);
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

}  // namespace

fs::path tempDirectory() {
    std::string tmp = envValue("TMPDIR");
    if (!tmp.empty()) {
        std::error_code ec;
        if (tmp.front() == '/' && fs::is_directory(tmp, ec))
            return withoutTrailingSlash(tmp);
        LOG(INFO) << " TMPDIR is not an absolute path to a folder, using a private one: " << tmp;
    }
    const std::string runtime = envValue("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime.front() == '/' &&
        isPrivateFolder(withoutTrailingSlash(runtime)))
        return privateFolder(withoutTrailingSlash(runtime) / kPrivateTempName);
    const fs::path home = homeDirectory();
    if (home.empty()) {
        LOG(INFO) << " No private temporary folder: the home folder is unknown";
        return {};
    }
    return privateFolder(home / ".cache" / kPrivateTempName);
}

bool isPrivateFolder(const fs::path& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

fs::path privateFolder(const fs::path& folder) {
    static std::mutex mutex;
    static std::map<fs::path, fs::path> chosen;
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto it = chosen.find(folder); it != chosen.end() && isPrivateFolder(it->second))
        return it->second;

    std::error_code ec;
    if (folder.has_parent_path())
        fs::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        LOG(INFO) << " Create folder failed: " << folder.string() << ": " << std::strerror(errno);
    fs::path result = folder;
    if (!isPrivateFolder(folder)) {
        // Someone else's folder, a link or one others may write to: whatever lies in it may be
        // planted, so it is left alone and a fresh one used instead.
        LOG(INFO) << " Folder refused (a link, or owned or writable by someone else): "
                  << folder.string();
        std::string pattern = folder.string() + ".XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            LOG(INFO) << " Create private folder failed: " << pattern << ": "
                      << std::strerror(errno);
            return {};
        }
        result = pattern;
    }
    chosen[folder] = result;
    return result;
}

fs::path homeDirectory() {
    std::string home = envValue("HOME");
    if (!home.empty() && home.front() == '/')
        return withoutTrailingSlash(home);

    long bufSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(bufSize > 0 ? static_cast<size_t>(bufSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int rc = getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found);
    if (rc != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        LOG(INFO) << " home folder unknown: HOME is unset or relative and uid " << geteuid()
                  << " has no usable passwd entry"
                  << (rc != 0 ? std::string(": ") + std::strerror(rc) : std::string());
        return {};
    }
    return withoutTrailingSlash(found->pw_dir);
}

std::optional<fs::path> parseUserDirsEntry(std::string_view text, std::string_view key,
                                           const fs::path& home) {
    std::optional<fs::path> result;
    size_t lineNo = 0;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos)
            continue;
        line = line.substr(start);
        if (line.size() <= key.size() || line.substr(0, key.size()) != key ||
            line[key.size()] != '=') {
            continue;
        }

        std::optional<std::string> value = unquote(line.substr(key.size() + 1));
        if (!value) {
            LOG(INFO) << " user-dirs.dirs line " << lineNo
                      << " ignored: value is not one double-quoted string: " << line;
            continue;
        }
        constexpr std::string_view kHome = "$HOME";
        if (value->compare(0, kHome.size(), kHome) == 0 &&
            (value->size() == kHome.size() || (*value)[kHome.size()] == '/')) {
            if (home.empty()) {
                LOG(INFO) << " user-dirs.dirs line " << lineNo << " ignored: home unknown";
                continue;
            }
            result = withoutTrailingSlash(home.string() + value->substr(kHome.size()));
        } else if (!value->empty() && value->front() == '/') {
            result = withoutTrailingSlash(*value);
        } else {
            LOG(INFO) << " user-dirs.dirs line " << lineNo
                      << " ignored: neither $HOME/... nor an absolute path: " << *value;
        }
    }
    return result;
}

fs::path desktopDirectory() {
    fs::path home = homeDirectory();

    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
    std::string configHome = envValue("XDG_CONFIG_HOME");
    fs::path configDir;
    if (!configHome.empty() && configHome.front() == '/') {
        configDir = configHome;
    } else if (!home.empty()) {
        configDir = home / ".config";
    }
    if (!configDir.empty()) {
        std::string text = readSmallFile(configDir / "user-dirs.dirs");
        if (auto desktop = parseUserDirsEntry(text, kDesktopKey, home))
            return *desktop;
    }

    if (home.empty()) {
        LOG(INFO) << " desktop folder unknown: no home folder";
        return {};
    }
    return home / "Desktop";
}

fs::path programFilesDirectory() {
    const std::string chosen = envValue("KV_PROGRAM_FILES_DIR");
    if (!chosen.empty() && chosen.front() == '/')
        return withoutTrailingSlash(chosen);
    if (!chosen.empty())
        LOG(INFO) << " KV_PROGRAM_FILES_DIR is not an absolute path, ignored: " << chosen;
    if (geteuid() == 0)
        return kRootProgramFiles;
    fs::path home = homeDirectory();
    if (home.empty()) {
        LOG(INFO) << " program files folder unknown: no home folder";
        return {};
    }
    return home / ".local" / "opt";
}

fs::path longPath(const fs::path& path) {
    if (path.empty()) {
        LOG(INFO) << " longPath: empty path";
        return {};
    }
    // weakly_canonical keeps a relative path relative when no part of it exists yet.
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) {
        LOG(INFO) << " longPath: cannot make " << path.string() << " absolute: " << ec.message();
        return path.lexically_normal();
    }
    fs::path full = fs::weakly_canonical(absolute, ec);
    if (ec) {
        LOG(INFO) << " longPath: cannot resolve " << path.string() << ": " << ec.message();
        return absolute.lexically_normal();
    }
    return full;
}

bool createDirectories(const fs::path& path) {
    if (path.empty()) {
        LOG(INFO) << " createDirectories: empty path";
        return false;
    }
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
        LOG(INFO) << " createDirectories failed for " << path.string() << ": " << ec.message();
        return false;
    }
    // No error can still mean "something that is not a folder is in the way".
    if (!fs::is_directory(path, ec)) {
        LOG(INFO) << " createDirectories: " << path.string() << " exists and is not a folder";
        return false;
    }
    return true;
}

std::optional<uint64_t> freeBytes(const fs::path& path) {
    if (path.empty()) {
        LOG(INFO) << " freeBytes: empty path";
        return std::nullopt;
    }
    std::error_code ec;
    fs::path probe = fs::absolute(path, ec);
    if (ec) {
        LOG(INFO) << " freeBytes: cannot make " << path.string() << " absolute: " << ec.message();
        return std::nullopt;
    }
    probe = probe.lexically_normal();

    for (int step = 0; step < kMaxAncestorSteps; ++step) {
        struct statvfs st {};
        if (statvfs(probe.c_str(), &st) == 0) {
            const uint64_t blocks = st.f_bavail;
            const uint64_t blockSize = st.f_frsize ? st.f_frsize : st.f_bsize;
            if (blockSize != 0 && blocks > std::numeric_limits<uint64_t>::max() / blockSize) {
                return std::numeric_limits<uint64_t>::max();
            }
            return blocks * blockSize;
        }
        const int err = errno;
        if ((err != ENOENT && err != ENOTDIR) || !probe.has_relative_path()) {
            LOG(INFO) << " freeBytes: statvfs failed for " << probe.string() << ": "
                      << std::strerror(err);
            return std::nullopt;
        }
        probe = probe.parent_path();
    }
    LOG(INFO) << " freeBytes: no existing ancestor found for " << path.string();
    return std::nullopt;
}

int64_t fileSize64(const fs::path& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        // A missing file is an ordinary answer here (callers probe for partial downloads).
        if (errno != ENOENT) {
            LOG(INFO) << " fileSize64: cannot examine " << path.string() << ": "
                      << std::strerror(errno);
        }
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        LOG(INFO) << " fileSize64: not a regular file: " << path.string();
        return -1;
    }
    return static_cast<int64_t>(st.st_size);
}

}  // namespace platform
