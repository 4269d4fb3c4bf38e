#include "Lint.h"

#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "LanguageTable.h"
#include "ui/Attributes.h"
#include "ui/Combo.h"
#include "ui/Image.h"
#include "ui/MarkupLoader.h"

namespace kvres {
namespace {

struct FileRule {
    const char* file;
    std::vector<const char*> names;     // controls the program looks up in this file
    std::vector<const char*> includes;  // files it must include
};

const std::vector<FileRule>& fileRules() {
    static const std::vector<FileRule> rules = {
        {"InstallMainWnd.xml",
         {"main_tablayout"},
         {"scrollbar.xml", "InstallSetting.xml", "InstallRunning.xml", "License.xml",
          "configure/configure.xml"}},
        {"InstallSetting.xml",
         {"backgroudlayout",
          "anima_text_1",
          "anima_text_2",
          "anima_text_3",
          "anima_text_4",
          "anima_text_5",
          "minbtn",
          "closebtn",
          "text_product_name",
          "text_fail_retry",
          "page_layout",
          "set_layout",
          "license_text_layout",
          "license_text",
          "select_language_text",
          "language_combox",
          "install_path_text",
          "install_file_path_edit",
          "browser_btn",
          "space_need",
          "space_free",
          "agree_improvement_checkbox",
          "agree_improvement"},
         {"InstallCustom.xml", "InstallFinished.xml"}},
        {"InstallCustom.xml",
         {"install_btn", "license_checkbox", "license_link", "install_setting"},
         {}},
        {"InstallFinished.xml",
         {"text_startshortcut", "start_app", "img_warning", "text_fail_advice"},
         {}},
        {"InstallRunning.xml",
         {"image_play", "image_play_option1", "install_progress", "install_label",
          "install_minbtn"},
         {}},
        {"License.xml", {"license_english", "license_chinese", "license_chinesetrad"}, {}},
        {"configure/configure.xml",
         {"Product_config",
          "Downloader_id",
          "Software_id",
          "Site_id",
          "Language_id",
          "Software_name",
          "Software_version",
          "Process_name",
          "Install_url",
          "Download_url",
          "Extra_download_url",
          "Banner_url",
          "Licensefile_url",
          "Md5",
          "Filesize",
          "ProductSize",
          "Cnet_download_url",
          "Md5_extra",
          "Gif_duration",
          "NeedStart_flag",
          "admin_flag",
          "product_url_english",
          "product_url_japanese",
          "product_url_chinesesimp",
          "product_url_spanish",
          "product_url_german",
          "product_url_french",
          "product_url_russian",
          "product_url_portuguese",
          "product_url_arabic",
          "product_url_italiano",
          "product_url_chinesetrad",
          "product_url_korean",
          "product_url_nederlands",
          "product_url_indonesian",
          "product_url_turkish",
          "product_url_hindi",
          "product_url_thai",
          "product_url_malay",
          "product_url_swedish",
          "product_url_czech"},
         {}},
        {"scrollbar.xml", {}, {}},
        {"MessageBox.xml",
         {"minbtn", "closebtn", "iconimage", "msg_describe", "msg_question", "btn_yes", "btn_no"},
         {}},
        {"MessageBox_down.xml",
         {"minbtn", "closebtn", "iconimage", "msg_describe", "msg_question", "btn_yes", "btn_no"},
         {}},
        {"transWnd.xml", {"foreImage", "version"}, {}},
    };
    return rules;
}

const std::vector<const char*> kInstallPage = {"select_language_text",
                                               "install_btn",
                                               "install_setting",
                                               "license_link",
                                               "browser_btn",
                                               "space_need",
                                               "space_free",
                                               "install_label",
                                               "install_path_text",
                                               "install_minbtn",
                                               "install_closebtn",
                                               "finish_label",
                                               "start_app",
                                               "agree_improvement",
                                               "extra_text",
                                               "text_fail_retry",
                                               "retry_btn",
                                               "text_fail_advice",
                                               "anima_text_1",
                                               "anima_text_2",
                                               "anima_text_3",
                                               "anima_text_4",
                                               "anima_text_5"};

const std::vector<const char*> kMessagePage = {"ClickShortcutToLaunchText",
                                               "FinshDesText",
                                               "FinshQueText",
                                               "ReplaceDesText",
                                               "ReplaceQueText",
                                               "CancelDesText",
                                               "CancelQueText",
                                               "AppExistDesText",
                                               "AppExistQueText",
                                               "PathErrorDesText",
                                               "PathErrorQueText",
                                               "YesText",
                                               "NoText",
                                               "ReplaceText",
                                               "CancelText",
                                               "InstallRunTimeOutDesText",
                                               "InstallRunTimeOutQueText",
                                               "MD5FailDesText",
                                               "MD5FailQueText",
                                               "UrlFailDexText",
                                               "UrlFailQueText",
                                               "InternetFailDesText",
                                               "InternetFailQueText",
                                               "InternetTimeoutDesText",
                                               "InternetTimeoutQueText",
                                               "ConfirmText",
                                               "NoEnoughSpaceDesText",
                                               "OkButtonText"};

// Pictures the program opens by name, whatever the markup says.
const char* const kProgramImages[] = {"skin/backgroud_complete.png", "skin/message_help.png",
                                      "skin/message_exclamation.png"};

constexpr int kAnimationFrames = 21;
constexpr int kSlideWidth = 650, kSlideHeight = 300;
// The program writes the finish page's launch hint inside {f 18}.
constexpr int kLaunchHintFont = 18;
// A width or precision of more digits than this makes printf build a huge field.
constexpr size_t kMaxFieldDigits = 2;
// Slide pictures are looked for up to this number; a gap below it is reported.
constexpr int kMaxSlides = 99;

bool iequals(std::string_view a, std::string_view b) {
    return ui::ZipArchive::NormalizeName(a) == ui::ZipArchive::NormalizeName(b);
}

bool endsWithImage(std::string_view attribute) {
    constexpr std::string_view kSuffix = "image";
    if (attribute.size() < kSuffix.size())
        return false;
    return iequals(attribute.substr(attribute.size() - kSuffix.size()), kSuffix);
}

// A file of the package read twice over: as written, and as the program's loader builds it
// (without following includes, so each file answers for the controls it holds itself).
struct LoadedFile {
    ui::MarkupElement elements;
    ui::MarkupDocument document;
};

class Linter {
public:
    explicit Linter(const ui::ZipArchive& package) : m_package(package) {}

