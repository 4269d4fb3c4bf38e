#pragma once
// Shared helpers for the test programs: temporary folders, and child processes that run a
// named routine of the same test binary (for tests that need a second real process).

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
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

// Whole file as bytes / text; empty on failure.
std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace kvtest

#define KV_TEST_CHILD_CONCAT2(a, b) a##b
#define KV_TEST_CHILD_CONCAT(a, b) KV_TEST_CHILD_CONCAT2(a, b)
// Defines a routine `name` for spawnChild: KV_TEST_CHILD(writer) { ...; return 0; }
#define KV_TEST_CHILD(name)                                                        \
    static int kvChildRoutine_##name(const std::vector<std::string>& args);         \
    static const bool KV_TEST_CHILD_CONCAT(kvChildRegistered_, name) =             \
        ::kvtest::registerChild(#name, kvChildRoutine_##name);                      \
    static int kvChildRoutine_##name([[maybe_unused]] const std::vector<std::string>& args)
