// The demo product's skin package as a vendor checks it: `kvres lint` passes on the package the
// build embeds and names the broken part of a damaged copy; the contact sheet renders every page
// in every language with no text cut off and no glyph missing, and reports a text that does not
// fit.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Lint.h"
#include "test_support.h"
#include "ui/Image.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = KV_BIN_DIR;
// The pictures the build draws, beside the markup of the source tree.
const fs::path kSkinSource = fs::path(KV_SOURCE_DIR) / "skin";
const fs::path kSkinArt = fs::path(KV_BIN_DIR).parent_path() / "skin-art";

// The contact sheet renders 381 pictures; a sanitizer build takes its time over them.
constexpr int kSheetTimeoutMs = 600000;

kvtest::RunResult kvres(const std::vector<std::string>& args) {
    return kvtest::runProgram(kBin + "/kvres", args);
}

void replaceIn(const fs::path& file, const std::string& from, const std::string& to) {
    std::string text = kvtest::readFile(file);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from << " not in " << file;
    text.replace(at, from.size(), to);
    kvtest::writeFile(file, text);
}

// A copy of the package's two source folders that a test may damage, packed as the build packs.
struct SkinCopy {
    kvtest::TempDir dir;
    fs::path markup = dir.path() / "markup";
    fs::path art = dir.path() / "art";
    fs::path zip = dir.path() / "skin.zip";

    SkinCopy() {
        fs::copy(kSkinSource, markup, fs::copy_options::recursive);
        fs::copy(kSkinArt, art, fs::copy_options::recursive);
    }
    kvtest::RunResult pack() const {
        return kvres({"pack", markup.string(), art.string(), zip.string()});
    }
    kvtest::RunResult lint() const {
        auto packed = pack();
        if (packed.exitCode != 0)
            return packed;
        return kvres({"lint", zip.string()});
    }
};

