#pragma once
// The setup's log file (/LOG=): one line per step, each written through to the file at once so
// that a reader sees the progress of a setup that is still running or was killed.
//
// One thread only (the setup has no other).

#include <filesystem>
#include <string>
#include <string_view>

namespace demo {

class SetupLog {
public:
    SetupLog() = default;
    ~SetupLog();
    SetupLog(const SetupLog&) = delete;
    SetupLog& operator=(const SetupLog&) = delete;

    // Creates or empties `path` (its folder must exist). False, with the reason in `error`,
    // when it cannot be opened; lines then go nowhere.
    bool open(const std::filesystem::path& path, std::string& error);
    bool isOpen() const { return m_fd >= 0; }

    // "YYYY-mm-dd HH:MM:SS.mmm   text"; a failed write is not retried.
    void line(std::string_view text);

private:
    int m_fd = -1;
};

}  // namespace demo