    std::vector<LintProblem> run() {
        wellFormed();
        for (const FileRule& rule : fileRules())
            markupFile(rule);
        if (!m_package.Contains("scrollbar.bmp"))
            add("scrollbar.bmp", "", "missing: the default scroll bar pictures");
        fontsAndItems();
        for (const LanguageRow& row : LanguageRows())
            languageFile(std::string("language/") + row.fileName);
        markupImages();
        programImages();
        return std::move(m_problems);
    }

private:
    void add(std::string file, std::string name, std::string what) {
        m_problems.push_back({std::move(file), std::move(name), std::move(what)});
    }

    // The read file, or null (reported once) when it is missing or not XML.
    const LoadedFile* document(const std::string& file) {
        const std::string key = ui::ZipArchive::NormalizeName(file);
        if (auto it = m_docs.find(key); it != m_docs.end())
            return it->second.get();
        auto& slot = m_docs[key];
        const auto text = m_package.UnzipText(file);
        if (!text)
            return nullptr;
        auto elements = ui::MarkupLoader::ParseElements(*text, nullptr);
        if (!elements)
            return nullptr;
        slot = std::make_unique<LoadedFile>(
            LoadedFile{std::move(*elements), ui::MarkupLoader(nullptr).LoadFromText(*text, file)});
        return slot.get();
    }

    void wellFormed() {
        for (const std::string& name : m_package.EntryNames()) {
            if (name.size() < 4 || !iequals(name.substr(name.size() - 4), ".xml"))
                continue;
            const auto text = m_package.UnzipText(name);
            std::string error;
            if (!text)
                add(name, "", "cannot be read from the package");
            else if (!ui::MarkupLoader::ParseElements(*text, &error))
                add(name, "", error);
        }
    }

