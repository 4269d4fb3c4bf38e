#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "report_env.h"

namespace fs = std::filesystem;

namespace kvtest {

ReportEnv::ReportEnv(const std::string& fixture) {
    fs::create_directories(programDir() / "Logs");
    fs::create_directories(currentDir());
    fs::create_directories(m_dir.path() / "sync");
    m_sim = std::make_unique<VendorSim>(fixture);
    setenv("KV_CONNECT_TO", m_sim->connectTo().c_str(), 1);
    setenv("KV_CA_BUNDLE", m_sim->caBundle().c_str(), 1);
    setenv("KV_REGISTRY_DIR", registryDir().c_str(), 1);
    setenv("KV_SYNC_DIR", (m_dir.path() / "sync").c_str(), 1);
}

ReportEnv::~ReportEnv() {
    m_sim->stop();
}

weblog::WebLog::Options ReportEnv::options() const {
    weblog::WebLog::Options options;
    options.currentDirectory = currentDir();
    options.programDirectory = programDir();
    options.startTick = 0;
    return options;
}

std::vector<Json::Value> ReportEnv::requests(const std::string& pathTail) const {
    std::vector<Json::Value> out;
    for (const auto& r : m_sim->requests()) {
        const std::string path = r["path"].asString();
        if (path.size() >= pathTail.size() &&
            path.compare(path.size() - pathTail.size(), pathTail.size(), pathTail) == 0)
            out.push_back(r);
    }
    return out;
}

std::vector<Json::Value> ReportEnv::hits(const std::string& kind, const std::string& action) const {
    std::vector<Json::Value> out;
    const std::string path = kind == "ga4" ? "/g/collect" : "/collect";
    for (const auto& r : m_sim->requests()) {
        if (r["host"].asString() != "collect.analytics.example" || r["path"].asString() != path)
            continue;
        if (action.empty() || hitAction(r) == action)
            out.push_back(r);
    }
    return out;
}

void ReportEnv::redirectTo(int port) {
    const std::string rules =
        ":443:127.0.0.1:" + std::to_string(port) + ";:80:127.0.0.1:" + std::to_string(port);
    setenv("KV_CONNECT_TO", rules.c_str(), 1);
}

std::map<std::string, std::string> splitFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string field = text.substr(start, end - start);
        const size_t eq = field.find('=');
        if (!field.empty())
            fields.emplace(field.substr(0, eq),
                           eq == std::string::npos ? "" : field.substr(eq + 1));
        start = end + 1;
    }
    return fields;
}

std::string hitAction(const Json::Value& request) {
    if (request["path"].asString() == "/g/collect")
        return request["params"]["en"].asString();
    return splitFields(request["body"].asString())["ea"];
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

SilentListener::SilentListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_fd, 64) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_port = ntohs(address.sin_port);
}

SilentListener::~SilentListener() {
    if (m_fd >= 0)
        ::close(m_fd);
}

}  // namespace kvtest
