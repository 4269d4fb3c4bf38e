#include "LanguageTable.h"

#include <algorithm>

namespace {

constexpr LanguageRow kRows[kLanguageCount] = {
    {"English", "ChangeLanguageToEnglish", "language_english.xml", "license_english", 1370,
     "Microsoft YaHei"},
    {"Japanese", "ChangeLanguageToJapanese", "language_japanese.xml", "license_japanese", 1320,
     "Meiryo UI"},
    {"Chinese", "ChangeLanguageToChinese", "language_chinese.xml", "license_chinese", 1095,
     "Microsoft YaHei"},
    {"Spanish", "ChangeLanguageToSpanish", "language_spanish.xml", "license_spanish", 1440,
     "Times New Roman"},
    {"German", "ChangeLanguageToGerman", "language_german.xml", "license_german", 1485,
     "Times New Roman"},
    {"French", "ChangeLanguageToFrench", "language_french.xml", "license_french", 1410,
     "Times New Roman"},
    {"Russian", "ChangeLanguageToRussian", "language_russian.xml", "license_russian", 1445,
     "Times New Roman"},
    {"Portuguese", "ChangeLanguageToPortuguese", "language_portuguese.xml", "license_portuguese",
     1295, "Times New Roman"},
    {"Arabic", "ChangeLanguageToArabic", "language_arabic.xml", "license_arabic", 1195,
     "Times New Roman"},
    {"Italiano", "ChangeLanguageToItaliano", "language_italiano.xml", "license_italiano", 1345,
     "Times New Roman"},
    {"ChineseTrad", "ChangeLanguageToChineseTrad", "language_chinesetrad.xml",
     "license_chinesetrad", 1095, "Microsoft YaHei"},
    {"Korean", "ChangeLanguageToKorean", "language_korean.xml", "license_korean", 1175, "batang"},
    // The Dutch file and its licence control really are spelt differently.
    {"Nederlands", "ChangeLanguageToNederlands", "language_nederland.xml", "license_nederlands",
     1485, "Microsoft YaHei"},
    {"Indonesian", "ChangeLanguageToIndonesian", "language_indonesian.xml", "license_indonesian",
     1370, "Microsoft YaHei"},
    {"Turkish", "ChangeLanguageToTurkish", "language_turkish.xml", "license_turkish", 1370,
     "Microsoft YaHei"},
    {"Hindi", "ChangeLanguageToHindi", "language_hindi.xml", "license_hindi", 1370,
     "Microsoft YaHei"},
    {"Thai", "ChangeLanguageToThai", "language_thai.xml", "license_thai", 1175, "Microsoft YaHei"},
    {"Malay", "ChangeLanguageToMalay", "language_malay.xml", "license_malay", 1410,
     "Microsoft YaHei"},
    {"Swedish", "ChangeLanguageToSwedish", "language_swedish.xml", "license_swedish", 1410,
     "Microsoft YaHei"},
    {"Czech", "ChangeLanguageToCzech", "language_czech.xml", "license_czech", 1410,
     "Microsoft YaHei"},
};

constexpr LanguageRow kOutOfRange = {"English",        "", "", "", kLicenseHeightDefault,
                                     "Microsoft YaHei"};

constexpr int kChinaSites[] = {54, 93, 118, 127, 133, 290};

// Country texts as the usage reports have always carried them ("Columbia", "Salvatore" included).
constexpr StartupLanguageRow kStartupRows[] = {
    {1033, "America", 0},
    {2057, "Britain", 0},
    {3081, "Australia", 0},
    {4105, "Canada", 0},
    {5129, "New Zealand", 0},
    {6153, "Ireland", 0},
    {7177, "S. Africa", 0},
    {8201, "Jamaica", 0},
    {9225, "Caribbean", 0},
    {10249, "Belize", 0},
    {11273, "Trinidad", 0},
    {1041, "Japan", 1},
    {2052, "China", 2},
    {1034, "Spain", 3},
    {3082, "Spain", 3},
    {2058, "Mexico", 3},
    {4106, "Guatemala", 3},
    {5130, "Costa Rica", 3},
    {6154, "Panama", 3},
    {7178, "Dominican Republic", 3},
    {8202, "Venezuela", 3},
    {9226, "Columbia", 3},
    {10250, "Peru", 3},
    {11274, "Argentina", 3},
    {12298, "Ecuador", 3},
    {13322, "Chile", 3},
    {14346, "Uruguay", 3},
    {15370, "Paraguay", 3},
    {16394, "bolivia", 3},
    {17418, "Salvatore", 3},
    {18442, "Honduras", 3},
    {19466, "Nicaragua", 3},
    {20490, "Puerto Rico", 3},
    {1031, "Germany", 4},
    {2055, "Switzerland", 4},
    {3079, "Austria", 4},
    {4103, "Luxembourg", 4},
    {5127, "Liechtenstein", 4},
    {1036, "France", 5},
    {2060, "Belgium", 5},
    {3084, "Canada", 5},
    {4108, "Switzerland", 5},
    {5132, "Luxembourg", 5},
    {1049, "Russia", 6},
    {1046, "Brazil", 7},
    {2070, "Portugal", 7},
    {1025, "Arab", 8},
    {1040, "Italy", 9},
    {2064, "Swiss", 9},
    {1028, "Taiwan", 10},
    {3076, "HongKong", 10},
    {1042, "Korea", 11},
    {2066, "Korea (Johab)", 11},
    {1043, "Dutch (Standard)", 12},
    {2067, "Dutch (Belgian)", 12},
    {1057, "Indonesia (Bahasa)", 13},
    {1055, "Turkey", 14},
    {1081, "India", 15},
    {1054, "Thailand", 16},
    {1086, "Malaysia", 17},
    {2110, "Brunei Darussalam", 17},
    {1053, "Sweden", 18},
    {2077, "Finland", 18},
    {1029, "Czech Republic", 19},
};

}  // namespace

std::span<const LanguageRow> LanguageRows() {
    return kRows;
}

const LanguageRow& LanguageRowFor(int index) {
    return index >= 0 && index < kLanguageCount ? kRows[index] : kOutOfRange;
}

bool IsChinaSiteId(int siteId) {
    return std::ranges::find(kChinaSites, siteId) != std::end(kChinaSites);
}

int LicenseHeight(int index, int siteId) {
    if (index == kLanguageChinese && IsChinaSiteId(siteId))
        return kLicenseHeightChinaSite;
    return LanguageRowFor(index).licenseHeight;
}

std::span<const StartupLanguageRow> StartupLanguageRows() {
    return kStartupRows;
}

StartupLanguage StartupLanguageFor(uint32_t languageId) {
    for (const auto& row : kStartupRows)
        if (row.languageId == languageId)
            return {row.country, row.index};
    return {"Unknown--" + std::to_string(languageId), kLanguageEnglish};
}
