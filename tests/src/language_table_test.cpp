#include <gtest/gtest.h>

#include <set>
#include <string>

#include "LanguageTable.h"

namespace {

TEST(LanguageTable, TellingRows) {
    const LanguageRow& english = LanguageRowFor(0);
    EXPECT_STREQ(english.name, "English");
    EXPECT_STREQ(english.eventLabel, "ChangeLanguageToEnglish");
    EXPECT_STREQ(english.fileName, "language_english.xml");
    EXPECT_STREQ(english.licenseControl, "license_english");
    EXPECT_EQ(english.licenseHeight, 1370);
    EXPECT_STREQ(english.slideFont, "Microsoft YaHei");

    const LanguageRow& dutch = LanguageRowFor(12);
    EXPECT_STREQ(dutch.name, "Nederlands");
    EXPECT_STREQ(dutch.fileName, "language_nederland.xml");
    EXPECT_STREQ(dutch.licenseControl, "license_nederlands");

    EXPECT_STREQ(LanguageRowFor(1).slideFont, "Meiryo UI");
    EXPECT_STREQ(LanguageRowFor(11).slideFont, "batang");
    for (int i = 3; i <= 9; ++i)
        EXPECT_STREQ(LanguageRowFor(i).slideFont, "Times New Roman") << i;
    EXPECT_STREQ(LanguageRowFor(10).name, "ChineseTrad");
    EXPECT_STREQ(LanguageRowFor(19).licenseControl, "license_czech");
}

TEST(LanguageTable, RowsAreConsistent) {
    ASSERT_EQ(LanguageRows().size(), static_cast<size_t>(kLanguageCount));
    std::set<std::string> files, controls;
    for (const auto& row : LanguageRows()) {
        const std::string file = row.fileName;
        EXPECT_TRUE(file.starts_with("language_") && file.ends_with(".xml")) << file;
        EXPECT_EQ(std::string(row.eventLabel), std::string("ChangeLanguageTo") + row.name);
        EXPECT_TRUE(std::string(row.licenseControl).starts_with("license_")) << row.licenseControl;
        EXPECT_GT(row.licenseHeight, 0) << row.name;
        files.insert(file);
        controls.insert(row.licenseControl);
    }
    EXPECT_EQ(files.size(), LanguageRows().size()) << "file names are unique";
    EXPECT_EQ(controls.size(), LanguageRows().size()) << "licence controls are unique";
}

TEST(LanguageTable, OutOfRange) {
    for (int index : {-1, 20, 1000, -2147483647 - 1}) {
        const LanguageRow& row = LanguageRowFor(index);
        EXPECT_STREQ(row.name, "English") << index;
        EXPECT_EQ(LicenseHeight(index, 54), kLicenseHeightDefault) << index;
        EXPECT_STREQ(row.fileName, "") << index;
        EXPECT_STREQ(row.licenseControl, "") << index;
        EXPECT_STREQ(row.slideFont, "Microsoft YaHei") << index;
    }
    EXPECT_EQ(kLicenseHeightDefault, 1765);
}

TEST(LicenseHeight, ChinaSitesOnlyForChinese) {
    struct Case {
        int index, siteId, height;
    } cases[] = {
        {2, 54, 1900},  {2, 93, 1900}, {2, 118, 1900}, {2, 127, 1900}, {2, 133, 1900},
        {2, 290, 1900}, {2, 55, 1095}, {2, 0, 1095},   {2, -54, 1095}, {2, 291, 1095},
        {10, 54, 1095}, {0, 54, 1370}, {12, 93, 1485},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LicenseHeight(c.index, c.siteId), c.height) << c.index << " @ " << c.siteId;
    EXPECT_EQ(LicenseHeight(2, 54) + kLicenseHeightAddition, 2070);
    EXPECT_EQ(LicenseHeight(2, 55) + kLicenseHeightAddition, 1265);
}

TEST(StartupLanguage, EveryIdOfTheTable) {
    struct Case {
        int index;
        std::vector<std::pair<uint16_t, const char*>> ids;
    } cases[] = {
        {0,
         {{1033, "America"},
          {2057, "Britain"},
          {3081, "Australia"},
          {4105, "Canada"},
          {5129, "New Zealand"},
          {6153, "Ireland"},
          {7177, "S. Africa"},
          {8201, "Jamaica"},
          {9225, "Caribbean"},
          {10249, "Belize"},
          {11273, "Trinidad"}}},
        {1, {{1041, "Japan"}}},
        {2, {{2052, "China"}}},
        {3,
         {{1034, "Spain"},
          {3082, "Spain"},
          {2058, "Mexico"},
          {4106, "Guatemala"},
          {5130, "Costa Rica"},
          {6154, "Panama"},
          {7178, "Dominican Republic"},
          {8202, "Venezuela"},
          {9226, "Columbia"},
          {10250, "Peru"},
          {11274, "Argentina"},
          {12298, "Ecuador"},
          {13322, "Chile"},
          {14346, "Uruguay"},
          {15370, "Paraguay"},
          {16394, "bolivia"},
          {17418, "Salvatore"},
          {18442, "Honduras"},
          {19466, "Nicaragua"},
          {20490, "Puerto Rico"}}},
        {4,
         {{1031, "Germany"},
          {2055, "Switzerland"},
          {3079, "Austria"},
          {4103, "Luxembourg"},
          {5127, "Liechtenstein"}}},
        {5,
         {{1036, "France"},
          {2060, "Belgium"},
          {3084, "Canada"},
          {4108, "Switzerland"},
          {5132, "Luxembourg"}}},
        {6, {{1049, "Russia"}}},
        {7, {{1046, "Brazil"}, {2070, "Portugal"}}},
        {8, {{1025, "Arab"}}},
        {9, {{1040, "Italy"}, {2064, "Swiss"}}},
        {10, {{1028, "Taiwan"}, {3076, "HongKong"}}},
        {11, {{1042, "Korea"}, {2066, "Korea (Johab)"}}},
        {12, {{1043, "Dutch (Standard)"}, {2067, "Dutch (Belgian)"}}},
        {13, {{1057, "Indonesia (Bahasa)"}}},
        {14, {{1055, "Turkey"}}},
        {15, {{1081, "India"}}},
        {16, {{1054, "Thailand"}}},
        {17, {{1086, "Malaysia"}, {2110, "Brunei Darussalam"}}},
        {18, {{1053, "Sweden"}, {2077, "Finland"}}},
        {19, {{1029, "Czech Republic"}}},
    };
    size_t total = 0;
    for (const auto& c : cases) {
        for (const auto& [id, country] : c.ids) {
            EXPECT_EQ(StartupLanguageFor(id), (StartupLanguage{country, c.index})) << id;
            ++total;
        }
    }
    EXPECT_EQ(StartupLanguageRows().size(), total) << "no id beyond the ones listed";
    std::set<uint16_t> ids;
    for (const auto& row : StartupLanguageRows())
        EXPECT_TRUE(ids.insert(row.languageId).second) << row.languageId;
}

TEST(StartupLanguage, UnknownIds) {
    EXPECT_EQ(StartupLanguageFor(1044), (StartupLanguage{"Unknown--1044", 0}));
    EXPECT_EQ(StartupLanguageFor(0), (StartupLanguage{"Unknown--0", 0}));
    EXPECT_EQ(StartupLanguageFor(1024), (StartupLanguage{"Unknown--1024", 0}));
    EXPECT_EQ(StartupLanguageFor(0x0c1a), (StartupLanguage{"Unknown--3098", 0}));
    EXPECT_EQ(StartupLanguageFor(65536 + 1033), (StartupLanguage{"Unknown--66569", 0}))
        << "no truncation to 16 bits";
}

}  // namespace
