#pragma once
// Fonts as the skin names them, and the process-wide font set that draws them.
//
// Skins name Windows fonts ("Microsoft YaHei", "Meiryo UI", "batang", "Times New Roman"). The
// font system loads fontconfig with aliases that map each of them to an installed family,
// followed by fonts that cover the scripts of all twenty interface languages, so any text in
// any of those fonts finds its glyphs (Arabic, Devanagari, Thai, CJK, Cyrillic, Latin).
//
// Rendering options are fixed in code (grey antialiasing, slight hinting, whole-pixel metrics,
// 96 dpi) so a frame rendered headless equals a screenshot of the same window.
//
// Threads: Instance() may be called from any thread; Pango objects are not thread-safe, so
// every use of the font map and context happens under Mutex() (TextLayout does this).

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct _PangoFontMap;
struct _PangoContext;
struct _FcConfig;

namespace ui {

// One entry of a window's font list. `size` is the em height in pixels.
struct FontDesc {
    std::string family = "Microsoft YaHei";
    int size = 12;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool operator==(const FontDesc&) const = default;
};

class FontSystem {
public:
    static FontSystem& Instance();

    // The installed family that fontconfig picks first for a skin font name.
    std::string ResolveFamily(std::string_view family);

    // The fontconfig document with the skin font aliases that Instance() loads.
    static std::string AliasConfig();

    _PangoFontMap* FontMap() const { return m_fontMap; }
    _PangoContext* Context() const { return m_context; }
    _FcConfig* Config() const { return m_config; }
    std::recursive_mutex& Mutex() { return m_mutex; }

    FontSystem(const FontSystem&) = delete;
    FontSystem& operator=(const FontSystem&) = delete;

private:
    FontSystem();
    ~FontSystem() = default;  // lives until the process ends; fontconfig state is shared

    std::recursive_mutex m_mutex;
    _FcConfig* m_config = nullptr;
    _PangoFontMap* m_fontMap = nullptr;
    _PangoContext* m_context = nullptr;
};

}  // namespace ui
