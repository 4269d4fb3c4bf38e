#include "Logging.h"

#include <atomic>
#include <system_error>

// The storage and the crash handler are created here, at static initialisation: on a crash
// signal the handler writes the reason on the `default` logger at Fatal level and aborts.
INITIALIZE_EASYLOGGINGPP

namespace kvlog {

const char* const kLineFormat = "%datetime--[Thread](%thread) %msg";

namespace {

std::atomic<bool> g_terminalEcho{false};

el::Configurations baseConfiguration(bool toStandardOutput) {
    el::Configurations conf;
    conf.setToDefault();
    conf.setGlobally(el::ConfigurationType::Enabled, "true");
    conf.setGlobally(el::ConfigurationType::ToStandardOutput, toStandardOutput ? "true" : "false");
    conf.setGlobally(el::ConfigurationType::Format, kLineFormat);
    // Level Info: nothing below it is written.
    conf.set(el::Level::Debug, el::ConfigurationType::Enabled, "false");
    conf.set(el::Level::Trace, el::ConfigurationType::Enabled, "false");
    conf.set(el::Level::Verbose, el::ConfigurationType::Enabled, "false");
    return conf;
}

// Applies the standard-output configuration before main so early lines already have our format.
const bool kConfiguredAtStart = [] {
    configureLogging();
    return true;
}();

}  // namespace

void setTerminalEcho(bool on) {
    g_terminalEcho = on;
}

void configureLogging(const std::filesystem::path& logFile, bool toStandardOutput) {
    el::Configurations conf = baseConfiguration(toStandardOutput || g_terminalEcho);
    if (logFile.empty()) {
        conf.setGlobally(el::ConfigurationType::ToFile, "false");
    } else {
        std::error_code ec;
        if (logFile.has_parent_path())
            std::filesystem::create_directories(logFile.parent_path(), ec);
        conf.setGlobally(el::ConfigurationType::ToFile, "true");
        conf.setGlobally(el::ConfigurationType::Filename, logFile.string());
    }
    el::Loggers::reconfigureLogger("default", conf);
}

}  // namespace kvlog
