// KestrovaEditor.exe: the application the demo setup installs. It prints its name and version,
// says that it is the installer's demo product and what it finds of its sample library, and
// appends one line per start to started.log beside its own executable, so a test can see
// that (and how) the installer started it. Exit status 0, or 1 when the line cannot be written.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "Product.h"

namespace {

namespace fs = std::filesystem;

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// Every argument in brackets, so empty ones and surrounding blanks stay visible.
std::string startLine(int argc, char** argv) {
    std::string line = timestamp() + " pid " + std::to_string(::getpid()) + " started with " +
                       std::to_string(argc - 1) + " arguments:";
    for (int i = 1; i < argc; ++i)
        line += std::string(" [") + argv[i] + "]";
    return line + "\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::cout << demo::kProductName << " " << demo::kProductVersion << std::endl;

    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        std::cerr << demo::kApplicationFile << ": cannot find its own folder: " << ec.message()
                  << "\n";
        return 1;
    }
    std::cout << "The demo product of kvdownloader, by " << demo::kPublisher << ", installed in "
              << self.parent_path().string() << std::endl;
    const uintmax_t library = fs::file_size(self.parent_path() / demo::kDataFile, ec);
    if (!ec)
        std::cout << "Sample library " << demo::kDataFile << ": " << library / (1024 * 1024)
                  << " MiB" << std::endl;
    const fs::path log = self.parent_path() / demo::kStartedLogFile;
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::cerr << demo::kApplicationFile << ": cannot open " << log.string() << ": "
                  << std::strerror(errno) << "\n";
        return 1;
    }
    // One write on an O_APPEND descriptor: lines of starts at the same time never interleave.
    const std::string line = startLine(argc, argv);
    const ssize_t written = ::write(fd, line.data(), line.size());
    const int writeError = errno;
    ::close(fd);
    if (written != static_cast<ssize_t>(line.size())) {
        std::cerr << demo::kApplicationFile << ": cannot write " << log.string() << ": "
                  << std::strerror(writeError) << "\n";
        return 1;
    }
    return 0;
}
