#include "platform/LanguageIds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using platform::languageIdFromLocale;
using platform::localeFromLanguageId;
using platform::windowsLanguageName;

// The UI language names reports carry, written out independently of the table under test,
// separated by ";".
// clang-format off
constexpr const char* kExpectedNames =
    "Afrikaans_South Africa;Albanian_Albania;Arabic_Algeria;Arabic_Bahrain;Arabic_Egypt;"
    "Arabic_Iraq;Arabic_Jordan;Arabic_Kuwait;Arabic_Lebanon;Arabic_Libya;Arabic_Morocco;"
    "Arabic_Oman;Arabic_Qatar;Arabic_Saudi Arabia;Arabic_Syria;Arabic_Tunisia;"
    "Arabic_U.A.E.;Arabic_Yemen;Armenian_Armenia;Assamese_India;"
    "Azeri_Azerbaijan (Cyrillic);Azeri_Azerbaijan (Latin);Basque_Spain;Belarusian_Belarus;"
    "Bengali_India;Bulgarian_Bulgaria;Catalan_Spain;Chinese_Hong Kong SAR;"
    "Chinese_Macao SAR;Chinese_PRC;Chinese_Singapore;Chinese_Taiwan;"
    "Classic Lithuanian_Lithuania;Croatian_Croatia;Czech_Czech Republic;Danish_Denmark;"
    "Divehi_Maldives;Dutch_Belgium;Dutch_Netherlands;English_Australia;English_Belize;"
    "English_Canada;English_Caribbean;English_Ireland;English_Jamaica;English_New Zealand;"
    "English_Philippines;English_South Africa;English_Trinidad;English_United Kingdom;"
    "English_United States;English_Zimbabwe;Estonian_Estonia;Faeroese_Faeroe Islands;"
    "Farsi_Iran;Finnish_Finland;French_Belgium;French_Canada;French_France;"
    "French_Luxembourg;French_Monaco;French_Switzerland;Galician_Spain;Georgian_Georgia;"
    "German_Austria;German_Germany;German_Liechtenstein;German_Luxembourg;"
    "German_Switzerland;Greek_Greece;Gujarati_India;Hebrew_Israel;Hindi_India;"
    "Hungarian_Hungary;Icelandic_Iceland;Indonesian_Indonesia (Bahasa);Italian_Italy;"
    "Italian_Switzerland;Japanese_Japan;Kannada_India (Kannada script);Kazakh_Kazakstan;"
    "Konkani_India;Korean_Korea;Kyrgyz_Kyrgyzstan;Latvian_Latvia;Lithuanian_Lithuania;"
    "Macedonian (FYROM)_Macedonian (FYROM);Malay_Brunei Darussalam;Malay_Malaysia;"
    "Malayalam_India;Marathi_India;Mongolian (Cyrillic)_Mongolia;Norwegian_Norway (Bokm?l);"
    "Norwegian_Norway (Nynorsk);Oriya_India;Polish_Poland;Portuguese_Brazil;"
    "Portuguese_Portugal;Punjabi_India (Gurmukhi script);Romanian_Romania;Russian_Russia;"
    "Sanskrit_India;Serbian_Serbia (Cyrillic);Serbian_Serbia (Latin);Slovak_Slovakia;"
    "Slovenian_Slovenia;Spanish_Argentina;Spanish_Bolivia;Spanish_Chile;Spanish_Colombia;"
    "Spanish_Costa Rica;Spanish_Dominican Republic;Spanish_Ecuador;Spanish_El Salvador;"
    "Spanish_Guatemala;Spanish_Honduras;Spanish_Mexico;Spanish_Nicaragua;Spanish_Panama;"
    "Spanish_Paraguay;Spanish_Peru;Spanish_Puerto Rico;Spanish_Spain (International sort);"
    "Spanish_Spain (Traditional sort);Spanish_Uruguay;Spanish_Venezuela;Swahili_Kenya;"
    "Swedish_Finland;Swedish_Sweden;Syriac_Syria;Tamil_India;Tatar_Tatarstan;"
    "Telugu_India (Telugu script);Thai_Thailand;Turkish_Turkey;Ukrainian_Ukraine;"
    "Urdu_India;Urdu_Pakistan;Uzbek_Uzbekistan (Cyrillic);Uzbek_Uzbekistan (Latin);"
    "Vietnamese_Viet Nam";
