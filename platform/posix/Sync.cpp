// Named mutexes and events on flock().
//
// Files per name, in syncDirectory(), named <kind>-<readable part of the name>-<hash>:
//   .presence  every process with the name open holds a shared flock on it; a creator that can
//              take it exclusively knows nobody has the object open and initialises it.
//   .guard     (mutex) serialises creation across processes.
//   .lock      (mutex) the owning process holds an exclusive flock; its pid is written inside
//              while it owns the mutex, so a new owner that finds a pid knows the last one died.
//   .state     (event) a fixed record (signalled, kind, set counter) read and written under an
//              exclusive flock on the same file, which also serialises creation.
// flock() excludes open file descriptions, not threads, so every file operation also runs under
// a std::mutex of the process-wide entry. Files are never deleted: removing a lock file while
// another process waits on it would split one object into two.

#include "platform/Sync.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "Logging.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr size_t kReadableNameChars = 48;
// Cross-process waits poll; the interval doubles from the first to the second value.
constexpr milliseconds kPollFirst{1};
constexpr milliseconds kPollLast{5};
// Creation and event state updates hold their flock for microseconds; a holder that stays
// longer than this is stopped or stuck, and the call fails instead of hanging.
constexpr milliseconds kShortLockLimit{10000};

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = other.m_fd;
            other.m_fd = -1;
        }
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

class Deadline {
public:
    explicit Deadline(uint32_t timeoutMs)
        : m_infinite(timeoutMs == kInfinite), m_at(Clock::now() + milliseconds(timeoutMs)) {}
    bool infinite() const { return m_infinite; }
    Clock::time_point at() const { return m_at; }
    bool passed() const { return !m_infinite && Clock::now() >= m_at; }
    // What is left of the time-out, rounded up (a wait that long ends past the deadline), at
    // most `cap`.
    milliseconds remaining(milliseconds cap) const {
        if (m_infinite)
            return cap;
        const auto left = std::chrono::ceil<milliseconds>(m_at - Clock::now());
        return std::clamp(left, milliseconds::zero(), cap);
    }
    // At most `step`, and never past the deadline.
    Clock::duration sleepFor(Clock::duration step) const {
        if (m_infinite)
            return step;
        return std::clamp(m_at - Clock::now(), Clock::duration::zero(), step);
    }

private:
    bool m_infinite;
    Clock::time_point m_at;
};

milliseconds nextStep(milliseconds step) {
    return std::min(step * 2, kPollLast);
}

uint64_t fnv1a64(const std::string& text) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// Names may hold "\" and "/", any bytes and any length; the file name keeps a readable prefix
// and tells names apart by a hash of the whole name.
std::string fileBase(const char* kind, const std::string& name) {
    std::string readable;
    for (unsigned char c : name) {
        if (readable.size() == kReadableNameChars)
            break;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.';
        readable += plain ? static_cast<char>(c) : '_';
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a64(name)));
    return std::string(kind) + "-" + readable + "-" + hash;
}

Fd openSyncFile(const fs::path& path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        LOG(INFO) << " Sync file open failed: " << path.string() << ", " << errnoText(errno);
        return Fd();
    }
    Fd file(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        LOG(INFO) << " Sync file is not a regular file: " << path.string();
        return Fd();
    }
    return file;
}

// flock(op | LOCK_NB) retried until it succeeds or `limit` passes.
bool flockWithin(int fd, int op, milliseconds limit) {
    Deadline deadline(static_cast<uint32_t>(limit.count()));
    milliseconds step = kPollFirst;
    while (flock(fd, op | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            LOG(INFO) << " flock failed: " << errnoText(errno);
            return false;
        }
        if (deadline.passed()) {
            LOG(INFO) << " flock not granted within " << limit.count() << " ms";
            return false;
        }
        std::this_thread::sleep_for(deadline.sleepFor(step));
        step = nextStep(step);
    }
    return true;
}

void unlockFile(int fd) {
    if (flock(fd, LOCK_UN) != 0)
        LOG(INFO) << " flock unlock failed: " << errnoText(errno);
}

