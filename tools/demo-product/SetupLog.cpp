#include "SetupLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace demo {

SetupLog::~SetupLog() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SetupLog::open(const std::filesystem::path& path, std::string& error) {
    // Never through a link, and never a file that is also known by another name: a setup that
    // runs as root would otherwise empty whatever someone pointed the name at.
    const int fd = ::open(
        path.c_str(),
        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        error = "cannot create the log file " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        ::ftruncate(fd, 0) != 0) {
        error = "the log file " + path.string() + " is not a plain file of its own";
        ::close(fd);
        return false;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    return true;
}

void SetupLog::line(std::string_view text) {
    if (m_fd < 0)
        return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    const size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + length, sizeof stamp - length, ".%03d   ", static_cast<int>(ms.count()));
    std::string record = stamp;
    record.append(text);
    record += '\n';
    size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = ::write(m_fd, record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace demo
