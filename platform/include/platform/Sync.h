#pragma once
// Named mutexes and named events, shared by every thread and process that opens the same name;
// the single-instance guard of the installer is NamedMutex::create(name, &alreadyExisted).
//
// Names. Any string; two objects are the same when their names are byte for byte equal, of the
// same kind (a mutex and an event never share state) and in the same sync folder. The empty
// name gives an unnamed object, private to its handle, never reported as already existing.
//
// Lifetime. An object lives while any handle to its name is open in any process; a process that
// ends (even killed) closes its handles. All handles to one name in one process share a single
// process-wide entry, so a thread holding a mutex through one handle holds it through all.
// Handles are owned by their unique_ptr; destroy a handle only when no call on it is running.
//
// Threads. Every method may be called from any thread. lock() and wait() block the calling
// thread for at most their time-out (milliseconds, kInfinite for no limit; 0 only tries).
//
// Where the state lives: syncDirectory(). KV_SYNC_DIR, when set, is read at each create, so a
// test can point the objects at a folder of its own. Otherwise the folder is
// /tmp/kvdownloader-sync-<uid>, made with mode 0700 and refused when it is a symbolic link,
// belongs to another user or is open to other users.
//
// Errors. Every failure is logged with its reason (name, file, errno text) and returns nullptr,
// false or WaitResult::Failed.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/Wait.h"

namespace platform {

// The folder that holds the lock and state files (created when missing), or nullopt with the
// reason logged when it cannot be made or is unsafe to use.
std::optional<std::filesystem::path> syncDirectory();

// A mutex like a Windows named mutex: owned by one thread at a time, recursive for its owner
// (each lock() needs its unlock()), released only by its owner. When the owner's process ends
// while holding it, the next lock() acquires it and reports WaitResult::Abandoned.
class NamedMutex {
public:
    // Opens the mutex `name`, creating it unowned when no process has it open; *alreadyExisted
    // (when given) tells which happened. nullptr on failure.
    static std::unique_ptr<NamedMutex> create(const std::string& name,
                                              bool* alreadyExisted = nullptr);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Acquires the mutex for the calling thread: Signaled, Abandoned (acquired; the previous
    // owner's process ended without unlocking), Timeout (not acquired) or Failed.
    WaitResult lock(uint32_t timeoutMs);
    // Releases one level of the calling thread's ownership; false when it does not own it.
    bool unlock();

    const std::string& name() const { return m_name; }

    struct Entry;

private:
    NamedMutex(std::string name, std::shared_ptr<Entry> entry);
    std::string m_name;
    std::shared_ptr<Entry> m_entry;
};

// An event like a Windows named event. Auto-reset: a successful wait() consumes the signal, so
// each set() releases exactly one waiter (in any process). Manual-reset: it stays signalled,
// releasing every waiter, until reset(); a waiter that was waiting when set() ran is released
// even when reset() follows at once. The kind and the initial state are those of the call that
// created the object; later opens of the same name keep them.
class NamedEvent {
public:
    static std::unique_ptr<NamedEvent> create(const std::string& name, bool manualReset,
                                              bool initialState, bool* alreadyExisted = nullptr);
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    bool set();
    bool reset();
    // Signaled when the event was (or became) signalled within the time-out, else Timeout.
    // Waiters in this process wake at once; a set() in another process is seen within a few
    // milliseconds.
    WaitResult wait(uint32_t timeoutMs);

    const std::string& name() const { return m_name; }
    bool manualReset() const;

    struct Entry;

private:
    NamedEvent(std::string name, std::shared_ptr<Entry> entry);
    std::string m_name;
    std::shared_ptr<Entry> m_entry;
};

}  // namespace platform
