#include "Logging.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <system_error>

// The storage and the crash handler are created here, at static initialisation: on a crash
// signal the handler writes the reason on the `default` logger at Fatal level and aborts.
INITIALIZE_EASYLOGGINGPP

namespace kvlog {

const char* const kLineFormat = "%datetime--[Thread](%thread) %msg";

namespace {

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

constexpr size_t kMostHeldLines = 500;

std::atomic<ConsoleLevel> g_level{ConsoleLevel::Normal};

// The lines of a quiet start, until the program log opens.
class HeldLines : public el::LogDispatchCallback {
public:
    static HeldLines* instance() { return el::Helpers::logDispatchCallback<HeldLines>(kName); }
    static void install() {
        if (!instance())
            el::Helpers::installLogDispatchCallback<HeldLines>(kName);
        instance()->hold();
    }

    void hold() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = true;
    }

    // The kept lines, and no more kept from now on.
    std::deque<std::string> release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = false;
        std::deque<std::string> lines;
        lines.swap(m_lines);
        return lines;
    }

    // Appends the kept lines to `file` and keeps no more.
    void release(const std::filesystem::path& file) {
        const std::deque<std::string> lines = release();
        if (lines.empty())
            return;
        // The log file was made ours, without following links, before it was named here.
        const int fd =
            ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        for (const std::string& line : lines)
            if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                break;
        ::close(fd);
    }

protected:
    void handle(const el::LogDispatchData* data) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_holding || data->dispatchAction() == el::base::DispatchAction::None)
            return;
        const el::LogMessage* message = data->logMessage();
        m_lines.push_back(message->logger()->logBuilder()->build(message, true));
        if (m_lines.size() > kMostHeldLines)
            m_lines.pop_front();
    }

private:
    static constexpr const char* kName = "kvlog::HeldLines";
    std::mutex m_mutex;
    bool m_holding = false;
    std::deque<std::string> m_lines;
};

// Applies the standard-output configuration before main so early lines already have our format.
const bool kConfiguredAtStart = [] {
    configureLogging();
    return true;
}();

}  // namespace

void configureLogging(const std::filesystem::path& logFile, bool toStandardOutput) {
    if (g_level == ConsoleLevel::Verbose)
        toStandardOutput = true;
    if (g_level == ConsoleLevel::Quiet)
        toStandardOutput = false;
    el::Configurations conf = baseConfiguration(toStandardOutput);
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
    if (!logFile.empty())
        if (HeldLines* held = HeldLines::instance())
            held->release(logFile);
}

void setConsoleLevel(ConsoleLevel level) {
    g_level = level;
    if (level == ConsoleLevel::Quiet)
        HeldLines::install();
    el::Loggers::reconfigureLogger("default", el::ConfigurationType::ToStandardOutput,
                                   level == ConsoleLevel::Quiet ? "false" : "true");
    // A quiet start that ends before its program log opens shows what it kept.
    if (level != ConsoleLevel::Quiet)
        if (HeldLines* held = HeldLines::instance()) {
            for (const std::string& line : held->release())
                std::fputs(line.c_str(), stdout);
            std::fflush(stdout);
        }
}

ConsoleLevel consoleLevel() {
    return g_level;
}

void consoleNote(const std::string& text) {
    if (g_level == ConsoleLevel::Quiet) {
        LOG(INFO) << " " << text;
        return;
    }
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

}  // namespace kvlog
