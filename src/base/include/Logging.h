#pragma once
// The program log. Every layer writes Info lines on the easylogging++ `default` logger:
//
//     LOG(INFO) << " Download failed, code is: " << code;
//
// Messages start with a blank; the line format puts the time and thread in front of them.
// The logger is usable from static initialisation on (standard output only) and is thread-safe.

#include <easylogging++.h>

#include <filesystem>

namespace kvlog {

// "%datetime--[Thread](%thread) %msg"
extern const char* const kLineFormat;

// Configures the `default` logger for level Info on standard output (unless
// `toStandardOutput` is false) and, when `logFile` is not empty, on that file (its folder is
// created when missing). May be called again to move the log; lines already written stay.
void configureLogging(const std::filesystem::path& logFile = {}, bool toStandardOutput = true);

// The "debug" start of the installer: from now on every configuration also writes standard
// output, whatever its caller asked, so the log shows in the terminal that started the program.
// Applies to the next configureLogging call; call it before other threads log.
void setTerminalEcho(bool on);

}  // namespace kvlog
