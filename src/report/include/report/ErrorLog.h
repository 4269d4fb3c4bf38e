#pragma once
// The reporting library's own error log: "Logs/.log" (an empty base name) in the folder of
// the program that hosts the library. Each line starts with the local time
// "[year/month/day-hour:minute:second] "; the message brings its own line feed. The folder is
// not created: without it nothing is written, which is how a host opts out of the file.
//
// Any thread may log; lines of concurrent callers never interleave.

#include <filesystem>
#include <mutex>

namespace weblog {

class ErrorLog {
public:
    // `programDirectory`: where "Logs" lies. The path is fixed here, once.
    explicit ErrorLog(const std::filesystem::path& programDirectory);

    // printf-style; the text is cut at 4 KiB.
    void logError(const char* format, ...) __attribute__((format(printf, 2, 3)));

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
    std::mutex m_mutex;
};

}  // namespace weblog
