#pragma once
// Window message numbers and key codes, with the values the installer's windows were written
// against, so their handlers read as they were designed.

#include <cstdint>

namespace ui {

using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;

inline constexpr unsigned kWmClose = 0x0010;
inline constexpr unsigned kWmKeyDown = 0x0100;  // lParam: kKeyShift when Shift is held
inline constexpr unsigned kWmChar = 0x0102;     // wParam: a Unicode code point
inline constexpr unsigned kWmSysCommand = 0x0112;
inline constexpr unsigned kWmTimer = 0x0113;  // wParam: the timer id
inline constexpr unsigned kWmUser = 0x0400;   // private messages: kWmUser + n

// Modifier bits in kWmKeyDown's lParam.
inline constexpr LParam kKeyShift = 0x1;

inline constexpr WParam kScMinimize = 0xF020;
inline constexpr WParam kScMaximize = 0xF030;
inline constexpr WParam kScClose = 0xF060;
inline constexpr WParam kScRestore = 0xF120;

inline constexpr WParam kVkBack = 0x08;
inline constexpr WParam kVkTab = 0x09;
inline constexpr WParam kVkReturn = 0x0D;
inline constexpr WParam kVkEscape = 0x1B;
inline constexpr WParam kVkSpace = 0x20;
inline constexpr WParam kVkPrior = 0x21;
inline constexpr WParam kVkNext = 0x22;
inline constexpr WParam kVkEnd = 0x23;
inline constexpr WParam kVkHome = 0x24;
inline constexpr WParam kVkLeft = 0x25;
inline constexpr WParam kVkUp = 0x26;
inline constexpr WParam kVkRight = 0x27;
inline constexpr WParam kVkDown = 0x28;
inline constexpr WParam kVkDelete = 0x2E;

}  // namespace ui
