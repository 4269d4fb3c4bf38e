#include "Common/message_box_wnd.h"

#include <filesystem>

#include "Common/install_window.h"
#include "Common/message_kinds.h"
#include "LanguageTable.h"
#include "Logging.h"
#include "ui/Control.h"
#include "ui/MarkupLoader.h"

namespace {

constexpr int kBoxWidth = 452;
constexpr int kBoxHeight = 190;
constexpr int kAnswerYes = 1;
constexpr int kAnswerNo = 2;

// The "message_page" texts of one language file, read once per box.
std::vector<std::pair<std::string, std::string>> MessagePage(
    const std::shared_ptr<ui::SkinPackage>& skin, int languageIndex) {
    const LanguageRow& row = LanguageRowFor(languageIndex);
    if (!skin || !*row.fileName)
        return {};
    ui::MarkupLoader loader(skin, "skin\\");
    ui::MarkupDocument doc = loader.Load(std::string("language\\") + row.fileName);
    return doc.ChildTexts("message_page");
}

std::string TextOf(const std::vector<std::pair<std::string, std::string>>& page,
                   std::string_view key) {
    if (key.empty())
        return {};
    for (const auto& [name, text] : page)
        if (name == key)
            return text;
    return {};
}

const char* IconFile(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Help:
            return "skin\\message_help.png";
        case MessageIcon::Exclamation:
            return "skin\\message_exclamation.png";
        default:
            return nullptr;
    }
}

}  // namespace

MessageBoxWnd::MessageBoxWnd(int kind, int languageIndex, ProcessEnd end)
    : m_kind(kind), m_languageIndex(languageIndex), m_end(std::move(end)) {}

std::string MessageBoxWnd::GetSkinFile() const {
    return MessageKindTextsFor(m_kind).fromMarkup ? "MessageBox_down.xml" : "MessageBox.xml";
}

void MessageBoxWnd::InitWindow() {
    const MessageKindTexts kind = MessageKindTextsFor(m_kind);
    if (kind.fromMarkup)
        return;

    auto skin = GetPaintManager().GetSkin();
    auto page = MessagePage(skin, m_languageIndex);
    if (page.empty() && m_languageIndex != kLanguageEnglish) {
        // A blank box tells the user nothing; English is always shipped.
        LOG(INFO) << " No message_page for language " << m_languageIndex << ", using English";
        page = MessagePage(skin, kLanguageEnglish);
    }
    std::string yes, no, describe, question;
    if (!page.empty()) {
        if (const char* icon = IconFile(kind.icon))
            if (ui::Control* c = FindControl("iconimage"))
                c->SetBkImage(icon);
        describe = TextOf(page, kind.describeKey);
        question = TextOf(page, kind.questionKey);
        yes = TextOf(page, kind.yesKey);
        no = TextOf(page, kind.noKey);
        if (kind.noHidden)
            if (ui::Control* c = FindControl("btn_no"))
                c->SetVisible(false);
    } else {
        LOG(INFO) << " Message box " << m_kind << " has no texts: no message_page found";
    }
    const std::pair<const char*, const std::string*> texts[] = {{"btn_yes", &yes},
                                                                {"btn_no", &no},
                                                                {"msg_describe", &describe},
                                                                {"msg_question", &question}};
    for (const auto& [name, text] : texts)
        if (ui::Control* c = FindControl(name))
            c->SetText(*text);
}

void MessageBoxWnd::OnClick(ui::Notification& msg) {
    if (!msg.sender)
        return;
    const std::string& name = msg.sender->GetName();
    auto askOwnerToDelete = [this] {
        if (MessageKindDeletesSetup(m_kind) && GetOwner())
            GetOwner()->PostMessage(kMsgDeleteDownloadedSetup);
    };
    if (name == "closebtn") {
        askOwnerToDelete();
        Close(kAnswerNo);
    } else if (name == "minbtn") {
        SendMessage(ui::kWmSysCommand, ui::kScMinimize);
    } else if (name == "btn_yes") {
        if (m_kind == 1 || m_kind == kMsgCancelQuestion) {
            endProcess();
            return;
        }
        askOwnerToDelete();
        Close(kAnswerYes);
    } else if (name == "btn_no") {
        Close(kAnswerNo);
    }
}

void MessageBoxWnd::endProcess() {
    LOG(INFO) << " Message box " << m_kind << " answered yes: the installer ends";
    if (GetHost())
        GetHost()->Show(false, false);
    if (GetOwner())
        GetOwner()->ShowWindow(false, false);
    m_end.EndNow();
    // Reached only when `exit` was replaced (tests): the box still ends its modal run.
    Close(kAnswerYes);
}

namespace {

int RunBox(ui::WindowBase* owner, int kind, int languageIndex, const ProcessEnd& end) {
    MessageBoxWnd box(kind, languageIndex, end);
    if (!box.Create(owner, "MSGUIDemo", {0, 0, kBoxWidth, kBoxHeight})) {
        LOG(INFO) << " Message box " << kind << " could not be created";
        return kAnswerNo;
    }
    if (owner)
        owner->SendMessage(ui::kWmSysCommand, ui::kScRestore);
    box.CenterWindow();
    const int result = box.ShowModal();
    return result == kAnswerYes ? kAnswerYes : kAnswerNo;
}

}  // namespace

int ShowMessageBox(ui::WindowBase* owner, int kind, int languageIndex, const ProcessEnd& end) {
    if (ui::IsUiThread())
        return RunBox(owner, kind, languageIndex, end);
    if (!owner) {
        LOG(INFO) << " Message box " << kind << " asked off the UI thread without an owner";
        return kAnswerNo;
    }
    auto answer = owner->InvokeAndWait([&] { return RunBox(owner, kind, languageIndex, end); });
    return answer.value_or(kAnswerNo);
}

std::string MessagePageText(const std::shared_ptr<ui::SkinPackage>& skin, int languageIndex,
                            std::string_view key) {
    std::string text = TextOf(MessagePage(skin, languageIndex), key);
    if (text.empty() && languageIndex != kLanguageEnglish)
        text = TextOf(MessagePage(skin, kLanguageEnglish), key);
    return text;
}

void DeleteDownloadedSetup(const std::string& setupPath) {
    if (setupPath.empty())
        return;
    for (const std::string& path : {setupPath, setupPath + ".xml"}) {
        std::error_code ec;
        // remove() unlinks a symbolic link itself, never its target.
        if (std::filesystem::remove(path, ec))
            LOG(INFO) << " Deleted " << path;
        else if (ec)
            LOG(INFO) << " Could not delete " << path << ": " << ec.message();
    }
}
