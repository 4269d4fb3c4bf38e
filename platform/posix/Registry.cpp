#include "platform/Registry.h"

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "Logging.h"
#include "TextUtil.h"

// Store layout (schema version 1, kept in PRAGMA user_version):
//   keys(id, parent, name)          parent 0 is the hive's root, which has no row
//   vals(id, key, name, type, data) id gives the creation order; data is a BLOB: the REG_SZ
//                                   bytes, or each REG_MULTI_SZ element followed by one NUL
// Names use SQLite's NOCASE collation, which folds ASCII letters only: exactly the comparison
// the registry promises, and the UNIQUE constraints enforce it.

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr int kSchemaVersion = 1;
constexpr size_t kMaxKeyNameCodePoints = 255;
constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxValueNameCodePoints = 16383;
constexpr int64_t kRootKeyId = 0;

// NORMAL: a commit reaches the disk at the next checkpoint rather than at once (a crashed
// process loses nothing; a power cut may lose the last commits but never tears one).
constexpr const char* kConnectionSql = "PRAGMA synchronous = NORMAL;";

constexpr const char* kSchemaSql =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    " id INTEGER PRIMARY KEY,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, name));"
    "PRAGMA user_version = 1;";

std::string_view shortHiveName(Hive hive) {
    return hive == Hive::LocalMachine ? "HKLM" : "HKCU";
}

std::string describeKey(Hive hive, std::string_view path) {
    std::string text(shortHiveName(hive));
    if (!path.empty())
        text.append("\\").append(path);
    return text;
}

// Why `name` cannot be a key or value name, or empty when it can.
std::string nameProblem(std::string_view name, size_t maxCodePoints) {
    if (name.find('\0') != std::string_view::npos)
        return "contains a NUL character";
    auto codePoints = utf8CodePoints(name);
    if (!codePoints)
        return "is not valid UTF-8";
    if (*codePoints > maxCodePoints) {
        return "is longer than " + std::to_string(maxCodePoints) + " characters";
    }
    return {};
}

bool checkValueName(Hive hive, std::string_view keyPath, std::string_view name) {
    std::string problem = nameProblem(name, kMaxValueNameCodePoints);
    if (problem.empty())
        return true;
    LOG(INFO) << " Registry: value name under " << describeKey(hive, keyPath) << " " << problem;
    return false;
}

std::vector<std::string_view> splitCanonical(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        size_t cut = path.find('\\');
        parts.push_back(path.substr(0, cut));
        if (cut == std::string_view::npos)
            break;
        path.remove_prefix(cut + 1);
    }
    return parts;
}

fs::path userDataHome() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return fs::path(home) / ".local" / "share";
    }
    // No usable HOME (a service, a scrubbed environment): ask the password database.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return fs::path(found->pw_dir) / ".local" / "share";
    }
    return {};
}

