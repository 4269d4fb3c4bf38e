#pragma once
// A ZIP archive held in memory: the skin package the program carries as a resource.
// Entry names match without regard to ASCII letter case, with "/" and "\" alike, so markup may
// write "skin\btn_Start_now.png" for the stored "skin/btn_start_now.png".
//
// The archive owns a copy of its bytes. It is not thread-safe: use one object per thread or
// guard it (reading moves libzip's internal state).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct zip;
struct zip_source;

namespace ui {

class ZipArchive {
public:
    // Opens the archive; null with `error` set when the bytes are not a readable ZIP archive.
    static std::unique_ptr<ZipArchive> OpenFromMemory(std::vector<uint8_t> bytes,
                                                      std::string* error = nullptr);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // "skin\Combo_over.png" → "skin/combo_over.png": the form names are compared in.
    static std::string NormalizeName(std::string_view name);

    bool Contains(std::string_view name) const { return FindEntry(name).has_value(); }
    // The archive's index of the entry, nullopt when there is no such file entry.
    std::optional<uint64_t> FindEntry(std::string_view name) const;

    // Unpacks the whole entry; false with `error` set when it is missing, larger than
    // `maxBytes`, or corrupt (bad compressed data or CRC).
    bool Unzip(std::string_view name, std::vector<uint8_t>& out, std::string* error = nullptr,
               uint64_t maxBytes = kDefaultMaxEntryBytes) const;
    std::optional<std::string> UnzipText(std::string_view name, std::string* error = nullptr) const;

    // Names of the file entries as stored, in archive order.
    const std::vector<std::string>& EntryNames() const { return m_names; }

    static constexpr uint64_t kDefaultMaxEntryBytes = 256ull << 20;

private:
    ZipArchive() = default;

    std::vector<uint8_t> m_bytes;
    zip* m_zip = nullptr;
    std::vector<std::string> m_names;
    std::unordered_map<std::string, uint64_t> m_index;  // normalised name → entry index
};

}  // namespace ui