TEST(KvresLint, ShippedPackagePasses) {
    auto result = kvres({"lint", kBin + "/kvdownloader"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("no problems"), std::string::npos) << result.output;
}

// Each damage is named with its file and the control, label or picture concerned.
TEST(KvresLint, NamesTheBrokenPartOfADamagedCopy) {
    struct Case {
        const char* damage;
        std::function<void(const SkinCopy&)> apply;
        std::vector<std::string> expected;  // all of them in one output line
    } cases[] = {
        {"a control the program looks up is missing",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "InstallCustom.xml", "name=\"install_btn\"",
                       "name=\"install_button\"");
         },
         {"InstallCustom.xml: install_btn: no control of this name"}},
        {"a language file lacks a label",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "language" / "language_german.xml", "name=\"retry_btn\"",
                       "name=\"retry_button\"");
         },
         {"language/language_german.xml: retry_btn: no label"}},
        {"a format text with two conversions",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "language" / "language_french.xml",
                       "name=\"install_label\" text=\"", "name=\"install_label\" text=\"%.1f of ");
         },
         {"language/language_french.xml: install_label: format", "2 conversions"}},
        {"a space text that would read a wide string",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "language" / "language_korean.xml", "%s", "%ls");
         },
         {"language/language_korean.xml: space_need", "\"%ls\" is not a string conversion"}},
        {"a picture the markup names is missing",
         [](const SkinCopy& s) { fs::remove(s.art / "skin" / "btn_install.png"); },
         {"InstallCustom.xml: skin\\btn_install.png: picture missing"}},
        {"a picture only the program names is missing",
         [](const SkinCopy& s) { fs::remove(s.art / "skin" / "message_exclamation.png"); },
         {"package: skin/message_exclamation.png: picture missing"}},
        {"a launch-hint frame is missing",
         [](const SkinCopy& s) { fs::remove(s.art / "skin" / "gif" / "bg20.png"); },
         {"skin/gif/bg20.png: picture missing"}},
        {"a gap in the slide numbering",
         [](const SkinCopy& s) {
             fs::copy_file(s.art / "skin" / "anima" / "1.png", s.art / "skin" / "anima" / "5.png");
         },
         {"skin/anima/5.png: after the gap at skin/anima/4.png"}},
        {"a fourth slide without its option",
         [](const SkinCopy& s) {
             fs::copy_file(s.art / "skin" / "anima" / "1.png", s.art / "skin" / "anima" / "4.png");
         },
         {"InstallRunning.xml: image_play_option4: 4 slide pictures but 3 slide options"}},
        {"a slide of the wrong size",
         [](const SkinCopy& s) {
             fs::copy_file(s.art / "skin" / "logo.png", s.art / "skin" / "anima" / "3.png",
                           fs::copy_options::overwrite_existing);
         },
         {"skin/anima/3.png: is 48 x 48, slides are 650 x 300"}},
        {"a picture that is not one",
         [](const SkinCopy& s) { kvtest::writeFile(s.art / "skin" / "progress.png", "PNG? no"); },
         {"skin\\progress.png: not a readable picture"}},
        {"markup that is not well-formed",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "InstallRunning.xml", "width=\"650\" height",
                       "width=\"650 height");
         },
         {"InstallRunning.xml: not well-formed XML"}},
        {"a file of the tree is missing",
         [](const SkinCopy& s) { fs::remove(s.markup / "transWnd.xml"); },
         {"transWnd.xml: missing"}},
        {"an include is gone",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "InstallSetting.xml",
                       "<Include source=\"InstallFinished.xml\" />", "");
         },
         {"InstallSetting.xml: InstallFinished.xml: not included"}},
        {"the font the launch hint uses is missing",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "InstallMainWnd.xml", "<Font name=\"Segoe UI\" size=\"15\" />   ",
                       "");
         },
         {"InstallMainWnd.xml: Font: has 18 fonts"}},
        {"a language item is missing from the list",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "InstallSetting.xml",
                       "<ListLabelElement text=\" Svenska\" tooltip=\" Svenska\" />", "");
         },
         {"InstallSetting.xml: language_combox: has 19 items"}},
        {"a text names a font the window lacks",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "language" / "language_spanish.xml",
                       "name=\"install_btn\" text=\"", "name=\"install_btn\" text=\"{f 40}");
         },
         {"language/language_spanish.xml: install_btn: uses font 40 but InstallMainWnd.xml has "
          "19"}},
        {"a font number past any font list",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "language" / "language_italiano.xml",
                       "name=\"browser_btn\" text=\"",
                       "name=\"browser_btn\" text=\"{f 99999999999}");
         },
         {"language/language_italiano.xml: browser_btn: uses font 99999999999"}},
        {"an image attribute the framework cannot read",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "transWnd.xml", "bkimage=\"skin/gif/bg00.png\"",
                       "bkimage=\"file='skin/gif/bg00.png\"");
         },
         {"transWnd.xml: file='skin/gif/bg00.png: bkimage cannot be read"}},
        {"a language file is missing",
         [](const SkinCopy& s) { fs::remove(s.markup / "language" / "language_nederland.xml"); },
         {"language/language_nederland.xml: missing"}},
        {"a language file without its message page",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "language" / "language_thai.xml", "name=\"message_page\"",
                       "name=\"messages\"");
         },
         {"language/language_thai.xml: message_page: no page of this name"}},
        {"a configuration label is missing",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "configure" / "configure.xml", "name=\"Gif_duration\"",
                       "name=\"Gif_seconds\"");
         },
         {"configure/configure.xml: Gif_duration: no control of this name"}},
        {"a language item without its leading blank",
         [](const SkinCopy& s) {
             replaceIn(s.markup / "InstallSetting.xml", "text=\" Español\"", "text=\"Español\"");
         },
         {"InstallSetting.xml: language_combox: item 4 (\"Español\") needs a leading blank"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.damage);
        SkinCopy copy;
        c.apply(copy);
        auto result = copy.lint();
        EXPECT_EQ(result.exitCode, 1) << result.output;
        bool found = false;
        std::istringstream lines(result.output);
        for (std::string line; std::getline(lines, line) && !found;) {
            bool all = true;
            for (const std::string& part : c.expected)
                all = all && line.find(part) != std::string::npos;
            found = all;
        }
        EXPECT_TRUE(found) << result.output;
    }
}

// Each file is read as the program's loader builds it: a control the loader skips is one the
// program cannot find. What the loader logs on the way stays out of the report.
TEST(KvresLint, AControlTheLoaderSkipsIsMissing) {
    SkinCopy copy;
    replaceIn(copy.markup / "InstallCustom.xml", "<Button name=\"install_btn\"",
              "<Knob name=\"install_btn\"");
    auto result = copy.lint();
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("InstallCustom.xml: install_btn: no control of this name"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("Knob"), std::string::npos) << result.output;
}

