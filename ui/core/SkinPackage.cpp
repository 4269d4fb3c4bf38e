#include "ui/SkinPackage.h"

namespace ui {
namespace {

std::mutex g_defaultMutex;
std::shared_ptr<SkinPackage> g_default;

}  // namespace

std::shared_ptr<SkinPackage> SkinPackage::Open(std::vector<uint8_t> zipBytes, std::string* error) {
    auto archive = ZipArchive::OpenFromMemory(std::move(zipBytes), error);
    if (!archive)
        return nullptr;
    return std::make_shared<SkinPackage>(std::move(archive));
}

SkinPackage::SkinPackage(std::unique_ptr<ZipArchive> archive) : m_archive(std::move(archive)) {}

bool SkinPackage::Contains(std::string_view name) const {
    std::lock_guard lock(m_mutex);
    return m_archive && m_archive->Contains(name);
}

bool SkinPackage::Read(std::string_view name, std::vector<uint8_t>& out, std::string* error,
                       uint64_t maxBytes) const {
    std::lock_guard lock(m_mutex);
    if (!m_archive) {
        if (error)
            *error = "no skin package";
        return false;
    }
    return m_archive->Unzip(name, out, error, maxBytes);
}

std::optional<std::string> SkinPackage::ReadText(std::string_view name, std::string* error) const {
    std::vector<uint8_t> bytes;
    if (!Read(name, bytes, error))
        return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

std::optional<std::string> SkinPackage::Resolve(std::string_view name,
                                                std::string_view folder) const {
    if (name.empty())
        return std::nullopt;
    if (Contains(name))
        return std::string(name);
    if (!folder.empty()) {
        std::string joined(folder);
        if (joined.back() != '/' && joined.back() != '\\')
            joined += '/';
        joined += name;
        if (Contains(joined))
            return joined;
    }
    return std::nullopt;
}

void SkinPackage::SetDefault(std::shared_ptr<SkinPackage> package) {
    std::lock_guard lock(g_defaultMutex);
    g_default = std::move(package);
}

std::shared_ptr<SkinPackage> SkinPackage::Default() {
    std::lock_guard lock(g_defaultMutex);
    return g_default;
}

}  // namespace ui
