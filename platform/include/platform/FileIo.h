#pragma once
// Small file-descriptor helpers the platform layer and its tools share.

#include <cstdint>
#include <span>

namespace platform {

// Writes every byte, going on after short writes and EINTR. False on an error or when the
// file takes no more (a full disk): the caller must not treat the file as complete.
bool writeAll(int fd, std::span<const uint8_t> bytes);

}  // namespace platform