// One prepared statement; finalised on destruction. Binding failures are kept and reported by
// the next step(), so call sites bind without checking each call.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : m_db(db) {
        m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, int64_t value) {
        if (m_rc == SQLITE_OK)
            m_rc = sqlite3_bind_int64(m_stmt, index, value);
    }
    void bindText(int index, std::string_view text) {
        if (m_rc == SQLITE_OK) {
            m_rc = sqlite3_bind_text64(m_stmt, index, text.empty() ? "" : text.data(), text.size(),
                                       SQLITE_TRANSIENT, SQLITE_UTF8);
        }
    }
    // A non-null pointer even for no bytes: a null one would bind SQL NULL, not an empty BLOB.
    void bindBlob(int index, std::string_view bytes) {
        if (m_rc == SQLITE_OK) {
            m_rc = sqlite3_bind_blob64(m_stmt, index, bytes.empty() ? "" : bytes.data(),
                                       bytes.size(), SQLITE_TRANSIENT);
        }
    }

    // SQLITE_ROW, SQLITE_DONE, or an error code (then message() says why).
    int step() {
        if (m_rc != SQLITE_OK)
            return m_rc;
        int rc = sqlite3_step(m_stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            m_rc = rc;
        return rc;
    }

    int64_t columnInt(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string columnBytes(int column) const {
        const void* data = sqlite3_column_blob(m_stmt, column);
        int size = sqlite3_column_bytes(m_stmt, column);
        if (data == nullptr || size <= 0)
            return {};
        return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
    }
    std::string message() const {
        return std::string(sqlite3_errstr(m_rc)) + " (" + sqlite3_errmsg(m_db) + ")";
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc;
};

// What identifies the contents of a hive file between two calls of one thread. Anything else
// touching the file (another connection's checkpoint, a restore, a deleted folder) changes it.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> stampOf(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, st.st_size,
                     int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

struct Connection {
    std::string file;
    sqlite3* db = nullptr;
    pid_t owner = 0;  // a connection must not be used (or closed) in a forked child
    std::optional<FileStamp> stamp;
};

// Each thread keeps its few open connections between calls. Closing the last connection to a
// file checkpoints its log with a disk flush; a connection per call would pay that on every
// write. Entries are checked against the file before reuse and dropped after any SQLite error.
class ConnectionCache {
public:
    ConnectionCache() = default;
    ~ConnectionCache() {
        for (Connection& connection : m_connections)
            close(connection);
    }
    ConnectionCache(const ConnectionCache&) = delete;
    ConnectionCache& operator=(const ConnectionCache&) = delete;

    // A cached connection to `file` still looking at the same file, or nullptr.
    sqlite3* take(const std::string& file) {
        for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
            if (it->file != file)
                continue;
            Connection connection = *it;
            m_connections.erase(it);
            if (connection.owner == getpid() && connection.stamp == stampOf(file))
                return connection.db;
            close(connection);
            return nullptr;
        }
        return nullptr;
    }

    void give(const std::string& file, sqlite3* db) {
        if (m_connections.size() >= kMaxConnections) {
            close(m_connections.front());
            m_connections.erase(m_connections.begin());
        }
        m_connections.push_back(Connection{file, db, getpid(), stampOf(file)});
    }

private:
    static constexpr size_t kMaxConnections = 4;

    static void close(Connection& connection) {
        if (connection.owner == getpid())
            sqlite3_close_v2(connection.db);
    }

    std::vector<Connection> m_connections;
};

ConnectionCache& threadConnections() {
    thread_local ConnectionCache cache;
    return cache;
}

// One hive for the length of one call on one thread, on a connection borrowed from the thread's
// cache (or opened now) and given back afterwards unless something went wrong with it.
class Store {
public:
    explicit Store(Hive hive) : m_hive(hive) {}
    ~Store() {
        if (m_db == nullptr)
            return;
        if (m_broken || sqlite3_get_autocommit(m_db) == 0) {
            sqlite3_close_v2(m_db);
        } else {
            threadConnections().give(m_file.native(), m_db);
        }
    }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (creating when needed) the hive file, in WAL mode with the current schema.
    bool open() {
        m_file = hiveFile(m_hive);
        if (m_file.empty()) {
            LOG(INFO) << " Registry: no folder for hive " << shortHiveName(m_hive)
                      << " (set KV_REGISTRY_DIR or HOME)";
            return false;
        }
        m_db = threadConnections().take(m_file.native());
        if (m_db != nullptr)
            return true;
        std::error_code ec;
        fs::create_directories(m_file.parent_path(), ec);
        if (ec) {
            LOG(INFO) << " Registry: cannot create folder " << m_file.parent_path() << ": "
                      << ec.message();
            return false;
        }
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        int rc = sqlite3_open_v2(m_file.c_str(), &m_db, flags, nullptr);
        if (rc != SQLITE_OK) {
            LOG(INFO) << " Registry: cannot open " << m_file << ": "
                      << (m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
            m_broken = true;
            return false;
        }
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, kRegistryBusyTimeoutMs);
        // The file may come from anywhere: refuse statements that could corrupt it further.
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        bool ok = useWal() && exec(kConnectionSql, "configuring the connection") && ensureSchema();
        m_broken = !ok;
        return ok;
    }

    sqlite3* db() const { return m_db; }
    Hive hive() const { return m_hive; }

    bool exec(const char* sql, const char* what) {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) == SQLITE_OK)
            return true;
        m_broken = true;
        LOG(INFO) << " Registry: " << what << " failed in " << m_file << ": "
                  << (error != nullptr ? error : sqlite3_errmsg(m_db));
        sqlite3_free(error);
        return false;
    }

    // Logs a failed statement; the connection is not reused after it.
    void logFailure(std::string_view what, std::string_view keyPath, const Statement& stmt) {
        m_broken = true;
        LOG(INFO) << " Registry: " << what << " " << describeKey(m_hive, keyPath) << " failed in "
                  << m_file << ": " << stmt.message();
    }

