#include "ContactSheet.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#include "Common/message_kinds.h"
#include "LanguageTable.h"
#include "Lint.h"
#include "Snapshot.h"
#include "ui/Combo.h"
#include "ui/HeadlessHost.h"
#include "ui/Layouts.h"
#include "ui/MarkupLoader.h"
#include "ui/Painter.h"
#include "ui/Progress.h"
#include "ui/RichEdit.h"
#include "ui/RichText.h"
#include "ui/TextLayout.h"
#include "ui/WindowBase.h"

namespace fs = std::filesystem;

namespace kvsnap {
namespace {

// Sample values for the three format texts and the install folder.
constexpr double kSampleProgress = 42.0;
constexpr double kSampleFreeGiB = 117.4;
constexpr const char* kSampleProductSize = "120MB";
constexpr const char* kSampleInstallPath = "/opt/Quenlake/Kestrova Editor";
// The index shows every picture at a quarter of its size.
constexpr int kIndexScale = 4;
constexpr int kIndexGap = 8;
constexpr int kIndexLabelWidth = 120;
// Wide enough for any language name in the list.
constexpr int kItemMeasureWidth = 1000;

using Texts = std::map<std::string, std::string>;

struct LanguageTexts {
    Texts install;  // "install_page"
    Texts message;  // "message_page"
};

Texts pageTexts(const ui::MarkupDocument& doc, std::string_view page) {
    Texts texts;
    for (auto& [name, value] : doc.ChildTexts(page))
        if (!name.empty())
            texts.emplace(std::move(name), std::move(value));  // first one wins
    return texts;
}

std::string text(const Texts& texts, std::string_view key) {
    auto it = texts.find(std::string(key));
    return it == texts.end() ? std::string() : it->second;
}

// A format text filled in as the window would; a format that printf could not take safely is
// shown as it stands and reported.
template <typename T>
std::string formatted(const std::string& format, char kind, T value,
                      std::vector<std::string>& notes, const std::string& where) {
    const std::string wrong = kvres::checkFormat(format, kind);
    if (!wrong.empty()) {
        notes.push_back(where + ": format \"" + format + "\": " + wrong);
        return format;
    }
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    return buffer;
}

struct Page {
    std::string id;
    std::string markup;
    int height;  // 0: the markup's size
    std::function<void(MarkupWindow&)> prepare;
};

template <typename T = ui::Control>
T* find(MarkupWindow& w, std::string_view name) {
    return w.FindControl<T>(name);
}

void show(MarkupWindow& w, std::string_view name, bool visible) {
    if (auto* c = find(w, name))
        c->SetVisible(visible);
}

void select(MarkupWindow& w, std::string_view tabs, int page) {
    if (auto* t = find<ui::TabLayout>(w, tabs))
        t->SelectItem(page);
}

// What ApplyLanguage does to the main window: every install-page text on the control of its
// name, the formats filled in, the licence of the language in the licence panel.
void applyLanguage(MarkupWindow& w, int index, const LanguageTexts& texts,
                   std::vector<std::string>& notes, const std::string& where) {
    for (const auto& [name, value] : texts.install) {
        std::string shown = value;
        if (name == "install_label")
            shown = formatted(value, 'f', kSampleProgress, notes, where);
        else if (name == "space_free")
            shown = formatted(value, 'f', kSampleFreeGiB, notes, where);
        else if (name == "space_need")
            shown = formatted(value, 's', kSampleProductSize, notes, where);
        if (auto* c = find(w, name))
            c->SetText(shown);
    }
    const LanguageRow& row = LanguageRowFor(index);
    if (auto* licence = find(w, row.licenseControl)) {
        if (auto* target = find(w, "license_text"))
            target->SetText(licence->GetText());
        if (auto* layout = find(w, "license_text_layout"))
            layout->SetFixedHeight(LicenseHeight(index, 0) + kLicenseHeightAddition);
    }
    if (auto* combo = find<ui::Combo>(w, "language_combox"))
        combo->SelectItem(index, false);
    if (auto* edit = find(w, "install_file_path_edit"))
        edit->SetText(kSampleInstallPath);
}

// The installer draws the first caption onto the first slide (dark grey, bold, centred in the
// band 40 to 140 pixels from its top); a label in the same place stands in for it here.
void addSlideCaption(MarkupWindow& w, const std::string& caption) {
    auto* area = find<ui::Container>(w, "image_play");
    if (!area || caption.empty())
        return;
    auto label = std::make_unique<ui::Label>();
    label->SetAttribute("name", "slide_caption");
    label->SetAttribute("pos", "30,40,620,140");
    label->SetAttribute("font", "2");
    label->SetAttribute("textcolor", "#FF4A4A4A");
    label->SetAttribute("align", "center");
    label->SetAttribute("multiline", "true");
    label->SetText(caption);
    area->Add(std::move(label));
}

std::vector<Page> mainPages(int index, const LanguageTexts& texts, std::vector<std::string>& notes,
                            const std::string& language) {
    auto base = [=, &notes](const std::string& id) {
        return [=, &notes](MarkupWindow& w) {
            applyLanguage(w, index, texts, notes, language + "/" + id);
            for (const char* hidden : {"text_fail_retry", "text_fail_advice", "img_warning"})
                show(w, hidden, false);
        };
    };
    std::vector<Page> pages;
    pages.push_back({"1-licence", "InstallMainWnd.xml", 560, [=](MarkupWindow& w) {
                         base("1-licence")(w);
                         select(w, "set_layout", 0);
                     }});
    pages.push_back({"2-settings", "InstallMainWnd.xml", 560, [=](MarkupWindow& w) {
                         base("2-settings")(w);
                         select(w, "set_layout", 1);
                     }});
    pages.push_back({"3-running", "InstallMainWnd.xml", 360, [=](MarkupWindow& w) {
                         base("3-running")(w);
                         select(w, "main_tablayout", 1);
                         if (auto* p = find<ui::Progress>(w, "install_progress"))
                             p->SetValue(int(kSampleProgress));
                         addSlideCaption(w, text(texts.install, "anima_text_1"));
                     }});
    pages.push_back({"4-finish", "InstallMainWnd.xml", 360, [=](MarkupWindow& w) {
                         base("4-finish")(w);
                         select(w, "page_layout", 1);
                         if (auto* bg = find(w, "backgroudlayout"))
                             bg->SetBkImage("skin/backgroud_complete.png");
                     }});
    pages.push_back({"4-finish-hint", "InstallMainWnd.xml", 360, [=](MarkupWindow& w) {
                         // A product that is not started from here: the shortcut hint, in the
                         // font the program names for it.
                         base("4-finish-hint")(w);
                         select(w, "page_layout", 1);
                         if (auto* bg = find(w, "backgroudlayout"))
                             bg->SetBkImage("skin/backgroud_complete.png");
                         show(w, "start_app", false);
                         show(w, "text_startshortcut", true);
                         if (auto* hint = find(w, "text_startshortcut"))
                             hint->SetText("{f 18}" +
                                           text(texts.message, "ClickShortcutToLaunchText") +
                                           "{/f}");
                     }});
    pages.push_back(
        {"5-failure", "InstallMainWnd.xml", 360, [=](MarkupWindow& w) {
             base("5-failure")(w);
             select(w, "page_layout", 1);
             if (auto* bg = find(w, "backgroudlayout"))
                 bg->SetBkImage("skin/backgroud_complete.png");
             for (const char* shown : {"text_fail_retry", "text_fail_advice", "img_warning"})
                 show(w, shown, true);
             if (auto* start = find(w, "start_app"))
                 start->SetText(text(texts.install, "retry_btn"));
         }});
    return pages;
}

// Every kind the program defines, except 1, which shows nothing.
std::vector<Page> messagePages(const LanguageTexts& texts) {
    std::vector<Page> pages;
    for (int kind : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}) {
        const MessageKindTexts k = MessageKindTextsFor(kind);
        char id[16];
        std::snprintf(id, sizeof id, "box-%02d", kind);
        pages.push_back(
            {id, k.fromMarkup ? "MessageBox_down.xml" : "MessageBox.xml", 0,
             [k, texts](MarkupWindow& w) {
                 if (k.fromMarkup)
                     return;
                 if (auto* icon = find(w, "iconimage"); icon && k.icon != MessageIcon::Unchanged)
                     icon->SetBkImage(k.icon == MessageIcon::Help ? "skin/message_help.png"
                                                                  : "skin/message_exclamation.png");
                 if (k.noHidden)
                     show(w, "btn_no", false);
                 const std::pair<const char*, std::string_view> slots[] = {
                     {"btn_yes", k.yesKey},
                     {"btn_no", k.noKey},
                     {"msg_describe", k.describeKey},
                     {"msg_question", k.questionKey}};
                 for (const auto& [control, key] : slots)
                     if (auto* c = find(w, control))
                         c->SetText(key.empty() ? std::string() : text(texts.message, key));
             }});
    }
    pages.push_back({"hint", "transWnd.xml", 0, [](MarkupWindow&) {}});
    return pages;
}

bool inside(const ui::Control* c, std::string_view name) {
    for (; c; c = c->GetParent())
        if (c->GetName() == name)
            return true;
    return false;
}

// Every shown text measured against its box without ellipsis, and its glyphs counted.
// Controls below the window's bottom edge (the closed settings panel) are not seen.
void checkTexts(ui::Control* c, int clientHeight, const std::string& where,
                std::vector<std::string>& problems) {
    if (!c->IsVisible() || c->GetPos().top >= clientHeight)
        return;
    // A list's items are measured when it opens; here only their glyphs are counted.
    if (auto* combo = dynamic_cast<ui::Combo*>(c); combo && c->GetManager()) {
        for (int i = 0; i < combo->GetCount(); ++i) {
            const ui::ListLabelElement* item = combo->GetItemAt(i);
            if (!item || !item->IsVisible())
                continue;
            ui::TextStyle style;
            style.font = c->GetManager()->GetFont(item->GetFont());
            ui::TextLayout layout(ui::ParseInlineTags(item->GetText()), style, kItemMeasureWidth);
            if (layout.UnknownGlyphCount() > 0)
                problems.push_back(where + ": " + c->GetName() + ": item \"" + item->GetText() +
                                   "\": " + std::to_string(layout.UnknownGlyphCount()) +
                                   " missing glyphs");
        }
        return;
    }
    auto* label = dynamic_cast<ui::Label*>(c);
    const bool scrolls = dynamic_cast<ui::RichEdit*>(c) || inside(c, "license_text_layout");
    if (label && !scrolls && !label->GetText().empty() && (label->GetTextColor().argb >> 24) != 0 &&
        c->GetManager()) {
        const ui::PaintManager& pm = *c->GetManager();
        const ui::Rect box = c->GetPos().Deflate(label->GetTextPadding());
        ui::TextStyle style;
        style.font = pm.GetFont(label->GetFont());
        style.fontList = &pm.GetFonts();
        style.format = label->GetTextFormat() & ~uint32_t(ui::kTextEndEllipsis);
        if (box.Width() > 0) {
            ui::TextLayout layout(ui::ParseInlineTags(label->GetText()), style, box.Width());
            const ui::Size size = layout.TextSize();
            const std::string name =
                c->GetName().empty() ? "\"" + label->GetText() + "\"" : c->GetName();
            // The end ellipsis keeps a wrapping text to its first line.
            bool cutToOneLine = false;
            if ((label->GetTextFormat() & ui::kTextEndEllipsis) &&
                (label->GetTextFormat() & ui::kTextWordBreak)) {
                ui::TextStyle oneLine = style;
                oneLine.format &= ~uint32_t(ui::kTextWordBreak);
                ui::TextLayout single(ui::ParseInlineTags(label->GetText()), oneLine, box.Width());
                cutToOneLine = size.cy > single.TextSize().cy;
            }
            if (cutToOneLine)
                problems.push_back(where + ": " + name +
                                   ": wraps, but its end ellipsis cuts it to the first line");
            else if (size.cx > box.Width() || size.cy > box.Height())
                problems.push_back(where + ": " + name + ": text of " + std::to_string(size.cx) +
                                   " x " + std::to_string(size.cy) + " does not fit its " +
                                   std::to_string(box.Width()) + " x " +
                                   std::to_string(box.Height()));
            if (layout.UnknownGlyphCount() > 0)
                problems.push_back(where + ": " + name + ": " +
                                   std::to_string(layout.UnknownGlyphCount()) + " missing glyphs");
        }
    }
    auto* container = dynamic_cast<ui::Container*>(c);
    for (size_t i = 0; i < c->ChildCount(); ++i) {
        ui::Control* child = c->ChildAt(i);
        if (child && (!container || container->IsChildShown(child)))
            checkTexts(child, clientHeight, where, problems);
    }
}

struct Thumb {
    std::shared_ptr<ui::Image> image;
    std::string column;
};

bool writeIndex(const std::vector<std::string>& languages,
                const std::vector<std::vector<Thumb>>& rows, const std::string& path,
                std::string& error) {
    std::vector<int> widths;
    int rowHeight = 0;
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) {
            if (widths.size() <= c)
                widths.push_back(0);
            widths[c] = std::max(widths[c], row[c].image->Width() / kIndexScale);
            rowHeight = std::max(rowHeight, row[c].image->Height() / kIndexScale);
        }
    int width = kIndexLabelWidth;
    for (int w : widths)
        width += w + kIndexGap;
    const int height = int(rows.size()) * (rowHeight + kIndexGap) + kIndexGap;
    auto index = ui::Image::Create(width, height);
    if (!index) {
        error = "the index picture is too large";
        return false;
    }
    ui::Painter painter(*index);
    painter.FillRect({0, 0, width, height}, ui::Color(0xFFF3F6F7));
    ui::TextStyle style;
    style.font.family = "Segoe UI";
    style.font.size = 13;
    style.color = ui::Color(0xFF1F2A2E);
    for (size_t r = 0; r < rows.size(); ++r) {
        const int top = kIndexGap + int(r) * (rowHeight + kIndexGap);
        ui::TextLayout label(ui::ParseInlineTags(languages[r]), style, kIndexLabelWidth - 16);
        label.Draw(painter, {8, top, kIndexLabelWidth - 8, top + rowHeight});
        int left = kIndexLabelWidth;
        for (size_t c = 0; c < rows[r].size(); ++c) {
            const ui::Image& image = *rows[r][c].image;
            const ui::Rect box{left, top, left + image.Width() / kIndexScale,
                               top + image.Height() / kIndexScale};
            ui::ImageRef ref;
            ref.file = rows[r][c].column;
            painter.DrawImage(image, ref, box);
            left += widths[c] + kIndexGap;
        }
    }
    return index->SavePng(path, &error);
}

}  // namespace

