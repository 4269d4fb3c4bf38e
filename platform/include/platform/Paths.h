#pragma once
// The folders the installer writes to (temp, desktop, program files) and the few file-system
// calls it needs, in place of the Windows special-folder and disk functions.
//
// Threads: any thread may call these. Those that read the environment ($TMPDIR, $HOME,
// $XDG_CONFIG_HOME) must not race a setenv/unsetenv on another thread; the program sets its
// environment only at start-up. Nothing here throws: failures are logged with the path and
// the reason, then give an empty path, false, nullopt or -1. Returned paths are values; no
// folder is created unless the function says so.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace platform {

// The user's temporary folder, as Windows keeps one per user: $TMPDIR when it is an absolute
// path to an existing folder; else a private folder of the user's (made 0700 when missing,
// through privateFolder()): "kvtemp" under $XDG_RUNTIME_DIR when that is an absolute folder,
// else under ~/.cache. Never the shared /tmp itself: names there can be planted by anyone.
// Empty (logged) when no private folder can be had.
std::filesystem::path tempDirectory();

// A folder nobody but the effective user can change: a real folder (not a link), owned by the
// effective user, writable by no one else. A missing `folder` is made (mode 0700, parents as
// needed). One that fails the check is not used and never entered: a fresh sibling
// "<name>.XXXXXX" is made in its place (mkdtemp). The answer for a path is kept for the life of
// the process, so every caller of the same path gets the same folder. Empty (logged) when
// neither works.
std::filesystem::path privateFolder(const std::filesystem::path& folder);

// Whether `folder` passes privateFolder()'s check as it stands (nothing is made).
bool isPrivateFolder(const std::filesystem::path& folder);

// $HOME when it is absolute, else the home folder of the effective user's passwd entry;
// empty when neither is known.
std::filesystem::path homeDirectory();

// The user's desktop folder: XDG_DESKTOP_DIR of $XDG_CONFIG_HOME/user-dirs.dirs (default
// ~/.config/user-dirs.dirs), else ~/Desktop. The folder need not exist. Empty when the home
// folder is unknown.
std::filesystem::path desktopDirectory();

// The value of `key` ("XDG_DESKTOP_DIR") in user-dirs.dirs text, with a leading "$HOME"
// replaced by `home`. The file allows only "$HOME/..." or an absolute path, in double quotes;
// other values are logged and ignored. The last valid assignment wins. Pure.
std::optional<std::filesystem::path> parseUserDirsEntry(std::string_view text, std::string_view key,
                                                        const std::filesystem::path& home);

// Where products are installed: /opt for the superuser (effective uid 0), else ~/.local/opt.
// Empty when the home folder is unknown. KV_PROGRAM_FILES_DIR, when it is an absolute path,
// takes the place of both, so tests and demos that run as root install into a folder of their
// own.
std::filesystem::path programFilesDirectory();

// Absolute and normalised, with symbolic links resolved in the part of the path that exists
// (the rest is normalised lexically). Empty for an empty path; the lexically normalised input
// when even that fails.
std::filesystem::path longPath(const std::filesystem::path& path);

// Creates the folder and any missing parents. True when the folder exists afterwards,
// including when it already did; false (logged) otherwise, for example when a part of the
// path is a regular file.
bool createDirectories(const std::filesystem::path& path);

// Bytes available to an unprivileged user on the file system holding `path` (statvfs
// f_bavail x f_frsize). A path that does not exist yet is measured at its nearest existing
// ancestor, so an install folder can be checked before it is created. nullopt on failure.
std::optional<uint64_t> freeBytes(const std::filesystem::path& path);

// Size in bytes of a regular file (links followed), full 64-bit range; -1 when it is missing,
// not a regular file or cannot be examined.
int64_t fileSize64(const std::filesystem::path& path);

}  // namespace platform
