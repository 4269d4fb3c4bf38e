#pragma once
// Opening a URL or a file with the user's preferred application, and showing a file in its
// folder, in place of ShellExecute.
//
// The opener is xdg-open, or `gio open` when xdg-open is not installed; $KV_OPENER, when set
// and not empty, names the program to use instead (tests point it at a script). The target
// reaches the opener as exactly one argument, never through a shell, so blanks, semicolons
// and other shell characters in it are harmless.
//
// The call waits at most kOpenerWaitMs for the opener: an opener that fails at once (bad
// target, no handler) gives false; one still running then is left to run and counts as
// success. Every false is logged with its reason.
//
// Threads: any thread may call these; they read $KV_OPENER and $PATH, which must not race a
// setenv/unsetenv on another thread.

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace platform {

inline constexpr uint32_t kOpenerWaitMs = 2000;

// Opens `url` (for example "https://..."). Refused: an empty URL, one starting with "-" (it
// would read as an option) and one holding a double quote or a NUL.
bool openUrl(std::string_view url);

// Opens an existing file or folder. Relative paths count from the current folder. Refused: a
// path that does not exist, and one holding a double quote (the command-line rules of the
// process layer cannot carry it).
bool openFile(const std::filesystem::path& path);

// Opens the folder that holds `path` (the file itself need not exist; its folder must).
bool revealFile(const std::filesystem::path& path);

}  // namespace platform
