#pragma once
// What the usage-report tests share: vendor-sim playing the report services, with the
// program's settings pointed at it (connect-to rules, CA bundle) and a registry store and a
// sync folder of the test's own; the environment is put back when the test ends.

#include <json/value.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "report/WebLog.h"
#include "test_support.h"
#include "vendor_sim_runner.h"

namespace kvtest {

class ReportEnv {
public:
    explicit ReportEnv(const std::string& fixture = "{}");
    ~ReportEnv();

    VendorSim& sim() { return *m_sim; }
    const std::filesystem::path& dir() const { return m_dir.path(); }
    // "Logs" exists here, so the library's error log is written.
    std::filesystem::path programDir() const { return m_dir.path() / "program"; }
    std::filesystem::path currentDir() const { return m_dir.path() / "cwd"; }
    std::filesystem::path registryDir() const { return m_dir.path() / "registry"; }
    weblog::WebLog::Options options() const;
    std::string errorLog() const { return readFile(programDir() / "Logs" / ".log"); }

    // Requests whose path ends with `pathTail`, in the order received.
    std::vector<Json::Value> requests(const std::string& pathTail) const;
    // The GA4 or UA hits ("ga4", "ua") whose action is `action` (every hit when empty).
    std::vector<Json::Value> hits(const std::string& kind, const std::string& action = "") const;

    // Sends every request to 127.0.0.1:`port` instead of the sim.
    void redirectTo(int port);

private:
    EnvGuard m_guard{"KV_CONNECT_TO", "KV_CA_BUNDLE", "KV_REGISTRY_DIR", "KV_SYNC_DIR"};
    TempDir m_dir;
    std::unique_ptr<VendorSim> m_sim;
};

// The fields of "a=1&b=x y" as they are (no decoding), in a map; a repeated name keeps the
// first value.
std::map<std::string, std::string> splitFields(const std::string& text);

// The GA4 action (the "en" parameter, decoded) or the UA action ("ea") of a logged hit.
std::string hitAction(const Json::Value& request);

// Polls `done` every 20 ms for at most `timeoutMs`; true once it holds.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000);

// A listening socket on 127.0.0.1 that never accepts: connections are made by the kernel and
// then nothing is ever answered, as with a collector that hangs.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

}  // namespace kvtest