    void markupFile(const FileRule& rule) {
        if (!m_package.Contains(rule.file)) {
            add(rule.file, "", "missing");
            return;
        }
        const LoadedFile* file = document(rule.file);
        if (!file)
            return;  // reported as not well-formed
        for (const char* name : rule.names)
            if (!file->document.FindControl(name))
                add(rule.file, name, "no control of this name");
        std::vector<std::string> sources;
        file->elements.ForEach([&](const ui::MarkupElement& e) {
            const std::string* source = e.Attribute("source");
            if (iequals(e.tag, "Include") && source)
                sources.push_back(*source);
        });
        for (const char* include : rule.includes) {
            bool found = false;
            for (const std::string& source : sources)
                found = found || iequals(source, include);
            if (!found)
                add(rule.file, include, "not included");
        }
    }

    int fontCount(const char* file) {
        const LoadedFile* loaded = document(file);
        return loaded ? int(loaded->document.fonts.size()) : 0;
    }

    void fontsAndItems() {
        m_mainFonts = fontCount("InstallMainWnd.xml");
        m_boxFonts = fontCount("MessageBox.xml");
        if (document("InstallMainWnd.xml") && m_mainFonts <= kLaunchHintFont)
            add("InstallMainWnd.xml", "Font",
                "has " + std::to_string(m_mainFonts) +
                    " fonts; the finish page's launch hint uses font " +
                    std::to_string(kLaunchHintFont));
        const LoadedFile* setting = document("InstallSetting.xml");
        const ui::Control* list =
            setting ? setting->document.FindControl("language_combox") : nullptr;
        if (list) {
            // Anything but a list holds no items.
            const auto* combo = dynamic_cast<const ui::Combo*>(list);
            const int items = combo ? combo->GetCount() : 0;
            for (int i = 0; i < items; ++i) {
                const ui::ListLabelElement* item = combo->GetItemAt(i);
                // The list shows each name after a blank, the tooltip the same text.
                const std::string text = item ? item->GetText() : std::string();
                if (text.size() < 2 || text[0] != ' ' || !item || text != item->GetToolTip())
                    add("InstallSetting.xml", "language_combox",
                        "item " + std::to_string(i + 1) + " (\"" + text +
                            "\") needs a leading blank and the same text as its tooltip");
            }
            if (items != kLanguageCount)
                add("InstallSetting.xml", "language_combox",
                    "has " + std::to_string(items) + " items, one per language (" +
                        std::to_string(kLanguageCount) + ") is needed");
        }
    }

    // {f N} tags must name a font the window has, or the text falls back to the default font.
    void fontTags(const std::string& file, const std::string& label, const std::string& text,
                  int fonts, const char* window) {
        for (size_t at = text.find("{f"); at != std::string::npos; at = text.find("{f", at + 2)) {
            size_t i = at + 2;
            if (i >= text.size() || text[i] != ' ')
                continue;
            while (i < text.size() && text[i] == ' ')
                ++i;
            const size_t digits = i;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9')
                ++i;
            if (i == digits || i >= text.size() || text[i] != '}')
                continue;
            // More digits than any font list has entries: report it as it stands.
            const std::optional<int> index =
                i - digits <= 6 ? ui::ParseInt(std::string_view(text).substr(digits, i - digits))
                                : std::nullopt;
            if (fonts > 0 && (!index || *index >= fonts))
                add(file, label,
                    "uses font " + text.substr(digits, i - digits) + " but " + window + " has " +
                        std::to_string(fonts));
        }
    }