// Takes this process's shared hold on `presence`; the caller holds the name's creation guard.
// Returns false on failure; `fresh` tells whether nobody had the name open.
bool joinPresence(int presence, bool& fresh) {
    if (flock(presence, LOCK_EX | LOCK_NB) == 0) {
        fresh = true;
        // The downgrade is not atomic, but every other creator waits on the guard meanwhile.
        if (flock(presence, LOCK_SH | LOCK_NB) != 0) {
            LOG(INFO) << " Presence downgrade failed: " << errnoText(errno);
            return false;
        }
        return true;
    }
    if (errno != EWOULDBLOCK) {
        LOG(INFO) << " Presence lock failed: " << errnoText(errno);
        return false;
    }
    fresh = false;
    if (flock(presence, LOCK_SH | LOCK_NB) != 0) {
        LOG(INFO) << " Presence share failed: " << errnoText(errno);
        return false;
    }
    return true;
}

template <typename Entry>
struct Table {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Entry>> entries;  // key: lock or state file path
};

// Leaked on purpose: handles kept in statics may be destroyed after any table would be.
template <typename Entry>
Table<Entry>& tableOf() {
    static auto* table = new Table<Entry>();
    return *table;
}

// Drops one handle's reference; the last one leaves the table, closing the files (and with
// them this process's flocks) when the entry goes. True when it was the last handle.
template <typename Entry>
bool releaseEntry(std::shared_ptr<Entry>& entry) {
    bool last = true;
    if (!entry->key.empty()) {
        auto& table = tableOf<Entry>();
        std::lock_guard lock(table.mutex);
        last = --entry->handles == 0;
        if (last)
            table.entries.erase(entry->key);
    }
    entry.reset();
    return last;
}

}  // namespace

std::optional<fs::path> syncDirectory() {
    if (const char* env = std::getenv("KV_SYNC_DIR"); env != nullptr && *env != '\0') {
        fs::path dir(env);
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (!fs::is_directory(dir, ec)) {
            LOG(INFO) << " KV_SYNC_DIR is not a usable folder: " << dir.string();
            return std::nullopt;
        }
        return dir;
    }
    fs::path dir = "/tmp/kvdownloader-sync-" + std::to_string(geteuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        LOG(INFO) << " Sync folder create failed: " << dir.string() << ", " << errnoText(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) {
        LOG(INFO) << " Sync folder stat failed: " << dir.string() << ", " << errnoText(errno);
        return std::nullopt;
    }
    // Anyone may create names in /tmp: a folder we did not make ourselves could hold planted
    // lock files, so it is refused rather than repaired.
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
        LOG(INFO) << " Sync folder refused, not a real folder: " << dir.string();
        return std::nullopt;
    }
    if (st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        LOG(INFO) << " Sync folder refused, owner " << st.st_uid << " mode " << mode << ": "
                  << dir.string();
        return std::nullopt;
    }
    return dir;
}

// ---------------------------------------------------------------------------------------------
// NamedMutex

struct NamedMutex::Entry {
    std::string key;  // empty for an unnamed mutex
    Fd presence;
    Fd lock;
    int handles = 0;  // guarded by the table's mutex

    std::mutex mutex;  // guards the members below and every use of `lock`
    std::condition_variable released;
    // The owning thread. Set with depth 0 while that thread still waits for the file lock,
    // which keeps the other threads of this process off the file meanwhile.
    std::thread::id owner;
    unsigned depth = 0;
};

namespace {

// Called by the thread that claimed the entry; takes the cross-process lock.
WaitResult acquireLockFile(NamedMutex::Entry& entry, const std::string& name,
                           const Deadline& deadline) {
    int fd = entry.lock.get();
    milliseconds step = kPollFirst;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            LOG(INFO) << " Named mutex lock failed: " << name << ", " << errnoText(errno);
            return WaitResult::Failed;
        }
        if (deadline.passed())
            return WaitResult::Timeout;
        std::this_thread::sleep_for(deadline.sleepFor(step));
        step = nextStep(step);
    }
    char previous[32] = {};
    ssize_t got = pread(fd, previous, sizeof previous - 1, 0);
    bool abandoned = got > 0;
    if (abandoned) {
        LOG(INFO) << " Named mutex abandoned by process "
                  << std::string(previous, static_cast<size_t>(got)) << ": " << name;
    }
    std::string pid = std::to_string(getpid());
    if (ftruncate(fd, 0) != 0 ||
        pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // Still owned; only the abandonment report for a later owner is lost.
        LOG(INFO) << " Named mutex owner record failed: " << name << ", " << errnoText(errno);
    }
    return abandoned ? WaitResult::Abandoned : WaitResult::Signaled;
}

}  // namespace

