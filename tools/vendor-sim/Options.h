#pragma once
// The sim's command line.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vsim {

struct Options {
    std::filesystem::path fixture;
    std::filesystem::path log;
    int httpPort = 0;  // 0 = any free port
    int httpsPort = 0;
    std::filesystem::path stateDir;   // empty = a fresh temp folder, removed at exit
    std::filesystem::path readyFile;  // empty = stdout only
    int maxSeconds = 3600;            // a forgotten sim ends by itself
    uint64_t rateLimit = 0;           // bytes per second of all file bodies together; 0 = none
    bool help = false;
};

// Parses `args` (without the program name). Returns false with `error` set on a bad line.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

const char* usageText();

}  // namespace vsim