// clang-format on

std::set<std::string> expectedNames() {
    std::set<std::string> names;
    std::string_view rest = kExpectedNames;
    while (!rest.empty()) {
        size_t semi = rest.find(';');
        names.emplace(rest.substr(0, semi));
        rest = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
    }
    return names;
}

// Ids of the start-up language table the window maps to its twenty languages.
const std::vector<uint16_t> kStartupIds = {
    1033,  2057,  3081,  4105,  5129,  6153,  7177,  8201, 9225, 10249, 11273, 1041,  2052,
    1034,  3082,  2058,  4106,  5130,  6154,  7178,  8202, 9226, 10250, 11274, 12298, 13322,
    14346, 15370, 16394, 17418, 18442, 19466, 20490, 1031, 2055, 3079,  4103,  5127,  1036,
    2060,  3084,  4108,  5132,  1049,  1046,  2070,  1025, 1040, 2064,  1028,  3076,  1042,
    2066,  1043,  2067,  1057,  1055,  1081,  1054,  1086, 2110, 1053,  2077,  1029};

// Ids whose locale belongs to a more modern id: the locale answers with the second one.
const std::map<uint16_t, uint16_t> kSharedLocale = {
    {1034, 3082},      // Spanish traditional sort → international sort
    {0x0827, 0x0427},  // classic Lithuanian → Lithuanian
    {0x0812, 0x0412},  // Korean Johab → Korean
};

TEST(LanguageIds, NameTableHoldsExactlyTheKnownNamesUnderDistinctIds) {
    const std::set<std::string> expected = expectedNames();
    ASSERT_EQ(expected.size(), 141u);
    auto table = platform::languageNameTable();
    ASSERT_EQ(table.size(), expected.size());
    std::set<uint16_t> ids;
    std::set<std::string> names;
    for (const auto& row : table) {
        ASSERT_NE(row.name, nullptr);
        EXPECT_TRUE(ids.insert(row.id).second) << "id listed twice: " << row.id;
        names.insert(row.name);
        // Round trip: the name found by id is this row's name.
        EXPECT_STREQ(windowsLanguageName(row.id), row.name);
    }
    EXPECT_EQ(names, expected);
}

TEST(LanguageIds, TellingNameRowsAndUnlistedIds) {
    // 0 and 1024 are named by the caller ("Neutral", "Default"); 0x0c1a is the older Serbian
    // id that reports show as 0x0c1a_0x0c1a; 2066 is in the start-up table only.
    const std::vector<std::pair<uint16_t, const char*>> cases = {
        {1033, "English_United States"},
        {2052, "Chinese_PRC"},
        {1028, "Chinese_Taiwan"},
        {1041, "Japanese_Japan"},
        {3082, "Spanish_Spain (International sort)"},
        {1034, "Spanish_Spain (Traditional sort)"},
        {1044, "Norwegian_Norway (Bokm?l)"},
        {0x281a, "Serbian_Serbia (Cyrillic)"},
        {0x241a, "Serbian_Serbia (Latin)"},
        {0, nullptr},
        {1024, nullptr},
        {0x0c1a, nullptr},
        {0x081a, nullptr},
        {2066, nullptr},
        {0x0452, nullptr},
        {0xffff, nullptr},
    };
    for (const auto& [id, name] : cases) {
        if (name) {
            EXPECT_STREQ(windowsLanguageName(id), name) << id;
        } else {
            EXPECT_EQ(windowsLanguageName(id), nullptr) << id;
        }
    }
}

