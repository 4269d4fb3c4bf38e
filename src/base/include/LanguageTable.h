#pragma once
// The twenty interface languages as constant data, indexed by the window's languageIndex, and
// the start-up table that maps the user's UI language id to a country text and an index.
// Everything here is pure and constant: any thread, no system calls; every `const char*`
// points at a static literal.

#include <cstdint>
#include <span>
#include <string>

inline constexpr int kLanguageCount = 20;
inline constexpr int kLanguageEnglish = 0;
inline constexpr int kLanguageChinese = 2;

// The licence panel gets the row's height plus this fixed addition.
inline constexpr int kLicenseHeightAddition = 170;
// Chinese on a China distribution site carries the longer licence.
inline constexpr int kLicenseHeightChinaSite = 1900;
// The height of an index outside the table.
inline constexpr int kLicenseHeightDefault = 1765;

struct LanguageRow {
    const char* name;            // English name, label of "Other"/"SetLanguage": "English"
    const char* eventLabel;      // label of "LanguageSetting": "ChangeLanguageToEnglish"
    const char* fileName;        // in the skin package's folder "language\": "language_english.xml"
    const char* licenseControl;  // rich edit holding the licence text: "license_english"
    int licenseHeight;           // licence panel height before kLicenseHeightAddition
    const char* slideFont;       // font family of the slide captions
};

// The rows 0..19 in index order.
std::span<const LanguageRow> LanguageRows();

// The row of `index`; outside 0..19 a row named "English" with height 1765, the slide font
// "Microsoft YaHei" and empty label, file and control (so no file or control is found).
const LanguageRow& LanguageRowFor(int index);

// One of the distribution sites 54, 93, 118, 127, 133, 290 that are served from China.
bool IsChinaSiteId(int siteId);

// Licence panel height of `index` before the fixed addition: the row's height, except Chinese
// on a China site (1900).
int LicenseHeight(int index, int siteId);

struct StartupLanguageRow {
    uint16_t languageId;  // Windows LANGID, e.g. 3082
    const char* country;  // reported as the label of "DownloaderInfo00"/"Country"
    int index;            // languageIndex
};

// Every id the start-up choice knows, grouped by language index.
std::span<const StartupLanguageRow> StartupLanguageRows();

struct StartupLanguage {
    std::string country;
    int index = kLanguageEnglish;

    bool operator==(const StartupLanguage&) const = default;
};

// The country text and language index of a UI language id; an id outside the table gives
// English and "Unknown--" followed by the id in decimal.
StartupLanguage StartupLanguageFor(uint32_t languageId);
