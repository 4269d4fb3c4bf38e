#include "ProductInstall.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "Product.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/System.h"

namespace demo {
namespace {

namespace fs = std::filesystem;
using platform::Hive;
using platform::RegKey;

constexpr const char* kAppPathValue = "Inno Setup: App Path";

std::string errnoText() {
    return std::strerror(errno);
}

bool existsNoFollow(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// What one install run added, so that a failed run can take it away again.
class InstallUndo {
public:
    explicit InstallUndo(SetupLog& log) : m_log(log) {}

    void folderCreated(const fs::path& folder) { m_folders.push_back(folder); }
    void fileCreated(const fs::path& file) { m_files.push_back(file); }
    void keyCreated(const std::string& key) { m_createdKey = key; }
    void valueReplaced(const RegKey& key, const std::string& name,
                       std::optional<platform::RegValue> previous) {
        m_values.push_back({key, name, std::move(previous)});
    }

    void rollBack() {
        if (m_createdKey) {
            platform::deleteKeyTree(Hive::LocalMachine, *m_createdKey);
            m_log.line("Rolled back: removed the new key " + *m_createdKey);
        } else {
            for (auto it = m_values.rbegin(); it != m_values.rend(); ++it)
                restore(*it);
        }
        std::error_code ec;
        for (const fs::path& file : m_files) {
            fs::remove(file, ec);
            m_log.line("Rolled back: removed " + file.string());
        }
        // Deepest first, and only while empty: something else may have moved in meanwhile.
        for (const fs::path& folder : m_folders) {
            if (fs::is_empty(folder, ec) && fs::remove(folder, ec))
                m_log.line("Rolled back: removed the new folder " + folder.string());
        }
    }

private:
    struct ReplacedValue {
        RegKey key;
        std::string name;
        std::optional<platform::RegValue> previous;
    };

    void restore(ReplacedValue& value) {
        RegKey& key = value.key;
        if (!value.previous)
            key.deleteValue(value.name);
        else if (value.previous->type == platform::RegType::MultiString)
            key.setMultiString(value.name, value.previous->strings);
        else
            key.setString(value.name, value.previous->text);
        m_log.line("Rolled back: value \"" + value.name + "\"");
    }

    SetupLog& m_log;
    std::vector<fs::path> m_folders;  // deepest first
    std::vector<fs::path> m_files;
    std::optional<std::string> m_createdKey;
    std::vector<ReplacedValue> m_values;
};

// Written under a temporary name in the same folder and renamed over the final one, so the
// final name only ever holds a complete file (the old one until the rename, then the new).
bool placeFile(const fs::path& target, std::span<const uint8_t> bytes, mode_t mode,
               InstallUndo& undo, SetupLog& log, std::string& error) {
    std::string pattern =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create a file in " + target.parent_path().string() + ": " + errnoText();
        return false;
    }
    const fs::path temp = pattern;
    bool ok = platform::writeAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    std::string reason = ok ? std::string() : errnoText();
    if (::close(fd) != 0 && ok) {
        ok = false;
        reason = errnoText();
    }
    if (!ok) {
        error = "cannot write " + temp.string() + ": " + reason;
        ::unlink(temp.c_str());
        return false;
    }
    const bool replaces = existsNoFollow(target);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = "cannot rename " + temp.string() + " to " + target.string() + ": " + errnoText();
        ::unlink(temp.c_str());
        return false;
    }
    if (!replaces)
        undo.fileCreated(target);
    log.line(std::string(replaces ? "Replaced file: " : "Installed file: ") + target.string() +
             " (" + std::to_string(bytes.size()) + " bytes)");
    return true;
}

bool createFolder(const fs::path& folder, InstallUndo& undo, SetupLog& log, std::string& error) {
    std::vector<fs::path> missing;  // deepest first
    for (fs::path p = folder; !existsNoFollow(p) && p.has_relative_path(); p = p.parent_path())
        missing.push_back(p);
    if (!platform::createDirectories(folder)) {
        error = "cannot create the install folder " + folder.string();
        return false;
    }
    for (const fs::path& p : missing)
        undo.folderCreated(p);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        log.line("Created folder: " + it->string());
    return true;
}

bool writeUninstallEntry(const fs::path& folder, InstallUndo& undo, SetupLog& log,
                         std::string& error) {
    const std::string keyPath = uninstallKeyPath();
    const bool existed = RegKey::open(Hive::LocalMachine, keyPath).has_value();
    auto key = RegKey::create(Hive::LocalMachine, keyPath);
    if (!key) {
        error = "cannot create the uninstall key " + keyPath;
        return false;
    }
    if (!existed)
        undo.keyCreated(keyPath);
    const std::string uninstaller = (folder / kUninstallerFile).string();
    const std::pair<const char*, std::string> values[] = {
        {kAppPathValue, folder.string()},
        {"InstallLocation", folder.string() + "/"},
        {"DisplayName", kProductName},
        {"DisplayVersion", kProductVersion},
        {"Publisher", kPublisher},
        {"UninstallString", "\"" + uninstaller + "\" " + kUninstallSwitch},
    };
    for (const auto& [name, data] : values) {
        if (existed)
            undo.valueReplaced(*key, name, key->queryValue(name));
        if (!key->setString(name, data)) {
            error = std::string("cannot write the value \"") + name + "\" of " + keyPath;
            return false;
        }
    }
    log.line(std::string(existed ? "Updated" : "Created") + " uninstall key: " +
             std::string(platform::hiveName(Hive::LocalMachine)) + "\\" + keyPath);
    return true;
}

}  // namespace