TEST(LanguageIds, EveryNamedAndStartupIdHasALocaleRow) {
    std::set<uint16_t> wanted(kStartupIds.begin(), kStartupIds.end());
    for (const auto& row : platform::languageNameTable())
        wanted.insert(row.id);

    std::set<uint16_t> present;
    for (const auto& row : platform::languageIdTable())
        present.insert(row.id);
    for (uint16_t id : wanted)
        EXPECT_TRUE(present.count(id)) << "no locale row for " << id;

    // English_Caribbean is the one listed id without a POSIX locale.
    for (uint16_t id : wanted) {
        if (id == 0x2409) {
            EXPECT_EQ(localeFromLanguageId(id), "");
        } else {
            EXPECT_FALSE(localeFromLanguageId(id).empty()) << id;
        }
    }
}

TEST(LanguageIds, LocaleOfEveryIdMapsBackToItOrToItsModernTwin) {
    for (const auto& row : platform::languageIdTable()) {
        if (!row.locale)
            continue;
        // Each row's locale must itself be a well-formed name the parser accepts.
        EXPECT_NE(languageIdFromLocale(row.locale), 0) << row.locale;

        std::string locale = localeFromLanguageId(row.id);
        auto shared = kSharedLocale.find(row.id);
        uint16_t expected = shared == kSharedLocale.end() ? row.id : shared->second;
        if (std::strcmp(row.locale, locale.c_str()) != 0)
            continue;  // alias row ("no_NO")
        EXPECT_EQ(languageIdFromLocale(locale), expected) << locale;
    }
}

TEST(LanguageIds, LocaleToIdCases) {
    const std::vector<std::pair<std::string, uint16_t>> cases = {
        // Full names with codeset and modifier (the common ones run through the environment
        // decision in the System tests).
        {"es_ES@euro", 3082},
        {"es_ES.ISO-8859-15@euro", 3082},
        {"zh_CN.GB18030", 2052},
        {"zh_HK", 3076},
        {"pt_PT.UTF-8", 2070},
        {"en_GB", 2057},
        {"fr_CA", 3084},
        {"ja_JP.eucJP", 1041},
        {"kok_IN", 0x0457},
        // Script modifiers pick the variant; they survive when territory is absent.
        {"sr_RS", 0x281a},
        {"sr_RS@latin", 0x241a},
        {"sr@latin", 0x241a},
        {"uz_UZ@cyrillic", 0x0843},
        {"az_AZ@Cyrillic", 0x082c},
        // Case and separator are forgiven.
        {"EN-gb", 2057},
        {"De_de", 1031},
        // Language alone, or with a territory without its own id → the primary row.
        {"de", 1031},
        {"es", 3082},
        {"zh", 2052},
        {"en_DK.UTF-8", 1033},
        {"es_419", 3082},
        {"no_NO", 1044},
        {"nn_NO", 2068},
        // Not languages, or languages without an id.
        {"", 0},
        {"C", 0},
        {"POSIX", 0},
        {"eo", 0},
        {"xx_YY", 0},
        {"e", 0},
        {"en_", 0},
        {"en_USA", 0},
        {"en_U1", 0},
        {"12_34", 0},
        {"en_US@bad-mod", 0},
        {"_US", 0},
        {std::string(200, 'a'), 0},
        {std::string("en\0US", 5), 0},
    };
    for (const auto& [locale, id] : cases) {
        EXPECT_EQ(languageIdFromLocale(locale), id) << '"' << locale << '"';
    }
}

TEST(LanguageIds, IdToLocaleCases) {
    const std::vector<std::pair<uint16_t, std::string>> cases = {
        {3082, "es_ES"},   {1034, "es_ES"}, {2052, "zh_CN"},
        {1028, "zh_TW"},   {1044, "nb_NO"}, {0x241a, "sr_RS@latin"},
        {0x0812, "ko_KR"}, {0, ""},         {1024, ""},
        {0x0c1a, ""},      {0xffff, ""},
    };
    for (const auto& [id, locale] : cases)
        EXPECT_EQ(localeFromLanguageId(id), locale) << id;
}

}  // namespace
