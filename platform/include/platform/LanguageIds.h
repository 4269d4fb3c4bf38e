#pragma once
// Windows language identifiers (LANGID) and the POSIX locale names they stand for.
//
// The installer reasons in LANGIDs (its start-up language table, the UI language name in usage
// reports); the machine tells us a POSIX locale. These two constant tables translate between
// them. Everything here is pure and constant: callable from any thread, no system calls, and
// every returned `const char*` points at a static literal that lives as long as the program.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

inline constexpr uint16_t kLanguageIdEnglishUs = 0x0409;  // 1033

struct LanguageIdEntry {
    uint16_t id;
    // "ll_TT" or "ll_TT@modifier" ("sr_RS@latin"); null for an id no POSIX locale names
    // (English_Caribbean, whose Windows name "en-029" has no POSIX form).
    const char* locale;
};

struct LanguageNameEntry {
    uint16_t id;
    const char* name;  // "Language_Country", e.g. "Spanish_Spain (International sort)"
};

// Every known id with its locale. Several ids may share one locale (Spanish traditional and
// international sort are both es_ES); the row that comes first for a locale is the one
// languageIdFromLocale answers with, and the first row of a language is its primary row.
std::span<const LanguageIdEntry> languageIdTable();

// The names Windows reports for its UI languages, one per id, sorted by name.
std::span<const LanguageNameEntry> languageNameTable();

// The LANGID of a locale name "ll[_TT][.codeset][@modifier]" ('-' is accepted for '_', case
// does not matter). Lookup order: language, territory and modifier; language and territory
// (so "@euro" falls away); language and modifier; then the language's primary row ("de" and
// "de_BE" → 1031). When a locale is shared the modern id wins: "es_ES" → 3082, not 1034.
// 0 for a malformed name or a language without a Windows id. "C" and "POSIX" are not
// languages and give 0 here; choosing English for them is the caller's decision.
uint16_t languageIdFromLocale(std::string_view locale);

// "ll_TT" or "ll_TT@modifier" of an id: 3082 → "es_ES"; "" for an unknown id or one without
// a POSIX locale.
std::string localeFromLanguageId(uint16_t id);

// The Windows UI language name of an id (1033 → "English_United States"), null when the id is
// not in the name table. 0 ("Neutral") and 1024 ("Default") are not in it.
const char* windowsLanguageName(uint16_t id);

}  // namespace platform