std::string uninstallKeyPath() {
    return platform::is64BitOs() ? kUninstallKey64 : kUninstallKey32;
}

bool installProduct(const fs::path& folder, const InstallPayload& payload, SetupLog& log,
                    std::string& error) {
    InstallUndo undo(log);
    const bool ok =
        createFolder(folder, undo, log, error) &&
        placeFile(folder / kApplicationFile, payload.application, 0755, undo, log, error) &&
        placeFile(folder / kUninstallerFile, payload.uninstaller, 0755, undo, log, error) &&
        (payload.data.empty() ||
         placeFile(folder / kDataFile, payload.data, 0644, undo, log, error)) &&
        writeUninstallEntry(folder, undo, log, error);
    if (!ok) {
        log.line("Install failed: " + error);
        undo.rollBack();
    }
    return ok;
}

bool uninstallProduct(const fs::path& folder, SetupLog& log, std::string& error) {
    const std::string keyPath = uninstallKeyPath();
    const auto key = RegKey::open(Hive::LocalMachine, keyPath);
    if (!key) {
        error = std::string(kProductName) + " is not installed (no key " + keyPath + ")";
        return false;
    }
    const std::string registered = key->getString(kAppPathValue).value_or("");
    if (registered != folder.string()) {
        error =
            "the uninstall entry names the folder \"" + registered + "\", not " + folder.string();
        return false;
    }
    // Files first: when one cannot go, the entry stays and the uninstall can be run again.
    for (const char* name : {kApplicationFile, kDataFile, kStartedLogFile, kUninstallerFile}) {
        const fs::path file = folder / name;
        std::error_code ec;
        if (fs::remove(file, ec))
            log.line("Removed file: " + file.string());
        else if (ec) {
            error = "cannot remove " + file.string() + ": " + ec.message();
            return false;
        }
    }
    if (!platform::deleteKeyTree(Hive::LocalMachine, keyPath)) {
        error = "cannot remove the uninstall key " + keyPath;
        return false;
    }
    log.line("Removed uninstall key: " + keyPath);
    std::error_code ec;
    if (fs::is_empty(folder, ec) && fs::remove(folder, ec))
        log.line("Removed folder: " + folder.string());
    return true;
}

}  // namespace demo
