#include "platform/Services.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Logging.h"
#include "SpawnInternal.h"
#include "TextUtil.h"

extern char** environ;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One systemctl call answers in well under a second; this only bounds a wedged one.
constexpr milliseconds kCommandLimit{5000};
constexpr milliseconds kPollInterval{100};
constexpr size_t kMaxOutputBytes = 64 * 1024;
constexpr size_t kMaxUnitNameLength = 256;

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

struct CommandResult {
    int exitCode = -1;  // 128 + signal number when a signal ended it
    std::string output;
};

// Standard input from /dev/null, standard output into `outputFd`, nothing else inherited,
// default signal handling and an empty mask. 0 or an errno value.
int prepareSpawn(detail::SpawnPlan& plan, int outputFd) {
    int rc = posix_spawn_file_actions_addopen(plan.actions(), 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0)
        rc = posix_spawn_file_actions_adddup2(plan.actions(), outputFd, 1);
    if (rc == 0)
        rc = posix_spawn_file_actions_addclosefrom_np(plan.actions(), 3);
    if (rc == 0)
        rc = detail::resetChildSignals(plan.attributes());
    return rc;
}

int statusToCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `argv` (argv[0] looked up on PATH when it has no "/"), collecting its standard output,
// for at most `limit`; a child still running then is killed and collected. nullopt (logged)
// when it cannot start or overran.
std::optional<CommandResult> runCommand(const std::vector<std::string>& argv, milliseconds limit) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        LOG(INFO) << " Cannot run " << argv[0] << ": pipe failed: " << errnoText(errno);
        return std::nullopt;
    }
    detail::SpawnPlan plan;
    int rc = prepareSpawn(plan, fds[1]);
    std::vector<char*> raw;
    for (const auto& a : argv)
        raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    pid_t pid = -1;
    if (rc == 0) {
        rc = argv[0].find('/') == std::string::npos
                 ? posix_spawnp(&pid, argv[0].c_str(), plan.actions(), plan.attributes(),
                                raw.data(), environ)
                 : posix_spawn(&pid, argv[0].c_str(), plan.actions(), plan.attributes(), raw.data(),
                               environ);
    }
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        LOG(INFO) << " Cannot run " << argv[0] << ": " << errnoText(rc);
        return std::nullopt;
    }

    const auto deadline = Clock::now() + limit;
    CommandResult result;
    bool open = true;
    while (open) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fds[0], POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[4096];
        ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            open = false;
        } else if (result.output.size() < kMaxOutputBytes) {
            result.output.append(buffer, static_cast<size_t>(got));
        }
    }
    close(fds[0]);

    int status = 0;
    while (true) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR) {
            LOG(INFO) << " Waiting for " << argv[0] << " (pid " << pid
                      << ") failed: " << errnoText(errno);
            return std::nullopt;
        }
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            LOG(INFO) << " " << argv[0] << " " << (argv.size() > 1 ? argv[1] : "")
                      << " did not end within " << limit.count() << " ms; killed";
            return std::nullopt;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    result.exitCode = statusToCode(status);
    return result;
}

std::string systemctlProgram() {
    const char* chosen = std::getenv("KV_SYSTEMCTL");
    return chosen != nullptr && *chosen != '\0' ? chosen : "systemctl";
}

std::string_view firstLine(std::string_view text) {
    return trimBlanks(text.substr(0, text.find('\n')));
}

}  // namespace

ServiceState parseServiceState(std::string_view output) {
    std::string_view state = firstLine(output);
    if (state == "active" || state == "reloading" || state == "activating" || state == "refreshing")
        return ServiceState::Active;
    if (state == "deactivating")
        return ServiceState::Stopping;
    if (state == "inactive" || state == "failed")
        return ServiceState::Stopped;
    return ServiceState::Unknown;
}

bool isValidUnitName(std::string_view name) {
    if (name.empty() || name.size() > kMaxUnitNameLength || name.front() == '-')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == ':' || c == '_' || c == '.' || c == '@' || c == '-' || c == '\\';
    });
}

bool stopService(std::string_view name, uint32_t timeoutMs) {
    const std::string unit(name);
    if (!isValidUnitName(unit)) {
        LOG(INFO) << " Stop service: not a unit name: \"" << unit << "\"";
        return false;
    }
    const auto start = Clock::now();
    const auto deadline = start + milliseconds(timeoutMs);
    auto left = [&deadline] {
        return std::max(milliseconds(0),
                        std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
    };
    const std::string systemctl = systemctlProgram();

    auto stop = runCommand({systemctl, "stop", "--no-block", "--no-ask-password", unit},
                           std::min(kCommandLimit, std::max(left(), kPollInterval)));
    if (!stop) {
        LOG(INFO) << " Stop service " << unit << ": " << systemctl << " could not run";
        return false;
    }
    if (stop->exitCode != 0) {
        LOG(INFO) << " Stop service " << unit << ": " << systemctl << " stop refused, exit code "
                  << stop->exitCode;
        return false;
    }

    std::string lastState;
    const uint64_t maxPolls = timeoutMs / kPollInterval.count() + 2;
    for (uint64_t poll = 0; poll < maxPolls; ++poll) {
        auto query = runCommand({systemctl, "is-active", unit},
                                std::min(kCommandLimit, std::max(left(), kPollInterval)));
        if (query) {
            lastState = std::string(firstLine(query->output));
            if (parseServiceState(query->output) == ServiceState::Stopped)
                return true;
        }
        if (left() <= milliseconds(0))
            break;
        std::this_thread::sleep_for(std::min(kPollInterval, left()));
    }
    LOG(INFO) << " Stop service " << unit << ": still \"" << lastState << "\" after "
              << std::chrono::duration_cast<milliseconds>(Clock::now() - start).count() << " ms";
    return false;
}

}  // namespace platform
