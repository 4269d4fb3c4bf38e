#include "platform/Shell.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "Logging.h"
#include "platform/Process.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

struct Opener {
    fs::path application;  // empty: looked up on PATH by its name
    std::string name;      // argv[0]
    std::string verb;      // an argument before the target ("open" for gio); may be empty
};

std::vector<Opener> openers() {
    const char* chosen = std::getenv("KV_OPENER");
    if (chosen != nullptr && *chosen != '\0')
        return {{fs::path(chosen), "opener", ""}};
    return {{{}, "xdg-open", ""}, {{}, "gio", "open"}};
}

std::string_view meaningOfXdgOpenExit(int code) {
    switch (code) {
        case 1:
            return " (bad command line)";
        case 2:
            return " (the file does not exist)";
        case 3:
            return " (no tool to open it)";
        case 4:
            return " (the action failed)";
        default:
            return "";
    }
}

// The process layer splits command lines with rules that have no escape for a double quote,
// so such a target cannot reach the opener intact.
bool refuseUnquotable(std::string_view what, std::string_view target) {
    if (target.find('"') != std::string_view::npos) {
        LOG(INFO) << " Cannot open " << what << " " << target
                  << ": it holds a double quote, which cannot be passed to the opener";
        return true;
    }
    if (target.find('\0') != std::string_view::npos) {
        LOG(INFO) << " Cannot open " << what << ": it holds a NUL character";
        return true;
    }
    return false;
}

bool runOpener(const std::string& target) {
    std::string reasons;
    for (const Opener& opener : openers()) {
        ProcessStartInfo info;
        info.application = opener.application;
        info.commandLine = opener.name;
        if (!opener.verb.empty())
            info.commandLine += " " + opener.verb;
        info.commandLine += " \"" + target + "\"";
        std::string error;
        std::optional<Process> process = Process::start(info, &error);
        if (!process) {
            reasons += (reasons.empty() ? "" : "; ") + error;
            continue;
        }
        switch (process->wait(kOpenerWaitMs)) {
            case WaitResult::Timeout:
                return true;  // still busy handing over: the handler is on its way
            case WaitResult::Signaled: {
                int code = process->exitCode().value_or(-1);
                if (code == 0)
                    return true;
                LOG(INFO) << " Opener " << opener.name << " failed for " << target << ", exit code "
                          << code << meaningOfXdgOpenExit(code);
                return false;
            }
            default:
                LOG(INFO) << " Opener " << opener.name << " for " << target
                          << ": waiting for it failed";
                return false;
        }
    }
    LOG(INFO) << " No opener could start for " << target << ": " << reasons;
    return false;
}

}  // namespace

bool openUrl(std::string_view url) {
    if (url.empty() || url.front() == '-') {
        LOG(INFO) << " Cannot open URL \"" << url << "\": empty or starting with \"-\"";
        return false;
    }
    if (refuseUnquotable("URL", url))
        return false;
    return runOpener(std::string(url));
}

bool openFile(const fs::path& path) {
    if (path.empty()) {
        LOG(INFO) << " Cannot open a file: empty path";
        return false;
    }
    std::error_code ec;
    // An absolute path also keeps a name starting with "-" from reading as an option.
    fs::path absolute = fs::absolute(path, ec).lexically_normal();
    if (ec) {
        LOG(INFO) << " Cannot open " << path.string() << ": " << ec.message();
        return false;
    }
    if (refuseUnquotable("file", absolute.string()))
        return false;
    if (!fs::exists(absolute, ec)) {
        LOG(INFO) << " Cannot open " << absolute.string() << ": it does not exist";
        return false;
    }
    return runOpener(absolute.string());
}

bool revealFile(const fs::path& path) {
    if (path.empty()) {
        LOG(INFO) << " Cannot reveal a file: empty path";
        return false;
    }
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec).lexically_normal();
    if (ec) {
        LOG(INFO) << " Cannot reveal " << path.string() << ": " << ec.message();
        return false;
    }
    if (!absolute.has_filename())  // "dir/" is the folder dir, shown in its parent
        absolute = absolute.parent_path();
    fs::path folder = absolute.parent_path();
    if (refuseUnquotable("folder", folder.string()))
        return false;
    if (!fs::is_directory(folder, ec)) {
        LOG(INFO) << " Cannot reveal " << absolute.string() << ": no folder " << folder.string();
        return false;
    }
    return runOpener(folder.string());
}

}  // namespace platform