private:
    // Switching to WAL needs a moment alone with the file. The busy handler does not cover every
    // path of that switch, so contention right after the file was created is retried here.
    bool useWal() {
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kRegistryBusyTimeoutMs);
        while (true) {
            Statement mode(m_db, "PRAGMA journal_mode = WAL");
            int rc = mode.step();
            if (rc == SQLITE_ROW) {
                if (equalsNoCase(mode.columnBytes(0), "wal"))
                    return true;
                LOG(INFO) << " Registry: " << m_file << " refuses WAL mode";
                return false;
            }
            if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) {
                LOG(INFO) << " Registry: cannot use " << m_file << ": " << mode.message();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::optional<int64_t> schemaVersion() {
        Statement version(m_db, "PRAGMA user_version");
        if (version.step() != SQLITE_ROW) {
            LOG(INFO) << " Registry: cannot read " << m_file << ": " << version.message();
            return std::nullopt;
        }
        return version.columnInt(0);
    }

    bool ensureSchema() {
        auto version = schemaVersion();
        if (!version)
            return false;
        if (*version == kSchemaVersion)
            return true;
        if (*version != 0) {
            LOG(INFO) << " Registry: " << m_file << " has schema version " << *version
                      << ", this program reads version " << kSchemaVersion;
            return false;
        }
        // A new file: another connection may be creating the schema at the same moment, so
        // decide again under the write lock.
        if (!exec("BEGIN IMMEDIATE", "creating the schema"))
            return false;
        version = schemaVersion();
        bool ok =
            version.has_value() && (*version == kSchemaVersion ||
                                    (*version == 0 && exec(kSchemaSql, "creating the schema")));
        if (ok)
            return exec("COMMIT", "creating the schema");
        exec("ROLLBACK", "creating the schema");
        return false;
    }

    Hive m_hive;
    fs::path m_file;
    sqlite3* m_db = nullptr;
    bool m_broken = false;
};