    void languagePage(const std::string& file, const ui::MarkupDocument& doc, const char* page,
                      const std::vector<const char*>& labels, int fonts, const char* window) {
        if (!doc.FindControl(page)) {
            add(file, page, "no page of this name");
            return;
        }
        // Read as the program reads it: a label without a text reads as an empty one.
        std::map<std::string, std::string> texts;
        for (auto& [name, text] : doc.ChildTexts(page))
            if (!name.empty())
                texts.emplace(std::move(name), std::move(text));  // the first of two wins
        for (const char* label : labels)
            if (!texts.count(label))
                add(file, label, std::string("no label of this name with a text in ") + page);
        for (const auto& [label, text] : texts)
            fontTags(file, label, text, fonts, window);
        for (auto [label, kind] : {std::pair{"install_label", 'f'}, std::pair{"space_free", 'f'},
                                   std::pair{"space_need", 's'}}) {
            auto it = texts.find(label);
            if (std::string_view(page) != "install_page" || it == texts.end())
                continue;
            const std::string wrong = checkFormat(it->second, kind);
            if (!wrong.empty())
                add(file, label, "format \"" + it->second + "\": " + wrong);
        }
    }

    void languageFile(const std::string& file) {
        if (!m_package.Contains(file)) {
            add(file, "", "missing");
            return;
        }
        const LoadedFile* loaded = document(file);
        if (!loaded)
            return;
        const ui::MarkupDocument& doc = loaded->document;
        languagePage(file, doc, "install_page", kInstallPage, m_mainFonts, "InstallMainWnd.xml");
        languagePage(file, doc, "message_page", kMessagePage, m_boxFonts, "MessageBox.xml");
    }

    // The decoded picture, or null with the problem reported (once per picture).
    std::shared_ptr<ui::Image> picture(const std::string& file, const std::string& path,
                                       const std::string& by) {
        std::string resolved = path;
        if (!m_package.Contains(resolved))
            resolved = "skin/" + path;
        if (!m_package.Contains(resolved)) {
            if (m_reported.insert(ui::ZipArchive::NormalizeName(path)).second)
                add(file, path, "picture missing (" + by + ")");
            return nullptr;
        }
        const std::string key = ui::ZipArchive::NormalizeName(resolved);
        if (auto it = m_images.find(key); it != m_images.end())
            return it->second;
        std::vector<uint8_t> bytes;
        std::string error;
        std::shared_ptr<ui::Image> image;
        if (m_package.Unzip(resolved, bytes, &error))
            image = ui::DecodeImage(bytes.data(), bytes.size(), &error);
        if (!image)
            add(file, path, "not a readable picture: " + error);
        m_images[key] = image;
        return image;
    }

    // Each image attribute read as the framework reads it.
    void markupImage(const std::string& file, std::string_view attribute, std::string_view value) {
        std::string error;
        const auto ref = ui::ParseImageRef(value, &error);
        if (!ref)
            add(file, std::string(value), std::string(attribute) + " cannot be read: " + error);
        else if (!ref->file.empty())
            picture(file, ref->file, "named by " + std::string(attribute));
    }

    void markupImages() {
        for (const std::string& name : m_package.EntryNames()) {
            if (name.size() < 4 || !iequals(name.substr(name.size() - 4), ".xml") ||
                iequals(name.substr(0, 9), "language/"))
                continue;
            const LoadedFile* file = document(name);
            if (!file)
                continue;
            file->elements.ForEach([&](const ui::MarkupElement& e) {
                for (const auto& [attributeName, value] : e.attributes) {
                    if (endsWithImage(attributeName))
                        markupImage(name, attributeName, value);
                    // A Default's value is a list of attributes of its own.
                    if (!iequals(e.tag, "Default") || !iequals(attributeName, "value"))
                        continue;
                    std::string error;
                    const auto list = ui::ParseAttributeList(value, &error);
                    if (!list) {
                        const std::string* defaultName = e.Attribute("name");
                        add(name, defaultName ? *defaultName : "Default",
                            "its value cannot be read: " + error);
                        continue;
                    }
                    for (const auto& [attribute, listed] : *list)
                        if (endsWithImage(attribute))
                            markupImage(name, attribute, listed);
                }
            });
        }
    }

