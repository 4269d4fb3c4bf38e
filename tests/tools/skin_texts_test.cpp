// The demo product's texts as the program reads them from its skin package: every language file
// carries the English file's labels, the three format texts take exactly the argument the window
// gives them, links and slide captions use only the tags their readers understand, the licences
// need the scrolling panel yet fit the height the window gives them, and the slide captions have
// their glyphs in the slide fonts.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Common/install_window.h"
#include "LanguageTable.h"
#include "Lint.h"
#include "ui/MarkupLoader.h"
#include "ui/RichText.h"
#include "ui/SkinPackage.h"
#include "ui/TextLayout.h"
#include "zip_builder.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSkinDir = fs::path(KV_SOURCE_DIR) / "skin";

// The panel the licence scrolls in: 200 pixels high, the text 13 pixels in the body font, at most
// 610 pixels wide (650 less the insets, the scroll bar and the text padding). Measured a little
// narrower so a text that only just fits here cannot be cut off there.
constexpr int kLicensePanelHeight = 200;
constexpr int kLicenseTextWidth = 600;
const ui::FontDesc kBodyFont{"Segoe UI", 13};

using Labels = std::vector<std::pair<std::string, std::string>>;  // name, text in file order

struct LanguageFile {
    Labels install;
    Labels message;
    std::vector<std::string> problems;
};

// The skin folder as a package, so names resolve as they do at run time (the pictures the build
// draws are not needed here).
std::shared_ptr<ui::SkinPackage> ShippedSkin() {
    static std::shared_ptr<ui::SkinPackage> skin = [] {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(kSkinDir)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            files[fs::relative(entry.path(), kSkinDir).generic_string()] = bytes.str();
        }
        return ui::SkinPackage::Open(kvtest::makeZip(files));
    }();
    return skin;
}

const ui::Control* FindNamed(const ui::Control* control, std::string_view name) {
    if (!control)
        return nullptr;
    if (control->GetName() == name)
        return control;
    for (size_t i = 0; i < control->ChildCount(); ++i)
        if (const auto* found = FindNamed(control->ChildAt(i), name))
            return found;
    return nullptr;
}

Labels ChildLabels(const ui::Control* page) {
    Labels labels;
    for (size_t i = 0; page && i < page->ChildCount(); ++i)
        labels.emplace_back(page->ChildAt(i)->GetName(), page->ChildAt(i)->GetText());
    return labels;
}

// Loaded as markup from "language\" of the package, as the window and the message box load it.
LanguageFile LoadLanguage(const LanguageRow& row) {
    ui::MarkupLoader loader(ShippedSkin());
    ui::MarkupDocument doc = loader.Load(std::string("language\\") + row.fileName);
    LanguageFile file;
    file.problems = doc.problems;
    if (!doc.root)
        file.problems.push_back("no control tree");
    file.install = ChildLabels(FindNamed(doc.root.get(), "install_page"));
    file.message = ChildLabels(FindNamed(doc.root.get(), "message_page"));
    return file;
}

std::string TextOf(const Labels& labels, std::string_view name) {
    for (const auto& [label, text] : labels)
        if (label == name)
            return text;
    return {};
}

ui::TextLayout Layout(std::string_view text, const ui::FontDesc& font, int width, uint32_t format) {
    ui::TextStyle style;
    style.font = font;
    style.format = format;
    return ui::TextLayout(ui::ParseInlineTags(text), style, width);
}

size_t Count(std::string_view text, std::string_view what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string_view::npos;
         pos = text.find(what, pos + what.size()))
        ++n;
    return n;
}

TEST(SkinTexts, EveryLanguageFileHasTheEnglishLabels) {
    const LanguageFile english = LoadLanguage(LanguageRowFor(kLanguageEnglish));
    ASSERT_EQ(english.install.size(), 23u);
    ASSERT_EQ(english.message.size(), 28u);
    for (const auto& row : LanguageRows()) {
        SCOPED_TRACE(row.fileName);
        const LanguageFile file = LoadLanguage(row);
        EXPECT_TRUE(file.problems.empty())
            << file.problems.size()
            << " problems, first: " << (file.problems.empty() ? "" : file.problems.front());
        for (Labels LanguageFile::*pages : {&LanguageFile::install, &LanguageFile::message}) {
            const Labels& ours = file.*pages;
            std::set<std::string> names;
            for (const auto& [name, text] : ours) {
                // The window walks a page backwards, so a second label of a name would silently
                // lose.
                EXPECT_TRUE(names.insert(name).second) << "twice: " << name;
                EXPECT_EQ(text.find("#@!"), std::string::npos) << name << ": template marker left";
            }
            for (const auto& [name, text] : english.*pages) {
                EXPECT_TRUE(names.count(name)) << "missing: " << name;
                if (!text.empty()) {
                    EXPECT_FALSE(TextOf(ours, name).empty()) << "empty: " << name;
                }
            }
            EXPECT_EQ(ours.size(), (english.*pages).size());
        }
    }
}