TEST(KvresLint, InputThatIsNoPackageIsExitTwo) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir.path() / "notes.txt", "not a skin");
    for (const std::string& input :
         {(dir.path() / "absent.zip").string(), (dir.path() / "notes.txt").string(),
          kBin + "/kvdownloader_bare"}) {
        auto result = kvres({"lint", input});
        EXPECT_EQ(result.exitCode, 2) << input << "\n" << result.output;
    }
}

TEST(KvresLint, FormatTextsTakeExactlyOneArgumentOfTheirKind) {
    struct Case {
        const char* format;
        char kind;
        bool ok;
    } cases[] = {
        {"{f 2}%0.f%%{/f}", 'f', true},
        {"%.1fGB", 'f', true},
        {"%lf", 'f', true},
        {"%e%%", 'f', true},
        {"%s", 's', true},
        {"Space: %-10s", 's', true},
        {"%d%%", 'f', false},
        {"%f of %f", 'f', false},
        {"%*f", 'f', false},
        {"%.*f", 'f', false},
        {"%Lf", 'f', false},
        {"%ls", 's', false},
        {"%s", 'f', false},
        {"%f", 's', false},
        {"100%", 'f', false},
        {"50 % done %f", 'f', false},
        {"no conversion", 's', false},
        {"%n%f", 'f', false},
        {"%.99f", 'f', true},
        {"%.999999999f", 'f', false},
        {"%100000s", 's', false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kvres::checkFormat(c.format, c.kind).empty(), c.ok)
            << c.format << " (" << c.kind << "): " << kvres::checkFormat(c.format, c.kind);
}

TEST(KvresPack, FoldersThatBothHoldAFileAreRefused) {
    kvtest::TempDir dir;
    for (const char* folder : {"a/skin", "b/skin"})
        fs::create_directories(dir.path() / folder);
    kvtest::writeFile(dir.path() / "a" / "skin" / "logo.png", "one");
    kvtest::writeFile(dir.path() / "b" / "skin" / "logo.png", "two");
    kvtest::writeFile(dir.path() / "b" / "skin" / "other.png", "three");
    const auto zip = dir.path() / "out.zip";
    auto result =
        kvres({"pack", (dir.path() / "a").string(), (dir.path() / "b").string(), zip.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find("skin/logo.png"), std::string::npos) << result.output;
    EXPECT_FALSE(fs::exists(zip));
}

std::map<std::string, std::string> filesBelow(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).generic_string()] =
                kvtest::readFile(entry.path());
    return files;
}

// The build draws the pictures afresh; the same sources must give the same package.
TEST(SkinArt, DrawsTheSamePicturesEveryTime) {
    kvtest::TempDir dir;
    for (const char* run : {"one", "two"}) {
        auto result = kvtest::runProgram(kBin + "/skin-art", {(dir.path() / run).string()});
        ASSERT_EQ(result.exitCode, 0) << result.output;
    }
    const auto one = filesBelow(dir.path() / "one");
    EXPECT_EQ(one, filesBelow(dir.path() / "two"));
    EXPECT_GT(one.size(), 50u);
    for (const auto& [name, bytes] : one)
        EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
}

// The scroll bar bitmap keeps straight alpha: its round thumb ends fade out, its middle is
// the palette's colour, not a darkened one.
TEST(SkinArt, ScrollBarBitmapKeepsItsColoursAndAlpha) {
    const std::string bytes = kvtest::readFile(kSkinArt / "scrollbar.bmp");
    auto image = ui::DecodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ASSERT_TRUE(image);
    ASSERT_EQ(image->Width(), 24);
    ASSERT_EQ(image->Height(), 24);
    auto pixel = [&](int x, int y) { return image->PixelAt(x, y); };
    EXPECT_EQ(pixel(4, 12), 0xFFC5D0D3u) << std::hex << pixel(4, 12);    // normal thumb
    EXPECT_EQ(pixel(20, 12), 0xFF0E5E6Fu) << std::hex << pixel(20, 12);  // pushed thumb
    EXPECT_EQ(pixel(0, 12) >> 24, 0u) << "outside the thumb stays transparent";
    // The rounded end has part-covered pixels; they keep the thumb's colour, only their alpha
    // is less.
    uint32_t part = 0;
    for (int y = 0; y < 4 && !part; ++y)
        for (int x = 0; x < 8 && !part; ++x)
            if ((pixel(x, y) >> 24) >= 64 && (pixel(x, y) >> 24) <= 224)
                part = pixel(x, y);
    ASSERT_NE(part, 0u) << "no part-covered pixel at the thumb's end";
    for (int shift : {0, 8, 16}) {
        const int got = int((part >> shift) & 0xFF), want = int((0xC5D0D3u >> shift) & 0xFF);
        EXPECT_NEAR(got, want, 4) << "channel at bit " << shift << std::hex << " of " << part;
    }
}

