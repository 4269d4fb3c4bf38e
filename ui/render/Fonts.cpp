#include "ui/Fonts.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include "Logging.h"

namespace ui {
namespace {

struct Alias {
    const char* name;
    std::vector<const char*> prefer;
};

// Windows font names a skin may use → the installed families that stand in for them.
const std::vector<Alias>& aliasTable() {
    static const std::vector<Alias> table = {
        {"Microsoft YaHei", {"Noto Sans CJK SC"}},
        {"\xE5\xBE\xAE\xE8\xBD\xAF\xE9\x9B\x85\xE9\xBB\x91", {"Noto Sans CJK SC"}},  // 微软雅黑
        {"Microsoft JhengHei", {"Noto Sans CJK TC"}},
        {"SimSun", {"Noto Serif CJK SC"}},
        {"\xE5\xAE\x8B\xE4\xBD\x93", {"Noto Serif CJK SC"}},  // 宋体
        {"Meiryo UI", {"Noto Sans CJK JP"}},
        {"Meiryo", {"Noto Sans CJK JP"}},
        {"MS UI Gothic", {"Noto Sans CJK JP"}},
        {"batang", {"Noto Serif CJK KR"}},
        {"Malgun Gothic", {"Noto Sans CJK KR"}},
        {"Times New Roman", {"Liberation Serif"}},
        {"Arial", {"Liberation Sans"}},
        {"Tahoma", {"Liberation Sans"}},
        {"Verdana", {"DejaVu Sans"}},
        {"Segoe UI", {"Noto Sans"}},
        {"Courier New", {"Liberation Mono"}},
    };
    return table;
}

// After the stand-in: one font per script of the twenty interface languages, so fallback
// never depends on what else happens to be installed.
const std::vector<const char*>& coverageTail() {
    static const std::vector<const char*> tail = {
        "Noto Sans",        "Noto Sans Arabic", "Noto Sans Devanagari",
        "Noto Sans Thai",   "Noto Sans CJK SC", "Noto Sans CJK JP",
        "Noto Sans CJK KR", "Noto Sans CJK TC", "DejaVu Sans",
    };
    return tail;
}

std::string escapeXml(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string FontSystem::AliasConfig() {
    std::string xml =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n";
    for (const Alias& alias : aliasTable()) {
        // Strong binding: the stand-in must win over fonts fontconfig would pick by language.
        xml += "  <alias binding=\"strong\">\n    <family>" + escapeXml(alias.name) +
               "</family>\n    <prefer>\n";
        for (const char* family : alias.prefer)
            xml += "      <family>" + escapeXml(family) + "</family>\n";
        for (const char* family : coverageTail())
            xml += "      <family>" + escapeXml(family) + "</family>\n";
        xml += "    </prefer>\n  </alias>\n";
    }
    // Names the table does not know still fall back to full coverage.
    xml += "  <alias binding=\"weak\">\n    <family>sans-serif</family>\n    <prefer>\n";
    for (const char* family : coverageTail())
        xml += "      <family>" + escapeXml(family) + "</family>\n";
    xml += "    </prefer>\n  </alias>\n</fontconfig>\n";
    return xml;
}

FontSystem& FontSystem::Instance() {
    // Never destroyed: Pango keeps fontconfig objects alive past static destruction.
    static FontSystem* instance = new FontSystem();
    return *instance;
}

FontSystem::FontSystem() {
    m_config = FcInitLoadConfigAndFonts();
    if (!m_config) {
        LOG(INFO) << " Fontconfig could not load its configuration; text uses built-in defaults";
        m_config = FcConfigCreate();
    }
    const std::string aliases = AliasConfig();
    if (!FcConfigParseAndLoadFromMemory(m_config, reinterpret_cast<const FcChar8*>(aliases.c_str()),
                                        FcTrue))
        LOG(INFO) << " Fontconfig rejected the skin font aliases; Windows font names fall back to "
                     "defaults";
    // Native widgets of the GTK host (the overlaid entry, dialogs) resolve the same names.
    FcConfigSetCurrent(m_config);

    m_fontMap = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
    if (!m_fontMap)
        m_fontMap = pango_cairo_font_map_new();
    if (PANGO_IS_FC_FONT_MAP(m_fontMap))
        pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(m_fontMap), m_config);
    pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(m_fontMap), 96.0);
    m_context = pango_font_map_create_context(m_fontMap);

    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(m_context, options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(m_context, 96.0);
}

std::string FontSystem::ResolveFamily(std::string_view family) {
    std::lock_guard lock(m_mutex);
    FcPattern* pattern = FcPatternCreate();
    const std::string name(family);
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcConfigSubstitute(m_config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(m_config, pattern, &result);
    std::string resolved;
    FcChar8* value = nullptr;
    if (match && FcPatternGetString(match, FC_FAMILY, 0, &value) == FcResultMatch)
        resolved = reinterpret_cast<const char*>(value);
    if (match)
        FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return resolved;
}

}  // namespace ui