    void programImages() {
        for (const char* path : kProgramImages)
            picture("", path, "opened by the program");
        for (int frame = 0; frame < kAnimationFrames; ++frame) {
            char path[32];
            std::snprintf(path, sizeof path, "skin/gif/bg%.2d.png", frame);
            picture("", path, "launch-hint frame");
        }

        // Slides: consecutive from 1; the program counts up to the first missing number.
        int count = 0;
        while (count < kMaxSlides && m_package.Contains(slide(count + 1)))
            ++count;
        if (count == 0)
            add("", slide(1), "picture missing (the first slide)");
        for (int n = count + 2; n <= kMaxSlides; ++n)
            if (m_package.Contains(slide(n)))
                add("", slide(n),
                    "after the gap at " + slide(count + 1) + ": the slide show stops before it");
        for (int n = 1; n <= count; ++n) {
            auto image = picture("", slide(n), "slide");
            if (image && (image->Width() != kSlideWidth || image->Height() != kSlideHeight))
                add("", slide(n),
                    "is " + std::to_string(image->Width()) + " x " +
                        std::to_string(image->Height()) + ", slides are " +
                        std::to_string(kSlideWidth) + " x " + std::to_string(kSlideHeight));
        }
        if (const LoadedFile* running = document("InstallRunning.xml")) {
            int options = 0;
            while (options < kMaxSlides &&
                   running->document.FindControl("image_play_option" + std::to_string(options + 1)))
                ++options;
            if (options != count)
                add("InstallRunning.xml", "image_play_option" + std::to_string(options + 1),
                    std::to_string(count) + " slide pictures but " + std::to_string(options) +
                        " slide options");
        }
    }

    static std::string slide(int n) { return "skin/anima/" + std::to_string(n) + ".png"; }

    const ui::ZipArchive& m_package;
    std::vector<LintProblem> m_problems;
    std::map<std::string, std::unique_ptr<LoadedFile>> m_docs;
    std::map<std::string, std::shared_ptr<ui::Image>> m_images;
    std::set<std::string> m_reported;
    int m_mainFonts = 0;
    int m_boxFonts = 0;
};

}  // namespace

std::string checkFormat(const std::string& text, char kind) {
    int matching = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        const size_t start = i++;
        if (i < text.size() && text[i] == '%')
            continue;
        while (i < text.size() && std::string_view("-+ #0'").find(text[i]) != std::string::npos)
            ++i;
        bool tooWide = false;
        auto digitsOrStar = [&]() -> bool {
            if (i < text.size() && text[i] == '*') {
                ++i;
                return true;
            }
            const size_t digits = i;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9')
                ++i;
            tooWide = tooWide || i - digits > kMaxFieldDigits;
            return false;
        };
        bool star = digitsOrStar();
        if (i < text.size() && text[i] == '.') {
            ++i;
            star = digitsOrStar() || star;
        }
        const std::string spec = text.substr(start, i - start + 1);
        if (star)
            return "\"" + spec + "\" reads a width or precision argument";
        if (tooWide)
            return "\"" + spec + "\" asks for a field wider than any window";
        const size_t lengthStart = i;
        while (i < text.size() && std::string_view("hlLqjzt").find(text[i]) != std::string::npos)
            ++i;
        if (i >= text.size())
            return "a \"%\" at the end with no conversion";
        // "%lf" is still a double; "%Lf" wants a long double and "%ls" a wide string.
        const std::string length = text.substr(lengthStart, i - lengthStart);
        const char c = text[i];
        const std::string conversion = text.substr(start, i - start + 1);
        const bool isDouble = std::string_view("fFeEgGaA").find(c) != std::string::npos;
        const bool wanted = kind == 'f' ? isDouble && (length.empty() || length == "l")
                                        : c == 's' && length.empty();
        if (!wanted)
            return "\"" + conversion + "\" is not " +
                   (kind == 'f' ? "a conversion of a double" : "a string conversion");
        ++matching;
    }
    if (matching != 1)
        return std::to_string(matching) + " conversions, exactly one is needed";
    return {};
}

std::vector<LintProblem> lintSkin(const ui::ZipArchive& package) {
    return Linter(package).run();
}

}  // namespace kvres
