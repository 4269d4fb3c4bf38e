#pragma once
// Helpers of the install workflow: system probes and small tests on texts. None keeps state;
// any thread may call them.

#include <string_view>

namespace FuntionImpl {

// A content-delivery URL: contains "cdn." or "dl." (case-sensitive).
bool IsCdnUrl(std::string_view url);

// Whether the operating system is 64-bit (the Windows question was "a 32-bit program on 64-bit
// Windows"; this build's answer is about the system it runs on).
bool IsWow64();

}  // namespace FuntionImpl
