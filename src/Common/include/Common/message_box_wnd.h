#pragma once
// The skinned message box of the installer. A kind of EnumMsgType (message_kinds.h) decides its
// icon, its four texts from the "message_page" of the current language file, which buttons
// show and what they do: for kinds 6 and 7 either button asks the owner (kMsgDeleteDownloadedSetup)
// to delete the downloaded setup file, and "btn_yes" of kinds 1 and 2 ends the process.
//
// Threads: the window lives on the UI thread. ShowMessageBox may be called from any thread: off
// the UI thread it runs the box there through the owner's queue and blocks until answered.

#include <memory>
#include <string>
#include <string_view>

#include "Common/process_end.h"
#include "ui/WindowBase.h"

class MessageBoxWnd : public ui::WindowBase {
public:
    // `end` is used only by "btn_yes" of kinds 1 and 2.
    MessageBoxWnd(int kind, int languageIndex, ProcessEnd end = {});

    std::string GetWindowClassName() const override { return "MESSAGEBOX_UI_Frame"; }
    void InitWindow() override;
    void OnClick(ui::Notification& msg) override;
    std::string GetSkinFolder() const override { return "skin\\"; }
    std::string GetSkinFile() const override;

    int Kind() const { return m_kind; }

private:
    void endProcess();

    const int m_kind;
    const int m_languageIndex;
    const ProcessEnd m_end;
};

// Opens a box of `kind` over `owner` (null: no owner; then only on the UI thread), centred on
// the owner's monitor, and waits for the answer: 1 "btn_yes", 2 "btn_no" or the close button.
// 2 as well when the box could not be shown (no host, the owner went away), which callers treat
// like a refusal. The main window passes its own ProcessEnd (its instance guard), so a "Yes" to
// the cancel question lets the next copy start.
int ShowMessageBox(ui::WindowBase* owner, int kind, int languageIndex, const ProcessEnd& end = {});

// The text `key` of the "message_page" of the language `languageIndex` in `skin`, else of the
// English file; empty when neither has it.
std::string MessagePageText(const std::shared_ptr<ui::SkinPackage>& skin, int languageIndex,
                            std::string_view key);

// What the owner does on kMsgDeleteDownloadedSetup: removes the setup file and its task file
// (path + ".xml"). A link is removed itself, never what it points to. Empty path: nothing.
void DeleteDownloadedSetup(const std::string& setupPath);
