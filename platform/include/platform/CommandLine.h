#pragma once
// Splitting a Windows-style command line into arguments, with the rules of the parser of the
// product's setup program (so what the installer builds reaches that program as intended):
//   - blanks (space, tab, CR, LF) outside quotes separate arguments; runs of them count once;
//   - a double quote toggles quoting and is itself dropped, anywhere in an argument, so
//     a"b c"d is the one argument "ab cd" and "" alone is one empty argument;
//   - a backslash is an ordinary character (no escapes): /DIR="C:\x\" gives /DIR=C:\x\;
//   - an unterminated quote runs to the end of the text.
// Pure function, callable from any thread.

#include <string>
#include <string_view>
#include <vector>

namespace platform {

std::vector<std::string> splitCommandLine(std::string_view commandLine);

}  // namespace platform
