#pragma once
// A window's pictures by name. A name is a path in the skin package (looked up as the package
// does, so "skin\Combo_over.png" and "skin/combo_over.png" are one entry) or a name the window
// chose for a picture it rendered itself ("FirstFrame"); added pictures shadow package files.
//
// A picture that is missing or does not decode is reported once in the log and then remembered
// as missing, so painting never retries it every frame. UI thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ui/Image.h"
#include "ui/SkinPackage.h"

namespace ui {

class ImageCache {
public:
    ImageCache() = default;
    void SetSkin(std::shared_ptr<SkinPackage> skin, std::string folder);

    // The picture, loaded on first use; with `mask`, a copy whose pixels of that colour are
    // transparent. Null when it cannot be had.
    std::shared_ptr<const Image> Get(std::string_view name,
                                     std::optional<uint32_t> mask = std::nullopt);
    // Adds or replaces a picture under `name`; a null image removes the name.
    void Add(std::string_view name, std::shared_ptr<const Image> image);
    bool Remove(std::string_view name);
    bool Has(std::string_view name) const;
    size_t Count() const { return m_images.size(); }
    void Clear();

private:
    static std::string key(std::string_view name);

    std::shared_ptr<SkinPackage> m_skin;
    std::string m_folder;
    std::map<std::string, std::shared_ptr<const Image>> m_images;  // null value: known missing
    std::map<std::string, std::shared_ptr<const Image>> m_masked;  // key + "#" + mask
};

}  // namespace ui