NamedMutex::NamedMutex(std::string name, std::shared_ptr<Entry> entry)
    : m_name(std::move(name)), m_entry(std::move(entry)) {}

NamedMutex::~NamedMutex() {
    bool owned = false;
    {
        std::lock_guard lock(m_entry->mutex);
        owned = m_entry->depth > 0;
    }
    // Closing the files releases the lock; another process then acquires it as abandoned.
    if (releaseEntry(m_entry) && owned) {
        LOG(INFO) << " Named mutex closed while still owned: " << m_name;
    }
}

std::unique_ptr<NamedMutex> NamedMutex::create(const std::string& name, bool* alreadyExisted) {
    if (alreadyExisted != nullptr)
        *alreadyExisted = false;
    if (name.empty()) {
        return std::unique_ptr<NamedMutex>(new NamedMutex(name, std::make_shared<Entry>()));
    }
    auto dir = syncDirectory();
    if (!dir) {
        LOG(INFO) << " Named mutex create failed, no sync folder: " << name;
        return nullptr;
    }
    fs::path base = *dir / fileBase("mutex", name);
    std::string key = base.string() + ".lock";

    auto& table = tableOf<Entry>();
    std::lock_guard tableLock(table.mutex);
    if (auto it = table.entries.find(key); it != table.entries.end()) {
        ++it->second->handles;
        if (alreadyExisted != nullptr)
            *alreadyExisted = true;
        return std::unique_ptr<NamedMutex>(new NamedMutex(name, it->second));
    }

    auto entry = std::make_shared<Entry>();
    entry->key = key;
    Fd guard = openSyncFile(base.string() + ".guard");
    entry->presence = openSyncFile(base.string() + ".presence");
    entry->lock = openSyncFile(key);
    if (!guard.valid() || !entry->presence.valid() || !entry->lock.valid()) {
        LOG(INFO) << " Named mutex create failed: " << name;
        return nullptr;
    }
    if (!flockWithin(guard.get(), LOCK_EX, kShortLockLimit)) {
        LOG(INFO) << " Named mutex create failed, creation guard busy: " << name;
        return nullptr;
    }
    bool fresh = false;
    bool joined = joinPresence(entry->presence.get(), fresh);
    // A fresh mutex is unowned, whatever a process that died long ago left in the file.
    if (joined && fresh && ftruncate(entry->lock.get(), 0) != 0) {
        LOG(INFO) << " Named mutex reset failed: " << name << ", " << errnoText(errno);
        joined = false;
    }
    unlockFile(guard.get());
    if (!joined) {
        LOG(INFO) << " Named mutex create failed: " << name;
        return nullptr;
    }
    entry->handles = 1;
    table.entries.emplace(key, entry);
    if (alreadyExisted != nullptr)
        *alreadyExisted = !fresh;
    return std::unique_ptr<NamedMutex>(new NamedMutex(name, std::move(entry)));
}

WaitResult NamedMutex::lock(uint32_t timeoutMs) {
    Entry& entry = *m_entry;
    const Deadline deadline(timeoutMs);
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(entry.mutex);
    if (entry.owner == self) {
        if (entry.depth == UINT_MAX) {
            LOG(INFO) << " Named mutex recursion limit reached: " << m_name;
            return WaitResult::Failed;
        }
        ++entry.depth;
        return WaitResult::Signaled;
    }
    auto unowned = [&] { return entry.owner == std::thread::id(); };
    if (deadline.infinite()) {
        entry.released.wait(lock, unowned);
    } else if (!entry.released.wait_until(lock, deadline.at(), unowned)) {
        return WaitResult::Timeout;
    }
    entry.owner = self;
    entry.depth = 0;
    if (!entry.lock.valid()) {
        entry.depth = 1;
        return WaitResult::Signaled;
    }
    lock.unlock();
    WaitResult result = acquireLockFile(entry, m_name, deadline);
    lock.lock();
    if (result == WaitResult::Signaled || result == WaitResult::Abandoned) {
        entry.depth = 1;
    } else {
        entry.owner = std::thread::id();
        entry.released.notify_one();
    }
    return result;
}

