// kvsnap renders a window of a skin package to PNG: from a ZIP or from the installer itself,
// with a language file's texts and chosen tab pages; a failed run leaves no picture behind.

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"
#include "ui/Image.h"
#include "zip_builder.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = KV_BIN_DIR;

constexpr uint32_t kPageZero = 0xFF204080, kPageOne = 0xFF40A020, kBlack = 0xFF000000;

const char* const kMarkup = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="200,120">
  <Font name="Liberation Sans" size="40" default="true"/>
  <VerticalLayout bkcolor="#FFFFFFFF">
    <Label name="title" height="60" textcolor="#FF000000" text=""/>
    <TabLayout name="pages" height="60">
      <Control bkcolor="#FF204080"/>
      <Control bkcolor="#FF40A020"/>
    </TabLayout>
  </VerticalLayout>
</Window>)";

const char* const kLanguage = R"(<VerticalLayout><VerticalLayout name="language_english">
  <VerticalLayout name="install_page"><Label name="title" text="WWWWWW"/></VerticalLayout>
  <VerticalLayout name="message_page"><Label name="title" text=""/></VerticalLayout>
</VerticalLayout></VerticalLayout>)";

struct Snap {
    kvtest::TempDir dir;
    fs::path skin = dir.path() / "skin.zip";
    fs::path out = dir.path() / "out.png";
    Snap() {
        const auto zip = kvtest::makeZip({{"skin/main.xml", kMarkup},
                                          {"language/english.xml", kLanguage},
                                          {"broken.xml", "<Window><VerticalLayout>"}});
        kvtest::writeFile(skin, std::string(zip.begin(), zip.end()));
    }
    kvtest::RunResult run(std::vector<std::string> args) const {
        return kvtest::runProgram(kBin + "/kvsnap", args);
    }
    std::shared_ptr<ui::Image> picture() const {
        const std::string bytes = kvtest::readFile(out);
        return ui::DecodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    int darkPixelsOfTitle() const {
        auto image = picture();
        int dark = 0;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 200; ++x)
                dark += image->PixelAt(x, y) == kBlack;
        return dark;
    }
};

TEST(Kvsnap, RendersTheChosenPageWithTheLanguageTexts) {
    Snap s;
    auto r = s.run({s.skin.string(), "skin/main.xml", s.out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    auto image = s.picture();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width(), 200);
    EXPECT_EQ(image->Height(), 120);
    EXPECT_EQ(image->PixelAt(100, 90), kPageZero);
    EXPECT_EQ(s.darkPixelsOfTitle(), 0) << "no text without a language file";

    r = s.run({s.skin.string(), "skin\\MAIN.xml", s.out.string(), "--select", "pages=1", "--lang",
               "language/english.xml"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(s.picture()->PixelAt(100, 90), kPageOne);
    EXPECT_GT(s.darkPixelsOfTitle(), 50) << "the window's own page text, not the message's";

    // A language file on disk serves too.
    kvtest::writeFile(s.dir.path() / "lang.xml", kLanguage);
    r = s.run({s.skin.string(), "skin/main.xml", s.out.string(), "--lang",
               (s.dir.path() / "lang.xml").string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_GT(s.darkPixelsOfTitle(), 50);
}

TEST(Kvsnap, ReadsThePackageOfTheInstaller) {
    Snap s;
    auto r = s.run({kBin + "/kvdownloader", "configure/configure.xml", s.out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(s.picture());
}

TEST(Kvsnap, FailuresAreClearAndLeaveNoPicture) {
    Snap s;
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    };
    const std::string skin = s.skin.string(), out = s.out.string();
    kvtest::writeFile(s.dir.path() / "not-a-zip", "plain text");
    const std::vector<Case> cases = {
        {{skin, "skin/main.xml"}, 2, "SKIN, MARKUP and OUT.png are needed"},
        {{skin, "skin/main.xml", out, "--select", "pages"}, 2, "TABLAYOUT=INDEX"},
        {{skin, "skin/main.xml", out, "--select", "pages=-1"}, 2, "TABLAYOUT=INDEX"},
        {{skin, "skin/main.xml", out, "--lang"}, 2, "--lang needs a value"},
        {{skin, "skin/main.xml", out, "--bogus"}, 2, "unknown option"},
        {{skin, "skin/missing.xml", out}, 1, "the package has no skin/missing.xml"},
        {{(s.dir.path() / "not-a-zip").string(), "a.xml", out}, 1, "is not a skin package"},
        {{(s.dir.path() / "absent").string(), "a.xml", out}, 1, "cannot read"},
        {{kBin + "/kvres", "a.xml", out}, 1, "is not a skin package"},
        {{skin, "skin/main.xml", out, "--select", "pages=2"}, 1, "has no page 2"},
        {{skin, "skin/main.xml", out, "--select", "title=0"}, 1, "no tab layout \"title\""},
        {{skin, "skin/main.xml", out, "--lang", "broken.xml"}, 1, "is not XML"},
        {{skin, "skin/main.xml", out, "--lang", "nowhere.xml"}, 1, "neither in the package"},
        {{skin, "skin/main.xml", (s.dir.path() / "no-folder" / "x.png").string()},
         1,
         "cannot write"},
    };
    for (const auto& c : cases) {
        auto r = s.run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_FALSE(fs::exists(s.out)) << r.output;
        EXPECT_FALSE(fs::exists(s.out.string() + ".partial"));
    }
    // Broken markup is the framework's to report: the window still renders (empty).
    auto r = s.run({skin, "broken.xml", out});
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

}  // namespace
