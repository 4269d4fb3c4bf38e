#include "platform/FileIo.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

bool writeAll(int fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace platform