bool NamedMutex::unlock() {
    Entry& entry = *m_entry;
    std::lock_guard lock(entry.mutex);
    if (entry.owner != std::this_thread::get_id() || entry.depth == 0) {
        LOG(INFO) << " Named mutex unlock refused, caller does not own it: " << m_name;
        return false;
    }
    if (--entry.depth > 0)
        return true;
    if (entry.lock.valid()) {
        // Clear the owner record first: if this process dies between the two calls, the next
        // owner must not take the mutex for abandoned.
        if (ftruncate(entry.lock.get(), 0) != 0) {
            LOG(INFO) << " Named mutex owner clear failed: " << m_name << ", " << errnoText(errno);
        }
        unlockFile(entry.lock.get());
    }
    entry.owner = std::thread::id();
    entry.released.notify_one();
    return true;
}

// ---------------------------------------------------------------------------------------------
// NamedEvent

namespace {

// The .state file holds exactly this record; anything else is treated as damaged.
struct EventRecord {
    char magic[4] = {'K', 'V', 'E', 'V'};
    uint8_t signaled = 0;
    uint8_t manual = 0;
    uint8_t unused[2] = {};
    uint64_t setCount =
        0;  // bumped by every set(), so a waiter notices a set+reset it slept through
};
static_assert(sizeof(EventRecord) == 16);

}  // namespace

struct NamedEvent::Entry {
    std::string key;  // empty for an unnamed event
    Fd presence;
    Fd state;
    int handles = 0;  // guarded by the table's mutex
    bool manual = false;

    std::mutex mutex;  // guards `record` and every use of `state`
    std::condition_variable changed;
    EventRecord record;  // the state itself for an unnamed event, else the last one read
};

namespace {

// Reads the record into `record`; a damaged one is replaced by an unsignalled record of the
// kind already in `record`, and false tells the caller to store that.
bool readRecord(int fd, EventRecord& record, const std::string& name) {
    EventRecord stored;
    ssize_t got = pread(fd, &stored, sizeof stored, 0);
    if (got != static_cast<ssize_t>(sizeof stored) || std::memcmp(stored.magic, "KVEV", 4) != 0) {
        LOG(INFO) << " Named event state damaged (" << got << " bytes), reset: " << name;
        stored = EventRecord();
        stored.manual = record.manual;
        record = stored;
        return false;
    }
    record = stored;
    return true;
}

bool writeRecord(int fd, const EventRecord& record, const std::string& name) {
    if (pwrite(fd, &record, sizeof record, 0) != static_cast<ssize_t>(sizeof record)) {
        LOG(INFO) << " Named event state write failed: " << name << ", " << errnoText(errno);
        return false;
    }
    return true;
}

// Runs `change` on the current record and stores the result when it returns true. The caller
// holds entry.mutex. The state file's lock is waited for at most `lockLimit`; *busy tells a
// lock not granted in time from other failures.
template <typename Change>
bool updateRecord(NamedEvent::Entry& entry, const std::string& name, Change&& change,
                  milliseconds lockLimit = kShortLockLimit, bool* busy = nullptr) {
    if (!entry.state.valid()) {
        change(entry.record);
        return true;
    }
    int fd = entry.state.get();
    if (!flockWithin(fd, LOCK_EX, lockLimit)) {
        LOG(INFO) << " Named event state busy: " << name;
        if (busy != nullptr)
            *busy = true;
        return false;
    }
    bool intact = readRecord(fd, entry.record, name);
    bool ok = true;
    if (change(entry.record) || !intact)
        ok = writeRecord(fd, entry.record, name);
    unlockFile(fd);
    return ok;
}

}  // namespace

NamedEvent::NamedEvent(std::string name, std::shared_ptr<Entry> entry)
    : m_name(std::move(name)), m_entry(std::move(entry)) {}

NamedEvent::~NamedEvent() {
    releaseEntry(m_entry);
}

bool NamedEvent::manualReset() const {
    return m_entry->manual;
}