std::shared_ptr<ui::Image> decodeFile(const fs::path& file) {
    const std::string bytes = kvtest::readFile(file);
    return ui::DecodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Pixels of `a` and `b` that differ by more than rounding in some channel.
int differingPixels(const ui::Image& a, const ui::Image& b) {
    int count = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const uint32_t p = a.PixelAt(x, y), q = b.PixelAt(x, y);
            for (int shift = 0; shift < 32; shift += 8)
                if (std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)) > 2) {
                    ++count;
                    break;
                }
        }
    return count;
}

// The README shows pictures of the skin copied from the contact sheet (doc/skin/pictures.txt);
// a change to the skin or the framework that alters them must refresh them.
void expectReadmePicturesCurrent(const fs::path& sheet) {
    const fs::path doc = fs::path(KV_SOURCE_DIR) / "doc" / "skin";
    std::istringstream table(kvtest::readFile(doc / "pictures.txt"));
    std::string line;
    int compared = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string rendered, shown;
        if (!(fields >> rendered >> shown) || rendered[0] == '#')
            continue;
        auto now = decodeFile(sheet / rendered);
        auto readme = decodeFile(doc / shown);
        ASSERT_TRUE(now && readme) << rendered << " or " << shown << " does not decode";
        ASSERT_EQ(now->Width(), readme->Width()) << shown;
        ASSERT_EQ(now->Height(), readme->Height()) << shown;
        EXPECT_EQ(differingPixels(*now, *readme), 0)
            << "doc/skin/" << shown << " differs from the contact sheet's " << rendered
            << ": run scripts/contact-sheet";
        ++compared;
    }
    EXPECT_GE(compared, 6);
}

TEST(ContactSheet, EveryPageInEveryLanguageFitsAndHasItsGlyphs) {
    kvtest::TempDir dir;
    auto result = kvtest::runProgram(
        kBin + "/kvsnap", {"--contact-sheet", kBin + "/kvdownloader", dir.path().string()},
        kSheetTimeoutMs);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("381 pictures"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(", 0 problems"), std::string::npos) << result.output;
    for (const char* page :
         {"arabic/1-licence.png", "thai/2-settings.png", "hindi/3-running.png",
          "korean/4-finish.png", "malay/4-finish-hint.png", "czech/5-failure.png",
          "chinesetrad/box-07.png", "nederland/box-05.png", "turkish/hint.png", "index.png"})
        EXPECT_TRUE(fs::is_regular_file(dir.path() / page)) << page;
    expectReadmePicturesCurrent(dir.path());
}

// A text too long for its button and characters no font has (in a text, in a language name) are
// all reported, by page.
TEST(ContactSheet, ReportsATextThatDoesNotFitAndMissingGlyphs) {
    SkinCopy copy;
    replaceIn(copy.markup / "language" / "language_german.xml", "name=\"install_btn\" text=\"",
              "name=\"install_btn\" text=\"Jetzt sofort und ohne weitere Umstände ");
    replaceIn(copy.markup / "language" / "language_swedish.xml", "name=\"CancelDesText\" text=\"",
              "name=\"CancelDesText\" text=\"\xEE\x80\x80 ");  // U+E000, private use
    replaceIn(copy.markup / "InstallSetting.xml", "text=\" Svenska\"",
              "text=\" Svenska\xEE\x80\x80\"");
    ASSERT_EQ(copy.pack().exitCode, 0);
    kvtest::TempDir out;
    auto result = kvtest::runProgram(kBin + "/kvsnap",
                                     {"--contact-sheet", copy.zip.string(), out.path().string()},
                                     kSheetTimeoutMs);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("german/1-licence: install_btn: text of"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("swedish/box-02: msg_describe: 1 missing glyphs"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("czech/2-settings: language_combox: item \" Svenska"),
              std::string::npos)
        << result.output;
    EXPECT_TRUE(fs::exists(out.path() / "index.png")) << "problems do not stop the sheet";
}

}  // namespace
