#pragma once
// The program log. Every layer writes Info lines on the easylogging++ `default` logger:
//
//     LOG(INFO) << " Download failed, code is: " << code;
//
// Messages start with a blank; the line format puts the time and thread in front of them.
// The logger is usable from static initialisation on (standard output only) and is thread-safe.

#include <easylogging++.h>

#include <filesystem>
#include <string>

namespace kvlog {

// "%datetime--[Thread](%thread) %msg"
extern const char* const kLineFormat;

// Configures the `default` logger for level Info on standard output (unless
// `toStandardOutput` is false) and, when `logFile` is not empty, on that file (its folder is
// created when missing). May be called again to move the log; lines already written stay.
// Lines kept by a quiet start (below) are written at the head of the file first.
void configureLogging(const std::filesystem::path& logFile = {}, bool toStandardOutput = true);

// What a terminal user sees of the program's log. The original shows its log and its console
// notes only in the console that "debug" opens; a terminal here is always open, so a terminal
// run decides:
//   Normal   log lines on standard output until the program log opens, notes printed
//   Quiet    log lines and notes only in the program log; lines from before it opens are kept
//            (the last few hundred) and written at its head, or printed when the level changes
//            again before it opens
//   Verbose  log lines and notes on standard output all along, and in the program log
enum class ConsoleLevel { Normal, Quiet, Verbose };
void setConsoleLevel(ConsoleLevel level);
ConsoleLevel consoleLevel();

// A note for the console (a line without its newline): printed unless the level is Quiet, when
// it becomes a log line instead.
void consoleNote(const std::string& text);

}  // namespace kvlog
