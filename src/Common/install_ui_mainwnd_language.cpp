// The main window's interface language: the start-up choice, the list, and applying a language
// file to the window.

#include "CConfigure.h"
#include "Common/install_ui_mainwnd.h"
#include "Common/startup_sequence.h"
#include "LanguageTable.h"
#include "Logging.h"
#include "report/EventReporter.h"
#include "ui/Combo.h"
#include "ui/Control.h"
#include "ui/MarkupLoader.h"

namespace {

using PageTexts = std::vector<std::pair<std::string, std::string>>;

PageTexts LanguagePage(const std::shared_ptr<ui::SkinPackage>& skin, int languageIndex,
                       std::string_view page) {
    const LanguageRow& row = LanguageRowFor(languageIndex);
    if (!skin || !*row.fileName)
        return {};
    ui::MarkupLoader loader(skin, "skin\\");
    const ui::MarkupDocument doc = loader.Load(std::string("language\\") + row.fileName);
    return doc.ChildTexts(page);
}

}  // namespace

void InstallUIMainWnd::ChooseUiLanguage(uint32_t userLanguageId) {
    languageIndex = ReportStartupCountry(userLanguageId);
    SelectLanguageItem(languageIndex);
    ApplyLanguage();
    ResizeForSettings(false);
}

void InstallUIMainWnd::SelectLanguageItem(int requested) {
    auto* list = FindControl<ui::Combo>("language_combox");
    if (!list) {
        languageIndex = requested;
        return;
    }
    int firstVisible = -1;
    bool firstItemVisible = false;
    bool requestedVisible = false;
    for (int i = 0; i < list->GetCount(); ++i) {
        const ui::Control* item = list->GetItemAt(i);
        if (!item || !item->IsVisible())
            continue;
        if (firstVisible < 0)
            firstVisible = i;
        firstItemVisible = firstItemVisible || i == 0;
        requestedVisible = requestedVisible || i == requested;
    }
    int chosen = requestedVisible ? requested : firstItemVisible ? 0 : firstVisible;
    if (chosen < 0)
        chosen = 0;
    languageIndex = chosen;
    // Selected quietly: the caller applies the language once.
    list->SelectItem(chosen, false);
}

void InstallUIMainWnd::ApplyLanguage() {
    const int index = languageIndex;
    const LanguageRow& row = LanguageRowFor(index);
    if (const ui::Control* licence =
            *row.licenseControl ? FindControl(row.licenseControl) : nullptr) {
        SetControlText("license_text", licence->GetText());
        EventReporter::instance().report("DownloaderInfo00", "LanguageSetting", row.eventLabel,
                                         false);
        if (ui::Control* layout = FindControl("license_text_layout"))
            layout->SetFixedHeight(LicenseHeight(index, m_product.siteId) + kLicenseHeightAddition);
    }
    const PageTexts page = LanguagePage(m_skin, index, "install_page");
    // Backwards, so the first of two texts with one name is the one that stays.
    for (auto it = page.rbegin(); it != page.rend(); ++it) {
        const auto& [name, text] = *it;
        if (name == "install_label")
            progressFormat = text;
        else if (name == "space_need")
            m_spaceNeedFormat = text;
        else if (name == "space_free")
            m_spaceFreeFormat = text;
        if (ui::Control* c = FindControl(name))
            c->SetText(text);
    }
    SetControlVisible("license_link", false);
    SetControlVisible("install_setting", false);
    SetControlText("space_free", FormatProgress(m_spaceFreeFormat, m_freeSpaceGB));
    SetControlText("space_need",
                   FormatSizeText(m_spaceNeedFormat, LabelText("ProductSize").value_or("")));
    PostMessage(kWmUser + 1);
}

void InstallUIMainWnd::OnItemSelect(ui::Notification& msg) {
    if (!msg.sender || msg.sender->GetName() != "language_combox")
        return;
    auto* list = dynamic_cast<ui::Combo*>(msg.sender);
    if (!list)
        return;
    languageIndex = list->GetCurSel();
    ApplyLanguage();
}

std::string InstallUIMainWnd::LanguageText(std::string_view section, std::string_view key) const {
    if (key.empty())
        return {};
    for (const auto& [name, text] : LanguagePage(m_skin, languageIndex, section))
        if (name == key)
            return text;
    return {};
}
