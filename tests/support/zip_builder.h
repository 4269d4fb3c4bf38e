#pragma once
// Builds ZIP archives in memory with libzip itself, so readers are tested against the real
// format rather than hand-made bytes. Names ending in "/" become folder entries.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kvtest {

std::vector<uint8_t> makeZip(const std::map<std::string, std::string>& files, bool compress = true);

}  // namespace kvtest