std::unique_ptr<NamedEvent> NamedEvent::create(const std::string& name, bool manualReset,
                                               bool initialState, bool* alreadyExisted) {
    if (alreadyExisted != nullptr)
        *alreadyExisted = false;
    if (name.empty()) {
        auto entry = std::make_shared<Entry>();
        entry->manual = manualReset;
        entry->record.manual = manualReset ? 1 : 0;
        entry->record.signaled = initialState ? 1 : 0;
        return std::unique_ptr<NamedEvent>(new NamedEvent(name, std::move(entry)));
    }
    auto dir = syncDirectory();
    if (!dir) {
        LOG(INFO) << " Named event create failed, no sync folder: " << name;
        return nullptr;
    }
    fs::path base = *dir / fileBase("event", name);
    std::string key = base.string() + ".state";

    auto& table = tableOf<Entry>();
    std::lock_guard tableLock(table.mutex);
    if (auto it = table.entries.find(key); it != table.entries.end()) {
        ++it->second->handles;
        if (alreadyExisted != nullptr)
            *alreadyExisted = true;
        return std::unique_ptr<NamedEvent>(new NamedEvent(name, it->second));
    }

    auto entry = std::make_shared<Entry>();
    entry->key = key;
    entry->presence = openSyncFile(base.string() + ".presence");
    entry->state = openSyncFile(key);
    if (!entry->presence.valid() || !entry->state.valid()) {
        LOG(INFO) << " Named event create failed: " << name;
        return nullptr;
    }
    int stateFd = entry->state.get();
    if (!flockWithin(stateFd, LOCK_EX, kShortLockLimit)) {
        LOG(INFO) << " Named event create failed, state busy: " << name;
        return nullptr;
    }
    bool fresh = false;
    bool ok = joinPresence(entry->presence.get(), fresh);
    if (ok && fresh) {
        EventRecord record;
        record.manual = manualReset ? 1 : 0;
        record.signaled = initialState ? 1 : 0;
        ok = writeRecord(stateFd, record, name);
        entry->record = record;
    } else if (ok) {
        entry->record.manual = manualReset ? 1 : 0;  // kept only if the file is damaged
        if (!readRecord(stateFd, entry->record, name)) {
            ok = writeRecord(stateFd, entry->record, name);
        }
    }
    unlockFile(stateFd);
    if (!ok) {
        LOG(INFO) << " Named event create failed: " << name;
        return nullptr;
    }
    entry->manual = entry->record.manual != 0;
    entry->handles = 1;
    table.entries.emplace(key, entry);
    if (alreadyExisted != nullptr)
        *alreadyExisted = !fresh;
    return std::unique_ptr<NamedEvent>(new NamedEvent(name, std::move(entry)));
}

bool NamedEvent::set() {
    Entry& entry = *m_entry;
    std::lock_guard lock(entry.mutex);
    bool ok = updateRecord(entry, m_name, [](EventRecord& record) {
        record.signaled = 1;
        ++record.setCount;
        return true;
    });
    if (ok)
        entry.changed.notify_all();
    return ok;
}

bool NamedEvent::reset() {
    Entry& entry = *m_entry;
    std::lock_guard lock(entry.mutex);
    return updateRecord(entry, m_name, [](EventRecord& record) {
        record.signaled = 0;
        return true;
    });
}

WaitResult NamedEvent::wait(uint32_t timeoutMs) {
    Entry& entry = *m_entry;
    const Deadline deadline(timeoutMs);
    const bool crossProcess = entry.state.valid();
    std::unique_lock lock(entry.mutex);
    std::optional<uint64_t> firstSetCount;
    milliseconds step = kPollFirst;
    while (true) {
        bool released = false;
        bool busy = false;
        // The caller's time-out holds whatever another process does with the state's lock.
        bool ok = updateRecord(
            entry, m_name,
            [&](EventRecord& record) {
                if (!firstSetCount)
                    firstSetCount = record.setCount;
                if (record.signaled != 0) {
                    released = true;
                    if (!entry.manual) {
                        record.signaled = 0;
                        return true;
                    }
                    return false;
                }
                released = entry.manual && record.setCount != *firstSetCount;
                return false;
            },
            deadline.remaining(kShortLockLimit), &busy);
        if (!ok)
            return busy && deadline.passed() ? WaitResult::Timeout : WaitResult::Failed;
        if (released)
            return WaitResult::Signaled;
        if (deadline.passed())
            return WaitResult::Timeout;
        if (crossProcess) {
            // A set() in this process notifies at once; one elsewhere is seen at the next poll.
            entry.changed.wait_for(lock, deadline.sleepFor(step));
            step = nextStep(step);
        } else if (deadline.infinite()) {
            entry.changed.wait(lock);
        } else {
            entry.changed.wait_until(lock, deadline.at());
        }
    }
}

}  // namespace platform
