#pragma once
// What each kind of message box shows: its icon and the message-page keys of its four texts.
// The skinned message box and the console presenter of the unattended mode read the same table.

#include <string_view>

enum class MessageIcon { Unchanged, Help, Exclamation, FromMarkup };

struct MessageKindTexts {
    std::string_view use;  // what the kind is for, for logs and the console
    MessageIcon icon = MessageIcon::Unchanged;
    std::string_view describeKey;  // "msg_describe"; empty: an empty text
    std::string_view questionKey;  // "msg_question"
    std::string_view yesKey;       // "btn_yes"
    std::string_view noKey;        // "btn_no"
    bool noHidden = false;         // "btn_no" made invisible
    bool fromMarkup = false;       // kind 5: the texts stay as the markup has them
};

// Kinds outside 0..12 behave like 1 (nothing set).
MessageKindTexts MessageKindTextsFor(int kind);

// Kinds whose answer (either button) asks the owner to delete the downloaded setup file.
bool MessageKindDeletesSetup(int kind);
