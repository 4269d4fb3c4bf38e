#pragma once
// The skin package a window is built from: markup, language files and images in one ZIP
// archive. Names are looked up as the archive does (ASCII case ignored, "/" and "\" alike).
//
// Threads: every method may be called from any thread; reads are serialised inside (the
// archive keeps reading state). Windows share one package through shared_ptr.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/ZipArchive.h"

namespace ui {

class SkinPackage {
public:
    // Null with `error` set when the bytes are not a readable ZIP archive.
    static std::shared_ptr<SkinPackage> Open(std::vector<uint8_t> zipBytes,
                                             std::string* error = nullptr);
    explicit SkinPackage(std::unique_ptr<ZipArchive> archive);

    bool Contains(std::string_view name) const;
    // Reads an entry of at most `maxBytes`; false with `error` set when it is missing or corrupt.
    bool Read(std::string_view name, std::vector<uint8_t>& out, std::string* error = nullptr,
              uint64_t maxBytes = kMaxEntryBytes) const;
    std::optional<std::string> ReadText(std::string_view name, std::string* error = nullptr) const;
    // `name` as given when the package has it, else `folder` + `name`, else nullopt.
    std::optional<std::string> Resolve(std::string_view name, std::string_view folder) const;

    // The package windows use when none was given to them (the program's ZIPRES 138).
    static void SetDefault(std::shared_ptr<SkinPackage> package);
    static std::shared_ptr<SkinPackage> Default();

    static constexpr uint64_t kMaxEntryBytes = 64ull << 20;

private:
    mutable std::mutex m_mutex;
    std::unique_ptr<ZipArchive> m_archive;
};

}  // namespace ui
