#pragma once
// Resources of an executable, the way a Windows program carries them: entries keyed by
// (type, id) in a table appended to the end of the ELF file, which the loader ignores.
//
// Table layout (all integers little-endian), ending at the end of the file:
//   data of every entry, back to back
//   directory: per entry  u16 type length | type bytes | u32 id | u64 offset | u64 size
//              (offset counted from the start of the table)
//   trailer (32 bytes):   8-byte magic "KVRSRC\r\n" | u32 format version (1) | u32 entry count |
//                         u64 table size (data + directory + trailer) | u32 directory size |
//                         u32 CRC-32 of data + directory
// A missing, truncated or corrupt table reads as "no resources": every field is bounds-checked
// before use and the CRC must match.
//
// Reading functions are pure or read-only and may be called from any thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct ResourceEntry {
    std::string type;  // "ZIPRES", "VERSION", "ICON", ...: 1..64 printable ASCII characters
    uint32_t id = 0;
    std::vector<uint8_t> data;
};

class ResourceTable {
public:
    ResourceTable() = default;
    explicit ResourceTable(std::vector<ResourceEntry> entries) : m_entries(std::move(entries)) {}

    const std::vector<ResourceEntry>& entries() const { return m_entries; }
    bool empty() const { return m_entries.empty(); }

    // The entry of that type (exact, case-sensitive like the markup names it) and id, or null.
    const ResourceEntry* find(std::string_view type, uint32_t id) const;

    // Adds the entry or replaces the data of an existing one with the same key.
    void put(std::string_view type, uint32_t id, std::vector<uint8_t> data);
    bool remove(std::string_view type, uint32_t id);

private:
    std::vector<ResourceEntry> m_entries;
};

inline constexpr size_t kResourceTrailerSize = 32;

// Parses a table that ends exactly at the end of `fileTail` (the tail of a file, or the whole
// file). nullopt when there is no valid table.
std::optional<ResourceTable> parseResourceTable(std::span<const uint8_t> fileTail);

// Size in bytes of the valid table at the end of `fileTail`, 0 when there is none.
uint64_t resourceTableSize(std::span<const uint8_t> fileTail);

// The serialised table, ready to append to a program file. Empty for an empty table.
std::vector<uint8_t> serializeResourceTable(const ResourceTable& table);

// Resources of the file at `path`; an empty table when it has none or cannot be read.
ResourceTable readResources(const std::filesystem::path& path);

// Resources of the running program (/proc/self/exe).
ResourceTable readOwnResources();

// Rewrites `path` so that its table holds `table` (an existing valid table is replaced, the
// program bytes before it are kept). Written to a temporary file beside it and renamed over it,
// so a failure never leaves a half-written program; the file mode is kept.
bool writeResources(const std::filesystem::path& path, const ResourceTable& table,
                    std::string* error = nullptr);

}  // namespace platform
