#include "ui/ImageCache.h"

#include <cstdio>

#include "Logging.h"
#include "ui/Attributes.h"

namespace ui {

std::string ImageCache::key(std::string_view name) {
    return ZipArchive::NormalizeName(name);
}

void ImageCache::SetSkin(std::shared_ptr<SkinPackage> skin, std::string folder) {
    m_skin = std::move(skin);
    m_folder = std::move(folder);
    Clear();
}

std::shared_ptr<const Image> ImageCache::Get(std::string_view name, std::optional<uint32_t> mask) {
    if (name.empty())
        return nullptr;
    const std::string k = key(name);
    auto it = m_images.find(k);
    if (it == m_images.end()) {
        // Names that reach one file ("a.png" below the folder, "skin\a.png") share its entry.
        auto resolved = m_skin ? m_skin->Resolve(name, m_folder) : std::nullopt;
        const std::string fileKey = resolved ? key(*resolved) : k;
        auto loaded = m_images.find(fileKey);
        if (loaded == m_images.end()) {
            std::shared_ptr<const Image> image;
            std::string error;
            if (!resolved) {
                LogOnce("image-missing:" + k,
                        "Image not found in the skin package: " + std::string(name));
            } else {
                std::vector<uint8_t> bytes;
                if (!m_skin->Read(*resolved, bytes, &error))
                    LogOnce("image-read:" + k,
                            "Image cannot be read: " + std::string(name) + ": " + error);
                else if (!(image = DecodeImage(bytes.data(), bytes.size(), &error)))
                    LogOnce("image-decode:" + k,
                            "Image cannot be decoded: " + std::string(name) + ": " + error);
            }
            loaded = m_images.emplace(fileKey, std::move(image)).first;
        }
        it = fileKey == k ? loaded : m_images.emplace(k, loaded->second).first;
    }
    if (!it->second || !mask)
        return it->second;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "#%08X", *mask);
    auto& masked = m_masked[k + suffix];
    if (!masked)
        masked = it->second->WithColorKey(*mask & 0xFFFFFF);
    return masked;
}

void ImageCache::Add(std::string_view name, std::shared_ptr<const Image> image) {
    const std::string k = key(name);
    for (auto it = m_masked.lower_bound(k + "#");
         it != m_masked.end() && it->first.rfind(k + "#", 0) == 0;)
        it = m_masked.erase(it);
    if (!image) {
        m_images.erase(k);
        return;
    }
    m_images[k] = std::move(image);
}

bool ImageCache::Remove(std::string_view name) {
    const bool had = Has(name);
    Add(name, nullptr);
    return had;
}

bool ImageCache::Has(std::string_view name) const {
    auto it = m_images.find(key(name));
    return it != m_images.end() && it->second;
}

void ImageCache::Clear() {
    m_images.clear();
    m_masked.clear();
}

}  // namespace ui