// A transaction that rolls back unless committed. Writers take the write lock at BEGIN, so they
// never fail half-way for a lock another writer holds.
class Transaction {
public:
    enum class Kind { Read, Write };
    Transaction(Store& store, Kind kind) : m_store(store) {
        m_active =
            store.exec(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN", "starting a transaction");
    }
    ~Transaction() {
        if (m_active)
            m_store.exec("ROLLBACK", "rolling back");
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool active() const { return m_active; }
    bool commit() {
        m_active = false;
        return m_store.exec("COMMIT", "committing");
    }

private:
    Store& m_store;
    bool m_active = false;
};

struct KeyLookup {
    enum class State { Found, Missing, Failed } state = State::Failed;
    int64_t id = kRootKeyId;
    std::string path;  // as stored
};

// Finds (and with `create`, makes) the key at a canonical path, inside the caller's transaction.
KeyLookup findKey(Store& store, std::string_view canonical, bool create) {
    KeyLookup result;
    result.id = kRootKeyId;
    for (std::string_view part : splitCanonical(canonical)) {
        Statement select(store.db(), "SELECT id, name FROM keys WHERE parent = ?1 AND name = ?2");
        select.bind(1, result.id);
        select.bindText(2, part);
        int rc = select.step();
        std::string stored;
        if (rc == SQLITE_ROW) {
            result.id = select.columnInt(0);
            stored = select.columnBytes(1);
        } else if (rc == SQLITE_DONE && !create) {
            result.state = KeyLookup::State::Missing;
            return result;
        } else if (rc == SQLITE_DONE) {
            Statement insert(store.db(), "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
            insert.bind(1, result.id);
            insert.bindText(2, part);
            if (insert.step() != SQLITE_DONE) {
                store.logFailure("creating key", canonical, insert);
                return result;
            }
            result.id = sqlite3_last_insert_rowid(store.db());
            stored = std::string(part);
        } else {
            store.logFailure("looking up key", canonical, select);
            return result;
        }
        if (!result.path.empty())
            result.path.push_back('\\');
        result.path += stored;
    }
    result.state = KeyLookup::State::Found;
    return result;
}

// The key of an existing handle, or nothing (logged) when it is gone or cannot be read.
std::optional<int64_t> existingKeyId(Store& store, std::string_view path) {
    KeyLookup key = findKey(store, path, false);
    if (key.state == KeyLookup::State::Missing) {
        LOG(INFO) << " Registry: key " << describeKey(store.hive(), path) << " no longer exists";
    }
    if (key.state != KeyLookup::State::Found)
        return std::nullopt;
    return key.id;
}

// One call on the key of an existing handle: the hive open, a transaction begun and the key
// found again (it may have been deleted since the handle was made). Failures are logged.
class KeyCall {
public:
    KeyCall(Hive hive, std::string_view path, Transaction::Kind kind) : m_store(hive) {
        if (!m_store.open())
            return;
        m_txn.emplace(m_store, kind);
        if (m_txn->active())
            m_keyId = existingKeyId(m_store, path);
    }
    bool ok() const { return m_keyId.has_value(); }
    int64_t keyId() const { return *m_keyId; }
    Store& store() { return m_store; }
    bool commit() { return m_txn->commit(); }

private:
    Store m_store;
    std::optional<Transaction> m_txn;
    std::optional<int64_t> m_keyId;
};

// The stored path of the key, found or (with `create`) made.
std::optional<std::string> findOrCreate(Hive hive, std::string_view subkey, bool create) {
    auto canonical = normaliseKeyPath(subkey);
    if (!canonical)
        return std::nullopt;
    Store store(hive);
    if (!store.open())
        return std::nullopt;
    Transaction txn(store, create ? Transaction::Kind::Write : Transaction::Kind::Read);
    if (!txn.active())
        return std::nullopt;
    KeyLookup key = findKey(store, *canonical, create);
    if (key.state == KeyLookup::State::Missing) {
        LOG(INFO) << " Registry: key " << describeKey(hive, *canonical) << " does not exist";
        return std::nullopt;
    }
    if (key.state != KeyLookup::State::Found || !txn.commit())
        return std::nullopt;
    return std::move(key.path);
}

bool writeValue(Hive hive, std::string_view path, std::string_view name, RegType type,
                std::string_view data) {
    if (!checkValueName(hive, path, name))
        return false;
    KeyCall call(hive, path, Transaction::Kind::Write);
    if (!call.ok())
        return false;
    // An existing value keeps its row, so its name's case and its place in the order stay.
    Statement upsert(
        call.store().db(),
        "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
        "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
    upsert.bind(1, call.keyId());
    upsert.bindText(2, name);
    upsert.bind(3, static_cast<int64_t>(type));
    upsert.bindBlob(4, data);
    if (upsert.step() != SQLITE_DONE) {
        call.store().logFailure("writing value \"" + std::string(name) + "\" (" +
                                    std::to_string(data.size()) + " bytes) of",
                                path, upsert);
        return false;
    }
    return call.commit();
}

std::vector<std::string> listNames(Hive hive, std::string_view path, const char* sql,
                                   const char* what) {
    KeyCall call(hive, path, Transaction::Kind::Read);
    if (!call.ok())
        return {};
    Statement select(call.store().db(), sql);
    select.bind(1, call.keyId());
    std::vector<std::string> names;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW)
        names.push_back(select.columnBytes(0));
    if (rc != SQLITE_DONE) {
        call.store().logFailure(what, path, select);
        return {};
    }
    return names;
}

}  // namespace

std::optional<std::string> normaliseKeyPath(std::string_view subkey) {
    std::string canonical;
    size_t depth = 0;
    size_t start = 0;
    while (start <= subkey.size()) {
        size_t end = subkey.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = subkey.size();
        std::string_view part = subkey.substr(start, end - start);
        start = end + 1;
        if (part.empty())
            continue;
        if (std::string problem = nameProblem(part, kMaxKeyNameCodePoints); !problem.empty()) {
            LOG(INFO) << " Registry: key name \"" << part << "\" in \"" << subkey << "\" "
                      << problem;
            return std::nullopt;
        }
        if (++depth > kMaxKeyDepth) {
            LOG(INFO) << " Registry: key path is deeper than " << kMaxKeyDepth << " levels";
            return std::nullopt;
        }
        if (!canonical.empty())
            canonical.push_back('\\');
        canonical += part;
    }
    return canonical;
}

std::optional<RegKey> RegKey::open(Hive hive, std::string_view subkey) {
    auto path = findOrCreate(hive, subkey, false);
    return path ? std::optional<RegKey>(RegKey(hive, std::move(*path))) : std::nullopt;
}

std::optional<RegKey> RegKey::create(Hive hive, std::string_view subkey) {
    auto path = findOrCreate(hive, subkey, true);
    return path ? std::optional<RegKey>(RegKey(hive, std::move(*path))) : std::nullopt;
}

bool RegKey::setString(std::string_view name, std::string_view value) {
    return writeValue(m_hive, m_path, name, RegType::String, value);
}

bool RegKey::setMultiString(std::string_view name, const std::vector<std::string>& values) {
    std::string data;
    for (const std::string& element : values) {
        if (element.find('\0') != std::string::npos) {
            LOG(INFO) << " Registry: an element of multi-string \"" << name << "\" of "
                      << describeKey(m_hive, m_path) << " contains a NUL character";
            return false;
        }
        data += element;
        data.push_back('\0');
    }
    return writeValue(m_hive, m_path, name, RegType::MultiString, data);
}

std::optional<RegValue> RegKey::queryValue(std::string_view name) const {
    if (!checkValueName(m_hive, m_path, name))
        return std::nullopt;
    KeyCall call(m_hive, m_path, Transaction::Kind::Read);
    if (!call.ok())
        return std::nullopt;
    Statement select(call.store().db(), "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
    select.bind(1, call.keyId());
    select.bindText(2, name);
    int rc = select.step();
    if (rc == SQLITE_DONE) {
        LOG(INFO) << " Registry: value \"" << name << "\" of " << describeKey(m_hive, m_path)
                  << " does not exist";
        return std::nullopt;
    }
    if (rc != SQLITE_ROW) {
        call.store().logFailure("reading value of", m_path, select);
        return std::nullopt;
    }
    RegValue value;
    int64_t type = select.columnInt(0);
    std::string data = select.columnBytes(1);
    if (type == static_cast<int64_t>(RegType::String)) {
        value.type = RegType::String;
        value.text = std::move(data);
    } else if (type == static_cast<int64_t>(RegType::MultiString)) {
        value.type = RegType::MultiString;
        // Every element ends with NUL; a final piece without one (a hand-edited store) still
        // counts as an element rather than being dropped.
        size_t start = 0;
        while (start < data.size()) {
            size_t end = data.find('\0', start);
            if (end == std::string::npos)
                end = data.size();
            value.strings.push_back(data.substr(start, end - start));
            start = end + 1;
        }
    } else {
        LOG(INFO) << " Registry: value \"" << name << "\" of " << describeKey(m_hive, m_path)
                  << " has unsupported type " << type;
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> RegKey::getString(std::string_view name) const {
    auto value = queryValue(name);
    if (!value)
        return std::nullopt;
    if (value->type != RegType::String) {
        LOG(INFO) << " Registry: value \"" << name << "\" of " << describeKey(m_hive, m_path)
                  << " is not REG_SZ";
        return std::nullopt;
    }
    return std::move(value->text);
}

bool RegKey::deleteValue(std::string_view name) {
    if (!checkValueName(m_hive, m_path, name))
        return false;
    KeyCall call(m_hive, m_path, Transaction::Kind::Write);
    if (!call.ok())
        return false;
    Statement erase(call.store().db(), "DELETE FROM vals WHERE key = ?1 AND name = ?2");
    erase.bind(1, call.keyId());
    erase.bindText(2, name);
    if (erase.step() != SQLITE_DONE) {
        call.store().logFailure("deleting a value of", m_path, erase);
        return false;
    }
    if (sqlite3_changes(call.store().db()) == 0) {
        LOG(INFO) << " Registry: value \"" << name << "\" of " << describeKey(m_hive, m_path)
                  << " does not exist";
        return false;
    }
    return call.commit();
}

std::vector<std::string> RegKey::valueNames() const {
    return listNames(m_hive, m_path, "SELECT name FROM vals WHERE key = ?1 ORDER BY id",
                     "listing values of");
}

std::vector<std::string> RegKey::subkeyNames() const {
    return listNames(m_hive, m_path, "SELECT name FROM keys WHERE parent = ?1 ORDER BY name",
                     "listing subkeys of");
}

bool deleteKeyTree(Hive hive, std::string_view subkey) {
    auto canonical = normaliseKeyPath(subkey);
    if (!canonical)
        return false;
    if (canonical->empty()) {
        LOG(INFO) << " Registry: refusing to delete the root of " << shortHiveName(hive);
        return false;
    }
    Store store(hive);
    if (!store.open())
        return false;
    Transaction txn(store, Transaction::Kind::Write);
    if (!txn.active())
        return false;
    KeyLookup key = findKey(store, *canonical, false);
    if (key.state == KeyLookup::State::Missing) {
        LOG(INFO) << " Registry: cannot delete " << describeKey(hive, *canonical)
                  << ": it does not exist";
    }
    if (key.state != KeyLookup::State::Found)
        return false;
    // UNION, not UNION ALL: a damaged file with a cycle in it still ends the walk.
    static constexpr const char* kTree =
        "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION SELECT keys.id FROM keys JOIN tree "
        "ON keys.parent = tree.id) ";
    for (const std::string& sql : {std::string(kTree) + "DELETE FROM vals WHERE key IN tree",
                                   std::string(kTree) + "DELETE FROM keys WHERE id IN tree"}) {
        Statement erase(store.db(), sql.c_str());
        erase.bind(1, key.id);
        if (erase.step() != SQLITE_DONE) {
            store.logFailure("deleting key", *canonical, erase);
            return false;
        }
    }
    return txn.commit();
}

std::optional<Hive> parseHiveName(std::string_view name) {
    if (equalsNoCase(name, "HKLM") || equalsNoCase(name, "HKEY_LOCAL_MACHINE")) {
        return Hive::LocalMachine;
    }
    if (equalsNoCase(name, "HKCU") || equalsNoCase(name, "HKEY_CURRENT_USER")) {
        return Hive::CurrentUser;
    }
    return std::nullopt;
}

std::string_view hiveName(Hive hive) {
    return hive == Hive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

fs::path hiveFile(Hive hive) {
    fs::path folder;
    if (const char* dir = std::getenv("KV_REGISTRY_DIR"); dir != nullptr && dir[0] != '\0') {
        std::error_code ec;
        folder = fs::absolute(dir, ec);
        if (ec)
            folder = dir;
    } else if (hive == Hive::LocalMachine && geteuid() == 0) {
        folder = "/var/lib/kvdownloader/registry";
    } else {
        fs::path data = userDataHome();
        if (data.empty())
            return {};
        folder = data / "kvdownloader" / "registry";
    }
    return folder / (hive == Hive::LocalMachine ? "HKLM.db" : "HKCU.db");
}

}  // namespace platform
