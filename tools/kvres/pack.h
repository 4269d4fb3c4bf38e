#pragma once
// Packs a folder into a ZIP archive: the skin package of the installer.

#include <filesystem>
#include <string>
#include <vector>

namespace kvres {

// Every regular file below `folder`, stored under its relative path with "/" separators,
// in name order and with one fixed time stamp, so the same folder always gives the same bytes.
// Written to a temporary file and renamed over `out`. False with `error` set on failure.
bool packFolder(const std::filesystem::path& folder, const std::filesystem::path& out,
                std::string* error);

// The same for several folders laid over one another (markup from the source tree, pictures
// drawn by the build); a path that two folders both hold is an error.
bool packFolders(const std::vector<std::filesystem::path>& folders,
                 const std::filesystem::path& out, std::string* error);

}  // namespace kvres
