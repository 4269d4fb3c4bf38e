#include "platform/LanguageIds.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>

#include "TextUtil.h"

namespace platform {
namespace {

// Grouped by language; within a group the primary row (the one a bare language name selects)
// comes first. Rows sharing a locale put the modern id first.
// clang-format off
constexpr LanguageIdEntry kLocales[] = {
    {0x0409, "en_US"}, {0x0809, "en_GB"}, {0x0c09, "en_AU"}, {0x1009, "en_CA"},
    {0x1409, "en_NZ"}, {0x1809, "en_IE"}, {0x1c09, "en_ZA"}, {0x2009, "en_JM"},
    {0x2409, nullptr},  // English_Caribbean
    {0x2809, "en_BZ"}, {0x2c09, "en_TT"}, {0x3009, "en_ZW"}, {0x3409, "en_PH"},
    {0x4009, "en_IN"}, {0x4409, "en_MY"}, {0x4809, "en_SG"},

    {0x0c0a, "es_ES"},  // international (modern) sort
    {0x040a, "es_ES"},  // traditional sort, same locale
    {0x080a, "es_MX"}, {0x100a, "es_GT"}, {0x140a, "es_CR"}, {0x180a, "es_PA"},
    {0x1c0a, "es_DO"}, {0x200a, "es_VE"}, {0x240a, "es_CO"}, {0x280a, "es_PE"},
    {0x2c0a, "es_AR"}, {0x300a, "es_EC"}, {0x340a, "es_CL"}, {0x380a, "es_UY"},
    {0x3c0a, "es_PY"}, {0x400a, "es_BO"}, {0x440a, "es_SV"}, {0x480a, "es_HN"},
    {0x4c0a, "es_NI"}, {0x500a, "es_PR"}, {0x540a, "es_US"},

    {0x0804, "zh_CN"}, {0x0404, "zh_TW"}, {0x0c04, "zh_HK"}, {0x1004, "zh_SG"},
    {0x1404, "zh_MO"},

    {0x0407, "de_DE"}, {0x0807, "de_CH"}, {0x0c07, "de_AT"}, {0x1007, "de_LU"},
    {0x1407, "de_LI"},

    {0x040c, "fr_FR"}, {0x080c, "fr_BE"}, {0x0c0c, "fr_CA"}, {0x100c, "fr_CH"},
    {0x140c, "fr_LU"}, {0x180c, "fr_MC"},

    {0x0416, "pt_BR"}, {0x0816, "pt_PT"},
    {0x0410, "it_IT"}, {0x0810, "it_CH"},
    {0x0413, "nl_NL"}, {0x0813, "nl_BE"},
    {0x041d, "sv_SE"}, {0x081d, "sv_FI"},
    {0x0412, "ko_KR"},
    {0x0812, "ko_KR"},  // Johab, same locale
    {0x0427, "lt_LT"},
    {0x0827, "lt_LT"},  // classic Lithuanian, same locale
    {0x043e, "ms_MY"}, {0x083e, "ms_BN"},
    {0x0420, "ur_PK"}, {0x0820, "ur_IN"},
    {0x042c, "az_AZ"}, {0x082c, "az_AZ@cyrillic"},
    {0x0443, "uz_UZ"}, {0x0843, "uz_UZ@cyrillic"},
    {0x281a, "sr_RS"}, {0x241a, "sr_RS@latin"},
    {0x0414, "nb_NO"}, {0x0414, "no_NO"},  // "no" is the older name of Bokmål
    {0x0814, "nn_NO"},

    {0x0401, "ar_SA"}, {0x0801, "ar_IQ"}, {0x0c01, "ar_EG"}, {0x1001, "ar_LY"},
    {0x1401, "ar_DZ"}, {0x1801, "ar_MA"}, {0x1c01, "ar_TN"}, {0x2001, "ar_OM"},
    {0x2401, "ar_YE"}, {0x2801, "ar_SY"}, {0x2c01, "ar_JO"}, {0x3001, "ar_LB"},
    {0x3401, "ar_KW"}, {0x3801, "ar_AE"}, {0x3c01, "ar_BH"}, {0x4001, "ar_QA"},

    {0x0445, "bn_IN"}, {0x0845, "bn_BD"},

    {0x0436, "af_ZA"}, {0x041c, "sq_AL"}, {0x042b, "hy_AM"}, {0x044d, "as_IN"},
    {0x042d, "eu_ES"}, {0x0423, "be_BY"}, {0x0402, "bg_BG"}, {0x0403, "ca_ES"},
    {0x041a, "hr_HR"}, {0x0405, "cs_CZ"}, {0x0406, "da_DK"}, {0x0465, "dv_MV"},
    {0x0425, "et_EE"}, {0x0438, "fo_FO"}, {0x0429, "fa_IR"}, {0x040b, "fi_FI"},
    {0x0456, "gl_ES"}, {0x0437, "ka_GE"}, {0x0408, "el_GR"}, {0x0447, "gu_IN"},
    {0x040d, "he_IL"}, {0x0439, "hi_IN"}, {0x040e, "hu_HU"}, {0x040f, "is_IS"},
    {0x0421, "id_ID"}, {0x0411, "ja_JP"}, {0x044b, "kn_IN"}, {0x043f, "kk_KZ"},
    {0x0457, "kok_IN"}, {0x0440, "ky_KG"}, {0x0426, "lv_LV"}, {0x042f, "mk_MK"},
    {0x044c, "ml_IN"}, {0x044e, "mr_IN"}, {0x0450, "mn_MN"}, {0x0448, "or_IN"},
    {0x0415, "pl_PL"}, {0x0446, "pa_IN"}, {0x0418, "ro_RO"}, {0x0419, "ru_RU"},
    {0x044f, "sa_IN"}, {0x041b, "sk_SK"}, {0x0424, "sl_SI"}, {0x0441, "sw_KE"},
    {0x045a, "syr_SY"}, {0x0449, "ta_IN"}, {0x0444, "tt_RU"}, {0x044a, "te_IN"},
    {0x041e, "th_TH"}, {0x041f, "tr_TR"}, {0x0422, "uk_UA"}, {0x042a, "vi_VN"},

    // Languages Windows knows but the UI name table does not list: they still get their id,
    // so the reports show the id instead of claiming English.
    {0x0452, "cy_GB"}, {0x083c, "ga_IE"}, {0x0491, "gd_GB"}, {0x043a, "mt_MT"},
    {0x046e, "lb_LU"}, {0x0462, "fy_NL"}, {0x0417, "rm_CH"}, {0x141a, "bs_BA"},
    {0x0453, "km_KH"}, {0x0454, "lo_LA"}, {0x0461, "ne_NP"}, {0x045b, "si_LK"},
    {0x045e, "am_ET"}, {0x0464, "fil_PH"}, {0x0481, "mi_NZ"}, {0x0434, "xh_ZA"},
    {0x0435, "zu_ZA"}, {0x0428, "tg_TJ"}, {0x0442, "tk_TM"}, {0x0463, "ps_AF"},
    {0x0480, "ug_CN"}, {0x047e, "br_FR"}, {0x0482, "oc_FR"},
};
// clang-format on

// The exact literals Windows-era reports carry, including their dated spellings.
constexpr LanguageNameEntry kNames[] = {
    {0x0436, "Afrikaans_South Africa"},
    {0x041c, "Albanian_Albania"},
    {0x1401, "Arabic_Algeria"},
    {0x3c01, "Arabic_Bahrain"},
    {0x0c01, "Arabic_Egypt"},
    {0x0801, "Arabic_Iraq"},
    {0x2c01, "Arabic_Jordan"},
    {0x3401, "Arabic_Kuwait"},
    {0x3001, "Arabic_Lebanon"},
    {0x1001, "Arabic_Libya"},
    {0x1801, "Arabic_Morocco"},
    {0x2001, "Arabic_Oman"},
    {0x4001, "Arabic_Qatar"},
    {0x0401, "Arabic_Saudi Arabia"},
    {0x2801, "Arabic_Syria"},
    {0x1c01, "Arabic_Tunisia"},
    {0x3801, "Arabic_U.A.E."},
    {0x2401, "Arabic_Yemen"},
    {0x042b, "Armenian_Armenia"},
    {0x044d, "Assamese_India"},
    {0x082c, "Azeri_Azerbaijan (Cyrillic)"},
    {0x042c, "Azeri_Azerbaijan (Latin)"},
    {0x042d, "Basque_Spain"},
    {0x0423, "Belarusian_Belarus"},
    {0x0445, "Bengali_India"},
    {0x0402, "Bulgarian_Bulgaria"},
    {0x0403, "Catalan_Spain"},
    {0x0c04, "Chinese_Hong Kong SAR"},
    {0x1404, "Chinese_Macao SAR"},
    {0x0804, "Chinese_PRC"},
    {0x1004, "Chinese_Singapore"},
    {0x0404, "Chinese_Taiwan"},
    {0x0827, "Classic Lithuanian_Lithuania"},
    {0x041a, "Croatian_Croatia"},
    {0x0405, "Czech_Czech Republic"},
    {0x0406, "Danish_Denmark"},
    {0x0465, "Divehi_Maldives"},
    {0x0813, "Dutch_Belgium"},
    {0x0413, "Dutch_Netherlands"},
    {0x0c09, "English_Australia"},
    {0x2809, "English_Belize"},
    {0x1009, "English_Canada"},
    {0x2409, "English_Caribbean"},
    {0x1809, "English_Ireland"},
    {0x2009, "English_Jamaica"},
    {0x1409, "English_New Zealand"},
    {0x3409, "English_Philippines"},
    {0x1c09, "English_South Africa"},
    {0x2c09, "English_Trinidad"},
    {0x0809, "English_United Kingdom"},
    {0x0409, "English_United States"},
    {0x3009, "English_Zimbabwe"},
    {0x0425, "Estonian_Estonia"},
    {0x0438, "Faeroese_Faeroe Islands"},
    {0x0429, "Farsi_Iran"},
    {0x040b, "Finnish_Finland"},
    {0x080c, "French_Belgium"},
    {0x0c0c, "French_Canada"},
    {0x040c, "French_France"},
    {0x140c, "French_Luxembourg"},
    {0x180c, "French_Monaco"},
    {0x100c, "French_Switzerland"},
    {0x0456, "Galician_Spain"},
    {0x0437, "Georgian_Georgia"},
    {0x0c07, "German_Austria"},
    {0x0407, "German_Germany"},
    {0x1407, "German_Liechtenstein"},
    {0x1007, "German_Luxembourg"},
    {0x0807, "German_Switzerland"},
    {0x0408, "Greek_Greece"},
    {0x0447, "Gujarati_India"},
    {0x040d, "Hebrew_Israel"},
    {0x0439, "Hindi_India"},
    {0x040e, "Hungarian_Hungary"},
    {0x040f, "Icelandic_Iceland"},
    {0x0421, "Indonesian_Indonesia (Bahasa)"},
    {0x0410, "Italian_Italy"},
    {0x0810, "Italian_Switzerland"},
    {0x0411, "Japanese_Japan"},
    {0x044b, "Kannada_India (Kannada script)"},
    {0x043f, "Kazakh_Kazakstan"},
    {0x0457, "Konkani_India"},
    {0x0412, "Korean_Korea"},
    {0x0440, "Kyrgyz_Kyrgyzstan"},
    {0x0426, "Latvian_Latvia"},
    {0x0427, "Lithuanian_Lithuania"},
    {0x042f, "Macedonian (FYROM)_Macedonian (FYROM)"},
    {0x083e, "Malay_Brunei Darussalam"},
    {0x043e, "Malay_Malaysia"},
    {0x044c, "Malayalam_India"},
    {0x044e, "Marathi_India"},
    {0x0450, "Mongolian (Cyrillic)_Mongolia"},
    {0x0414, "Norwegian_Norway (Bokm?l)"},  // the question mark is part of the literal
    {0x0814, "Norwegian_Norway (Nynorsk)"},
    {0x0448, "Oriya_India"},
    {0x0415, "Polish_Poland"},
    {0x0416, "Portuguese_Brazil"},
    {0x0816, "Portuguese_Portugal"},
    {0x0446, "Punjabi_India (Gurmukhi script)"},
    {0x0418, "Romanian_Romania"},
    {0x0419, "Russian_Russia"},
    {0x044f, "Sanskrit_India"},
    // The Serbia ids, not the older Serbia-and-Montenegro ones (0x0c1a, 0x081a), which stay
    // unlisted.
    {0x281a, "Serbian_Serbia (Cyrillic)"},
    {0x241a, "Serbian_Serbia (Latin)"},
    {0x041b, "Slovak_Slovakia"},
    {0x0424, "Slovenian_Slovenia"},
    {0x2c0a, "Spanish_Argentina"},
    {0x400a, "Spanish_Bolivia"},
    {0x340a, "Spanish_Chile"},
    {0x240a, "Spanish_Colombia"},
    {0x140a, "Spanish_Costa Rica"},
    {0x1c0a, "Spanish_Dominican Republic"},
    {0x300a, "Spanish_Ecuador"},
    {0x440a, "Spanish_El Salvador"},
    {0x100a, "Spanish_Guatemala"},
    {0x480a, "Spanish_Honduras"},
    {0x080a, "Spanish_Mexico"},
    {0x4c0a, "Spanish_Nicaragua"},
    {0x180a, "Spanish_Panama"},
    {0x3c0a, "Spanish_Paraguay"},
    {0x280a, "Spanish_Peru"},
    {0x500a, "Spanish_Puerto Rico"},
    {0x0c0a, "Spanish_Spain (International sort)"},
    {0x040a, "Spanish_Spain (Traditional sort)"},
    {0x380a, "Spanish_Uruguay"},
    {0x200a, "Spanish_Venezuela"},
    {0x0441, "Swahili_Kenya"},
    {0x081d, "Swedish_Finland"},
    {0x041d, "Swedish_Sweden"},
    {0x045a, "Syriac_Syria"},
    {0x0449, "Tamil_India"},
    {0x0444, "Tatar_Tatarstan"},
    {0x044a, "Telugu_India (Telugu script)"},
    {0x041e, "Thai_Thailand"},
    {0x041f, "Turkish_Turkey"},
    {0x0422, "Ukrainian_Ukraine"},
    {0x0820, "Urdu_India"},
    {0x0420, "Urdu_Pakistan"},
    {0x0843, "Uzbek_Uzbekistan (Cyrillic)"},
    {0x0443, "Uzbek_Uzbekistan (Latin)"},
    {0x042a, "Vietnamese_Viet Nam"},
};

// A locale name split into its parts, case-normalised; `valid` is false for anything that is
// not "ll[_TT][.codeset][@modifier]".
struct LocaleParts {
    std::string language;   // 2-3 lower-case letters
    std::string territory;  // 2 upper-case letters or 3 digits, may be empty
    std::string modifier;   // lower-case, may be empty
    bool valid = false;
};

constexpr size_t kMaxLocaleLength = 128;

bool isAlpha(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}
bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool isAlnum(char c) {
    return isAlpha(c) || isDigit(c);
}
LocaleParts splitLocale(std::string_view text) {
    LocaleParts parts;
    if (text.empty() || text.size() > kMaxLocaleLength)
        return parts;

    std::string_view modifier;
    if (size_t at = text.find('@'); at != std::string_view::npos) {
        modifier = text.substr(at + 1);
        text = text.substr(0, at);
    }
    if (size_t dot = text.find('.'); dot != std::string_view::npos)
        text = text.substr(0, dot);

    std::string_view language = text;
    std::string_view territory;
    if (size_t sep = text.find_first_of("_-"); sep != std::string_view::npos) {
        language = text.substr(0, sep);
        territory = text.substr(sep + 1);
        if (territory.empty())
            return parts;
    }

    if (language.size() < 2 || language.size() > 3 ||
        !std::all_of(language.begin(), language.end(), isAlpha)) {
        return parts;
    }
    const bool alphaTerritory =
        territory.size() == 2 && std::all_of(territory.begin(), territory.end(), isAlpha);
    const bool numericTerritory =
        territory.size() == 3 && std::all_of(territory.begin(), territory.end(), isDigit);
    if (!territory.empty() && !alphaTerritory && !numericTerritory)
        return parts;
    if (!std::all_of(modifier.begin(), modifier.end(), isAlnum))
        return parts;

    parts.language = asciiLower(language);
    std::transform(territory.begin(), territory.end(), std::back_inserter(parts.territory),
                   [](char c) { return asciiUpper(c); });
    parts.modifier = asciiLower(modifier);
    parts.valid = true;
    return parts;
}

// Splits a table locale the same way; table entries are already normalised.
LocaleParts rowParts(const LanguageIdEntry& row) {
    return row.locale ? splitLocale(row.locale) : LocaleParts{};
}

template <typename Match>
uint16_t firstMatch(Match match) {
    for (const auto& row : kLocales) {
        LocaleParts parts = rowParts(row);
        if (parts.valid && match(parts))
            return row.id;
    }
    return 0;
}

}  // namespace

std::span<const LanguageIdEntry> languageIdTable() {
    return kLocales;
}

std::span<const LanguageNameEntry> languageNameTable() {
    return kNames;
}

uint16_t languageIdFromLocale(std::string_view locale) {
    const LocaleParts want = splitLocale(locale);
    if (!want.valid)
        return 0;

    if (!want.territory.empty() && !want.modifier.empty()) {
        if (uint16_t id = firstMatch([&](const LocaleParts& p) {
                return p.language == want.language && p.territory == want.territory &&
                       p.modifier == want.modifier;
            })) {
            return id;
        }
    }
    if (!want.territory.empty()) {
        if (uint16_t id = firstMatch([&](const LocaleParts& p) {
                return p.language == want.language && p.territory == want.territory &&
                       p.modifier.empty();
            })) {
            return id;
        }
    }
    if (!want.modifier.empty()) {
        if (uint16_t id = firstMatch([&](const LocaleParts& p) {
                return p.language == want.language && p.modifier == want.modifier;
            })) {
            return id;
        }
    }
    return firstMatch([&](const LocaleParts& p) { return p.language == want.language; });
}

std::string localeFromLanguageId(uint16_t id) {
    for (const auto& row : kLocales) {
        if (row.id == id)
            return row.locale ? row.locale : "";
    }
    return {};
}

const char* windowsLanguageName(uint16_t id) {
    for (const auto& row : kNames) {
        if (row.id == id)
            return row.name;
    }
    return nullptr;
}

}  // namespace platform
