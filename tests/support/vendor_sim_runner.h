#pragma once
// Runs the built vendor-sim for one test: a fresh fixture file, log and state folder, the
// ports and rules it announced, and its request log read back as JSON. Stopped (and reaped)
// on destruction, so no sim outlives its test.

#include <json/value.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace kvtest {

class VendorSim {
public:
    // Writes `fixtureJson`, starts KV_BIN_DIR "/vendor-sim" and waits up to ~10 s for READY.
    // Throws std::runtime_error (with the sim's output) when it exits or never gets ready.
    explicit VendorSim(const std::string& fixtureJson, std::vector<std::string> extraArgs = {});
    ~VendorSim();
    VendorSim(const VendorSim&) = delete;
    VendorSim& operator=(const VendorSim&) = delete;

    // "HOST:PORT:ADDR:PORT" rules joined by ";", as KV_CONNECT_TO takes them.
    const std::string& connectTo() const { return m_connectTo; }
    // The same rules one by one, for CURLOPT_CONNECT_TO.
    std::vector<std::string> connectToRules() const;
    // The CA file that makes a client trust the sim.
    const std::string& caBundle() const { return m_caBundle; }
    int httpsPort() const { return m_httpsPort; }
    int httpPort() const { return m_httpPort; }
    pid_t pid() const { return m_pid; }
    const std::filesystem::path& logPath() const { return m_logPath; }
    const std::filesystem::path& stateDir() const { return m_stateDir; }
    // The KEY='VALUE' file the sim announced itself in (removed when it stops).
    const std::filesystem::path& readyFile() const { return m_readyPath; }

    // The request log, one object per complete line. The sim's own control requests
    // (/__sim/...) are left out unless `includeControl`.
    std::vector<Json::Value> requests(bool includeControl = false) const;

    // Rewrites the fixture and has the sim re-read it. Throws with the sim's answer when the
    // sim refuses it (it then keeps the previous fixture).
    void setFixture(const std::string& fixtureJson);

    // SIGTERM, up to 5 s for the exit, then SIGKILL. Returns the exit code (-1 when killed or
    // already stopped). Idempotent.
    int stop();

    // Everything the sim wrote to stdout and stderr so far.
    std::string output() const;

private:
    void waitReady(int timeoutMs);

    TempDir m_dir;
    std::filesystem::path m_fixturePath;
    std::filesystem::path m_logPath;
    std::filesystem::path m_stateDir;
    std::filesystem::path m_readyPath;
    std::filesystem::path m_outputPath;
    pid_t m_pid = -1;
    std::string m_connectTo;
    std::string m_caBundle;
    int m_httpsPort = 0;
    int m_httpPort = 0;
};

}  // namespace kvtest
