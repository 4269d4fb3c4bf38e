#include "report/ErrorLog.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/FileIo.h"

namespace weblog {

ErrorLog::ErrorLog(const std::filesystem::path& programDirectory)
    : m_path(programDirectory / "Logs" / ".log") {}

void ErrorLog::logError(const char* format, ...) {
    char message[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::lock_guard<std::mutex> lock(m_mutex);
    // The folder lies beside the program, maybe in someone else's reach: never through a link.
    const int fd = platform::openForAppend(m_path, false, 0644);
    if (fd < 0)
        return;
    std::FILE* file = ::fdopen(fd, "a");
    if (!file) {
        ::close(fd);
        return;
    }
    std::fprintf(file, "[%u/%u/%u-%u:%u:%u] ", static_cast<unsigned>(local.tm_year + 1900),
                 static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday),
                 static_cast<unsigned>(local.tm_hour), static_cast<unsigned>(local.tm_min),
                 static_cast<unsigned>(local.tm_sec));
    std::fputs(message, file);
    std::fclose(file);
}

}  // namespace weblog
