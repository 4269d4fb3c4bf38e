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

// Configures the `default` logger for level Info on standard output and, when `logFile` is not
// empty, also on that file (its folder is created when missing). May be called again to move
// the log to another file; lines already written stay where they are.
void configureLogging(const std::filesystem::path& logFile = {});

}  // namespace kvlog