TEST(SkinTexts, FormatTextsTakeExactlyTheWindowsArgument) {
    for (const auto& row : LanguageRows()) {
        SCOPED_TRACE(row.fileName);
        const LanguageFile file = LoadLanguage(row);
        const std::string progress = TextOf(file.install, "install_label");
        EXPECT_EQ(kvres::checkFormat(progress, 'f'), "") << progress;
        // The window shows a format it cannot use as it stands (it takes no length modifier,
        // for one); this one must turn into the number.
        EXPECT_NE(FormatProgress(progress, 42.0).find("42"), std::string::npos) << progress;
        const std::string freeSpace = TextOf(file.install, "space_free");
        EXPECT_EQ(kvres::checkFormat(freeSpace, 'f'), "") << freeSpace;
        const std::string needSpace = TextOf(file.install, "space_need");
        EXPECT_EQ(kvres::checkFormat(needSpace, 's'), "") << needSpace;
    }
}

TEST(SkinTexts, LinksAndCaptionsUseTheTagsTheirReadersKnow) {
    for (const auto& row : LanguageRows()) {
        SCOPED_TRACE(row.fileName);
        const LanguageFile file = LoadLanguage(row);
        // The window opens the panel or the advice page on these links' notifications.
        for (const char* name : {"license_link", "install_setting", "text_fail_advice"}) {
            const std::string text = TextOf(file.install, name);
            EXPECT_EQ(Count(text, "{a}"), 1u) << name << ": " << text;
            EXPECT_EQ(Count(text, "{/a}"), 1u) << name << ": " << text;
        }
        // The slide painter breaks the line at the first "{n}" and draws everything else as it
        // stands, so a caption carries one "{n}" at most and no other tag.
        for (int n = 1; n <= 5; ++n) {
            const std::string name = "anima_text_" + std::to_string(n);
            const std::string text = TextOf(file.install, name);
            EXPECT_LE(Count(text, "{n}"), 1u) << name << ": " << text;
            EXPECT_EQ(Count(text, "{"), Count(text, "{n}")) << name << ": " << text;
        }
    }
}

// The contact sheet counts the glyphs of what the window shows in its body fonts; the slide
// captions are drawn in a font of their own per language (a serif for Latin, Cyrillic and Arabic,
// a Korean serif), which no page of the sheet uses.
TEST(SkinTexts, SlideCaptionsHaveTheirGlyphsInTheSlideFont) {
    for (const auto& row : LanguageRows()) {
        SCOPED_TRACE(row.fileName);
        const LanguageFile file = LoadLanguage(row);
        const ui::FontDesc slideFont{row.slideFont, 15, true};
        for (int n = 1; n <= 5; ++n) {
            const std::string name = "anima_text_" + std::to_string(n);
            const std::string text = TextOf(file.install, name);
            EXPECT_EQ(Layout(text, slideFont, 590, ui::kTextCenter).UnknownGlyphCount(), 0)
                << name << ": " << text;
        }
    }
}

TEST(SkinTexts, ArabicReadsRightToLeft) {
    const LanguageFile file = LoadLanguage(LanguageRows()[8]);
    ASSERT_STREQ(LanguageRows()[8].name, "Arabic");
    for (const auto* labels : {&file.install, &file.message}) {
        for (const auto& [name, text] : *labels) {
            // Texts with no letter at all (the percentage) take the direction of their place.
            if (text.empty() || name == "install_label")
                continue;
            EXPECT_TRUE(
                Layout(text, kBodyFont, 400, ui::kTextLeft | ui::kTextWordBreak).IsRightToLeft())
                << name << ": " << text;
        }
    }
}

// The product offers every language, and a language without its licence would leave the panel
// empty when the installer starts in it: every row's licence control must be there.
TEST(SkinTexts, EveryLanguageHasALicenceThatScrollsAndFits) {
    ui::MarkupLoader loader(ShippedSkin());
    const ui::MarkupDocument doc = loader.Load("License.xml");
    ASSERT_TRUE(doc.root);
    EXPECT_TRUE(doc.problems.empty()) << (doc.problems.empty() ? "" : doc.problems.front());
    for (int index = 0; index < kLanguageCount; ++index) {
        const LanguageRow& row = LanguageRowFor(index);
        SCOPED_TRACE(row.licenseControl);
        const ui::Control* licence = FindNamed(doc.root.get(), row.licenseControl);
        ASSERT_NE(licence, nullptr);
        EXPECT_EQ(licence->GetClass(), "RichEdit");
        const auto layout = Layout(licence->GetText(), kBodyFont, kLicenseTextWidth,
                                   ui::kTextLeft | ui::kTextWordBreak);
        EXPECT_EQ(layout.UnknownGlyphCount(), 0);
        EXPECT_GT(layout.TextSize().cy, 3 * kLicensePanelHeight);
        // The window gives the text the table's height, whatever the site (China sites only
        // add room), so a longer text would be cut off at the bottom.
        EXPECT_LE(layout.TextSize().cy, LicenseHeight(index, 0) + kLicenseHeightAddition);
    }
}

}  // namespace
