#pragma once
// Small file-descriptor helpers the platform layer and its tools share.

#include <cstdint>
#include <filesystem>
#include <span>

namespace platform {

// Writes every byte, going on after short writes and EINTR. False on an error or when the
// file takes no more (a full disk): the caller must not treat the file as complete.
bool writeAll(int fd, std::span<const uint8_t> bytes);

// Opens `path` for writing at its end without following a link (O_NOFOLLOW) and closed on
// exec. With `createNew` the file must not exist yet (O_EXCL: nothing planted is reused);
// otherwise it is created with `mode` when missing. Only a regular file is accepted. The
// descriptor belongs to the caller; -1 with errno set on failure.
int openForAppend(const std::filesystem::path& path, bool createNew, int mode = 0600);

}  // namespace platform
