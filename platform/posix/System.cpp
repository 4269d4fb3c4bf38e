#include "platform/System.h"

#include <sys/random.h>
#include <sys/utsname.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include "Logging.h"
#include "platform/LanguageIds.h"

namespace platform {
namespace {

// os-release files are a few hundred bytes; anything far larger is not one.
constexpr std::streamsize kMaxOsReleaseBytes = 64 * 1024;
constexpr int kMaxRandomAttempts = 8;

constexpr const char* kOsReleasePaths[] = {"/etc/os-release", "/usr/lib/os-release"};

std::string_view trimLeft(std::string_view s) {
    size_t i = s.find_first_not_of(" \t");
    return i == std::string_view::npos ? std::string_view{} : s.substr(i);
}

bool isKeyChar(char c, bool first) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           (!first && c >= '0' && c <= '9');
}

// Decodes a shell word (the right side of KEY=...): bare text, '...' and "..." pieces, joined.
// nullopt for an unterminated quote or text after the word that is not a comment.
std::optional<std::string> decodeShellValue(std::string_view v) {
    std::string out;
    size_t i = 0;
    while (i < v.size()) {
        char c = v[i];
        if (c == ' ' || c == '\t') {
            std::string_view rest = trimLeft(v.substr(i));
            if (rest.empty() || rest.front() == '#')
                return out;
            return std::nullopt;
        }
        if (c == '\'') {
            size_t end = v.find('\'', i + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            out.append(v.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '"') {
            ++i;
            bool closed = false;
            while (i < v.size()) {
                char d = v[i];
                if (d == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                // Inside double quotes the shell only unescapes these four.
                if (d == '\\' && i + 1 < v.size() && std::strchr("\"\\$`", v[i + 1])) {
                    out.push_back(v[i + 1]);
                    i += 2;
                    continue;
                }
                out.push_back(d);
                ++i;
            }
            if (!closed)
                return std::nullopt;
        } else if (c == '\\') {
            if (i + 1 >= v.size())
                return std::nullopt;
            out.push_back(v[i + 1]);
            i += 2;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

}  // namespace

uint64_t tickCount() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string formatGuid(const std::array<uint8_t, 16>& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(38);
    out.push_back('{');
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out.push_back('-');
        out.push_back(kHex[bytes[i] >> 4]);
        out.push_back(kHex[bytes[i] & 0x0f]);
    }
    out.push_back('}');
    return out;
}

std::string guidFromRandomBytes(std::array<uint8_t, 16> bytes) {
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);  // variant 10xx
    return formatGuid(bytes);
}

std::string newGuid() {
    std::array<uint8_t, 16> bytes{};
    size_t filled = 0;
    for (int attempt = 0; attempt < kMaxRandomAttempts && filled < bytes.size(); ++attempt) {
        ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n > 0) {
            filled += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            LOG(INFO) << " newGuid: getrandom failed: " << std::strerror(errno);
            return {};
        }
    }
    if (filled < bytes.size()) {
        LOG(INFO) << " newGuid: getrandom gave only " << filled << " of 16 bytes";
        return {};
    }
    return guidFromRandomBytes(bytes);
}

bool isMachine64Bit(std::string_view machine) {
    static constexpr std::string_view k64BitMachines[] = {
        "x86_64",      "aarch64", "ppc64",   "ppc64le", "s390x", "riscv64",
        "loongarch64", "mips64",  "sparc64", "alpha",   "ia64"};
    for (std::string_view m : k64BitMachines) {
        if (machine == m)
            return true;
    }
    return false;
}

bool is64BitOs() {
    utsname u{};
    if (uname(&u) != 0) {
        LOG(INFO) << " is64BitOs: uname failed: " << std::strerror(errno);
        return false;
    }
    return isMachine64Bit(u.machine);
}

uint16_t uiLanguageIdFromEnvironment(std::string_view language, std::string_view lcAll,
                                     std::string_view lcMessages, std::string_view lang) {
    auto decide = [](std::string_view locale) -> uint16_t {
        std::string_view base = locale.substr(0, locale.find_first_of(".@"));
        if (base == "C" || base == "POSIX")
            return kLanguageIdEnglishUs;
        return languageIdFromLocale(locale);
    };

    // LANGUAGE is a preference list: an entry we cannot map (say "eo") gives way to the next.
    while (!language.empty()) {
        size_t colon = language.find(':');
        std::string_view entry = language.substr(0, colon);
        language =
            colon == std::string_view::npos ? std::string_view{} : language.substr(colon + 1);
        if (entry.empty())
            continue;
        if (uint16_t id = decide(entry))
            return id;
    }

    for (std::string_view locale : {lcAll, lcMessages, lang}) {
        if (locale.empty())
            continue;
        uint16_t id = decide(locale);
        if (id == 0)
            LOG(INFO) << " UI language: no Windows language id for locale " << locale;
        return id;
    }
    return kLanguageIdEnglishUs;
}

uint16_t userUiLanguageId() {
    auto env = [](const char* name) -> std::string_view {
        const char* v = std::getenv(name);
        return v ? std::string_view(v) : std::string_view{};
    };
    return uiLanguageIdFromEnvironment(env("LANGUAGE"), env("LC_ALL"), env("LC_MESSAGES"),
                                       env("LANG"));
}

OsRelease parseOsRelease(std::string_view text) {
    OsRelease out;
    size_t lineNo = 0;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        line = trimLeft(line);
        if (line.empty() || line.front() == '#')
            continue;

        size_t eq = line.find('=');
        bool keyOk = eq != std::string_view::npos && eq > 0 && isKeyChar(line[0], true);
        for (size_t i = 1; keyOk && i < eq; ++i)
            keyOk = isKeyChar(line[i], false);
        if (!keyOk) {
            LOG(INFO) << " os-release line " << lineNo << " ignored: not KEY=value: " << line;
            continue;
        }
        std::string_view key = line.substr(0, eq);
        std::optional<std::string> value = decodeShellValue(line.substr(eq + 1));
        if (!value) {
            LOG(INFO) << " os-release line " << lineNo
                      << " ignored: unterminated quote or stray text: " << line;
            continue;
        }
        if (key == "ID") {
            out.id = std::move(*value);
        } else if (key == "VERSION_ID") {
            out.versionId = std::move(*value);
        } else if (key == "NAME") {
            out.name = std::move(*value);
        } else if (key == "PRETTY_NAME") {
            out.prettyName = std::move(*value);
        }
    }
    return out;
}

OsRelease readOsRelease() {
    for (const char* path : kOsReleasePaths) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            continue;
        std::string text(static_cast<size_t>(kMaxOsReleaseBytes), '\0');
        in.read(text.data(), kMaxOsReleaseBytes);
        text.resize(static_cast<size_t>(in.gcount()));
        if (in.bad()) {
            LOG(INFO) << " readOsRelease: read error on " << path;
            continue;
        }
        return parseOsRelease(text);
    }
    LOG(INFO) << " readOsRelease: neither /etc/os-release nor /usr/lib/os-release is readable";
    return {};
}

KernelInfo kernelInfo() {
    utsname u{};
    if (uname(&u) != 0) {
        LOG(INFO) << " kernelInfo: uname failed: " << std::strerror(errno);
        return {};
    }
    return KernelInfo{u.sysname, u.release, u.machine};
}

}  // namespace platform
