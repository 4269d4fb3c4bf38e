#include "Common/skin_probe.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "zip_builder.h"

namespace {

TEST(FindDownloaderIdText, TextualSearchCases) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::string> id;
    } cases[] = {
        {"label", R"(<Label name="Downloader_id" text="253" />)", "253"},
        {"after bom", "\xEF\xBB\xBF<Label name=\"Downloader_id\" text=\"253\" />", "253"},
        {"first label wins",
         R"(<Label name="Downloader_id" text="7" /><Label name="Downloader_id" text="8" />)", "7"},
        {"among other labels",
         "<VerticalLayout name=\"Product_config\">\n<Label name=\"Site_id\" text=\"55\" />\n"
         "<Label name=\"Downloader_id\" text=\"1024\" />\n</VerticalLayout>",
         "1024"},
        // The search is textual: a blank before the quote moves the start onto the quote itself.
        {"blank after equals", R"(<Label name="Downloader_id" text= "253" />)", ""},
        {"no label", R"(<Label name="Site_id" text="55" />)", std::nullopt},
        {"no equals after label", R"(<Label name="Downloader_id")", std::nullopt},
        {"equals at the end", "Downloader_id=", std::nullopt},
        {"equals one before the end", "Downloader_id=\"", std::nullopt},
        {"no closing quote", "Downloader_id\" text=\"253", std::nullopt},
        {"empty", "", std::nullopt},
        {"bom only", "\xEF\xBB\xBF", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindDownloaderIdText(c.text), c.id) << c.name;
}

platform::ResourceTable withSkin(const std::vector<uint8_t>& zip) {
    platform::ResourceTable table;
    table.put(kSkinResourceType, kSkinResourceId, zip);
    return table;
}

TEST(ProbeSkinPackage, FindsIdAndWindowClass) {
    auto zip = kvtest::makeZip(
        {{"Configure/Configure.xml", "\xEF\xBB\xBF<Label name=\"Downloader_id\" text=\"253\" />"},
         {"InstallMainWnd.xml", "<Window />"}});
    const SkinProbe probe = ProbeSkinPackage(withSkin(zip));
    EXPECT_TRUE(probe.packageFound);
    EXPECT_TRUE(probe.configureFound);
    EXPECT_EQ(probe.downloaderId, "253");
    EXPECT_EQ(probe.windowClassName, "KV_UI_Frame_253");
    EXPECT_EQ(probe.entryNames.size(), 2u);
}

TEST(ProbeSkinPackage, MissingPiecesAreSkippedNotFatal) {
    EXPECT_FALSE(ProbeSkinPackage(platform::ResourceTable()).packageFound);
    EXPECT_FALSE(ProbeSkinPackage(withSkin({})).packageFound) << "an empty resource is no package";
    EXPECT_FALSE(ProbeSkinPackage(withSkin({'n', 'o', 't', 'z', 'i', 'p'})).packageFound);

    platform::ResourceTable otherId;
    otherId.put(kSkinResourceType, 139,
                kvtest::makeZip({{"configure/configure.xml", "Downloader_id=\"1\""}}));
    EXPECT_FALSE(ProbeSkinPackage(otherId).packageFound);

    const SkinProbe noConfigure = ProbeSkinPackage(withSkin(kvtest::makeZip({{"a.xml", "x"}})));
    EXPECT_TRUE(noConfigure.packageFound);
    EXPECT_FALSE(noConfigure.configureFound);

    const SkinProbe noLabel = ProbeSkinPackage(
        withSkin(kvtest::makeZip({{"configure/configure.xml", "<Label name=\"Site_id\" />"}})));
    EXPECT_TRUE(noLabel.configureFound);
    EXPECT_FALSE(noLabel.downloaderId);
    EXPECT_TRUE(noLabel.windowClassName.empty());
}

TEST(ReadFileVersion, AcceptsOnlyFourNumbers) {
    struct Case {
        std::string text;
        std::string version;
    } cases[] = {{"1.0.0.1", "1.0.0.1"},
                 {"10.2.30.400", "10.2.30.400"},
                 {"1.2.3", ""},
                 {"1.2.3.4.5", ""},
                 {"1.2.3.x", ""},
                 {"65536.0.0.0", ""},
                 {"", ""}};
    for (const auto& c : cases) {
        platform::ResourceTable table;
        table.put(kVersionResourceType, kVersionResourceId, {c.text.begin(), c.text.end()});
        EXPECT_EQ(ReadFileVersion(table), c.version) << c.text;
    }
    EXPECT_EQ(ReadFileVersion(platform::ResourceTable()), "");
}

}  // namespace