bool RenderContactSheet(const std::string& skinPath, const std::string& folder, SheetReport& report,
                        std::string& error) {
    auto skin = OpenSkin(skinPath, error);
    if (!skin)
        return false;
    auto* backend = ui::headless::HeadlessBackend::Install();
    std::vector<std::string> languages;
    std::vector<std::vector<Thumb>> rows;
    for (int index = 0; index < kLanguageCount; ++index) {
        const LanguageRow& row = LanguageRowFor(index);
        const std::string language =
            fs::path(row.fileName).stem().string().substr(9);  // "language_"
        LanguageTexts texts;
        const std::string file = std::string("language/") + row.fileName;
        std::string readError;
        const auto body = skin->ReadText(file, &readError);
        const ui::MarkupDocument doc =
            body ? ui::MarkupLoader(skin).LoadFromText(*body, file) : ui::MarkupDocument();
        if (!doc.root)
            report.problems.push_back(language + ": " + file + " cannot be read");
        else
            texts = {pageTexts(doc, "install_page"), pageTexts(doc, "message_page")};

        std::vector<Page> pages = mainPages(index, texts, report.problems, language);
        for (Page& page : messagePages(texts))
            pages.push_back(std::move(page));

        const fs::path dir = fs::path(folder) / language;
        std::error_code ec;
        fs::create_directories(dir, ec);
        languages.push_back(row.name);
        rows.emplace_back();
        for (const Page& page : pages) {
            MarkupWindow window(page.markup);
            window.SetSkinPackage(skin);
            if (!window.Create(nullptr, page.markup)) {
                error = "the window of " + page.markup + " could not be made";
                return false;
            }
            page.prepare(window);
            if (page.height > 0)
                window.ResizeClient(650, page.height);
            window.ShowWindow(true, false);
            backend->Pump();
            const std::string where = language + "/" + page.id;
            if (auto* root = window.GetPaintManager().GetRoot())
                checkTexts(root, root->GetPos().bottom, where, report.problems);
            const ui::headless::Frame frame = backend->HostOf(window)->Render();
            const std::string path = (dir / (page.id + ".png")).string();
            if (!frame.image || !frame.image->SavePng(path, &error)) {
                error = "cannot write " + path + ": " + error;
                return false;
            }
            ++report.pictures;
            rows.back().push_back({frame.image, page.id});
        }
    }
    const std::string indexPath = (fs::path(folder) / "index.png").string();
    if (!writeIndex(languages, rows, indexPath, error))
        return false;
    ++report.pictures;
    return true;
}

}  // namespace kvsnap
