#pragma once
// The registry: HKLM/HKCU keys holding REG_SZ and REG_MULTI_SZ values, kept in one SQLite
// database file per hive.
//
// Names. Key paths use "\" separators ("/" is accepted too; repeated, leading and trailing
// separators are collapsed, so "" is the hive's root). Key and value names compare without
// ASCII case (other characters compare exactly) and keep the case they were first written
// with. The default value of a key has the empty name. Names must be valid UTF-8 without NUL
// characters; a key name is at most 255 code points, a path at most 512 levels deep and a
// value name at most 16383 code points (the limits of the system this replaces).
//
// Values. REG_SZ data are stored byte for byte, of any length: what is written reads back
// exactly. REG_MULTI_SZ lists keep every element, empty ones included; an element must not
// contain NUL.
//
// Where the hives live: hiveFile(). KV_REGISTRY_DIR, when set, is read at each call, so a test
// can point the store at a folder of its own before any call.
//
// Threads and processes. Each call does its work in one transaction; writes take the database's
// write lock at once (BEGIN IMMEDIATE) and wait up to kRegistryBusyTimeoutMs for another writer.
// Each thread keeps its own open connections between calls (closed when the thread ends, and
// reopened when the hive file was replaced or deleted meanwhile); no connection is shared
// between threads. Any thread of any process may call anything at any time; a RegKey is an
// immutable value that may be copied between threads. A process that forks must not call the
// registry in the child before exec.
//
// Errors. Every failure is logged with its reason (hive file, key, value name, SQLite message)
// and returns nullopt, false or an empty list.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class Hive { LocalMachine, CurrentUser };

enum class RegType : uint32_t {
    String = 1,       // REG_SZ
    MultiString = 7,  // REG_MULTI_SZ
};

struct RegValue {
    RegType type = RegType::String;
    std::string text;                  // String only
    std::vector<std::string> strings;  // MultiString only
};

// How long a call waits for another connection's write lock before it fails.
inline constexpr int kRegistryBusyTimeoutMs = 5000;

// A handle to an existing key: hive plus path. It holds no open resource; each call finds the
// key again, so a key deleted meanwhile (by any process) makes later calls fail cleanly.
class RegKey {
public:
    // The key, or nullopt when it (or the hive) does not exist.
    static std::optional<RegKey> open(Hive hive, std::string_view subkey);
    // The key, created first with every missing parent.
    static std::optional<RegKey> create(Hive hive, std::string_view subkey);

    Hive hive() const { return m_hive; }
    // The path with the case each key was first created with, "\"-separated; "" for the root.
    const std::string& path() const { return m_path; }

    // Create or overwrite a value (an existing value keeps the case of its name).
    bool setString(std::string_view name, std::string_view value);
    bool setMultiString(std::string_view name, const std::vector<std::string>& values);

    // nullopt when the value is missing or has a type other than these two.
    std::optional<RegValue> queryValue(std::string_view name) const;
    // REG_SZ values only: nullopt for a missing value or one of another type.
    std::optional<std::string> getString(std::string_view name) const;

    bool deleteValue(std::string_view name);

    // Value names in the order the values were created; subkey names sorted without ASCII case.
    std::vector<std::string> valueNames() const;
    std::vector<std::string> subkeyNames() const;

private:
    RegKey(Hive hive, std::string path) : m_hive(hive), m_path(std::move(path)) {}

    Hive m_hive;
    std::string m_path;
};

// Deletes the key with all its subkeys and values; false when it does not exist. The root of a
// hive cannot be deleted.
bool deleteKeyTree(Hive hive, std::string_view subkey);

// "HKLM", "HKEY_LOCAL_MACHINE", "HKCU", "HKEY_CURRENT_USER" in any case.
std::optional<Hive> parseHiveName(std::string_view name);
// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
std::string_view hiveName(Hive hive);

// The key path in canonical form ("\"-separated, no empty components), or nullopt (logged)
// when it breaks the naming rules above.
std::optional<std::string> normaliseKeyPath(std::string_view subkey);

// The database file of a hive: in $KV_REGISTRY_DIR when set and not empty; otherwise, for
// LocalMachine in a process running as root, /var/lib/kvdownloader/registry; otherwise
// ($XDG_DATA_HOME or ~/.local/share)/kvdownloader/registry. Files HKLM.db and HKCU.db.
// Only computes the path; the folder is created when the hive is first opened.
std::filesystem::path hiveFile(Hive hive);

}  // namespace platform
