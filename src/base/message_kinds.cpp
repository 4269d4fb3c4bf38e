#include "Common/message_kinds.h"

namespace {

using enum MessageIcon;

constexpr MessageKindTexts kKinds[] = {
    {"replace an installed product", Help, "ReplaceDesText", "ReplaceQueText", "ReplaceText",
     "CancelText", false, false},
    {"", Unchanged, "", "", "", "", false, false},
    {"cancel question", Help, "CancelDesText", "CancelQueText", "YesText", "NoText", false, false},
    {"product is running", Help, "AppExistDesText", "AppExistQueText", "OkButtonText", "", true,
     false},
    {"install folder cannot be created", Exclamation, "PathErrorDesText", "", "OkButtonText", "",
     true, false},
    {".NET Framework missing", FromMarkup, "", "", "", "", true, true},
    {"setup run time-out", Exclamation, "InstallRunTimeOutDesText", "InstallRunTimeOutQueText",
     "ConfirmText", "", true, false},
    {"verification failure", Exclamation, "MD5FailDesText", "MD5FailQueText", "ConfirmText", "",
     true, false},
    {"download failed to reach the server", Exclamation, "UrlFailDexText", "UrlFailQueText",
     "ConfirmText", "", true, false},
    {"no network", Exclamation, "InternetFailDesText", "InternetFailQueText", "ConfirmText", "",
     true, false},
    {"download interrupted", Exclamation, "InternetTimeoutDesText", "InternetTimeoutQueText",
     "ConfirmText", "", true, false},
    {"not enough disk space", Exclamation, "NoEnoughSpaceDesText", "", "OkButtonText", "", true,
     false},
    {"launch hint", Exclamation, "ClickShortcutToLaunchText", "", "ConfirmText", "", true, false},
};

}  // namespace

MessageKindTexts MessageKindTextsFor(int kind) {
    if (kind < 0 || kind >= static_cast<int>(std::size(kKinds)))
        return kKinds[1];
    return kKinds[kind];
}

bool MessageKindDeletesSetup(int kind) {
    return kind == 6 || kind == 7;
}
