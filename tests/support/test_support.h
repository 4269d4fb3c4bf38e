#pragma once
// Shared helpers for the test programs: temporary folders, and child processes that run a
// named routine of the same test binary (for tests that need a second real process).

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvtest {

// A fresh folder under the system temp folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

using ChildRoutine = std::function<int(const std::vector<std::string>& args)>;

// Registers a routine that a child process can run; use through KV_TEST_CHILD.
bool registerChild(const std::string& name, ChildRoutine routine);

// Starts this test binary again as a child running routine `name` with `args`; returns its pid.
pid_t spawnChild(const std::string& name, const std::vector<std::string>& args = {});

// Waits at most `timeoutMs` for the child; returns its exit code, or -1 on time-out (the
// child is then killed) or abnormal end.
int waitChild(pid_t pid, int timeoutMs = 30000);

// Runs an executable with arguments, capturing standard output and error together.
struct RunResult {
    int exitCode = -1;
    std::string output;
};
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     int timeoutMs = 60000);

// Sets an environment variable for one scope and puts the old value back (null unsets).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Saves the named environment variables and puts them back at the end of the scope.
class EnvGuard {
public:
    explicit EnvGuard(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            const char* old = std::getenv(name);
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        }
    }
    ~EnvGuard() {
        for (const auto& [name, old] : m_saved)
            setEnv(name.c_str(), old);
    }
    static void setEnv(const char* name, const std::optional<std::string>& value) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// Whole file as bytes / text; empty on failure.
std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace kvtest

#define KV_TEST_CHILD_CONCAT2(a, b) a##b
#define KV_TEST_CHILD_CONCAT(a, b) KV_TEST_CHILD_CONCAT2(a, b)
// Defines a routine `name` for spawnChild: KV_TEST_CHILD(writer) { ...; return 0; }
#define KV_TEST_CHILD(name)                                                 \
    static int kvChildRoutine_##name(const std::vector<std::string>& args); \
    static const bool KV_TEST_CHILD_CONCAT(kvChildRegistered_, name) =      \
        ::kvtest::registerChild(#name, kvChildRoutine_##name);              \
    static int kvChildRoutine_##name([[maybe_unused]] const std::vector<std::string>& args)
