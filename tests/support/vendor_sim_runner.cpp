#include "vendor_sim_runner.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kvtest {
namespace {

// A sim a crashed test leaves behind ends by itself after this long.
constexpr const char* kSimLifetimeSeconds = "600";

// Undoes the sim's shell quoting of ready-file values: 'text' with '\'' for a quote.
std::string shellUnquote(const std::string& text) {
    std::string out;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\'') {
            quoted = !quoted;
        } else if (!quoted && c == '\\' && i + 1 < text.size()) {
            out.push_back(text[++i]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::map<std::string, std::string> readReadyFile(const std::filesystem::path& file) {
    std::map<std::string, std::string> values;
    std::istringstream in(readFile(file));
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = shellUnquote(line.substr(eq + 1));
    }
    return values;
}

// Atomic, so the sim never reloads half a fixture.
void writeFixture(const std::filesystem::path& file, const std::string& json) {
    std::filesystem::path partial = file;
    partial += ".partial";
    writeFile(partial, json);
    std::filesystem::rename(partial, file);
}

size_t appendToString(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

}  // namespace

VendorSim::VendorSim(const std::string& fixtureJson, std::vector<std::string> extraArgs)
    : m_fixturePath(m_dir.path() / "fixture.json"),
      m_logPath(m_dir.path() / "requests.jsonl"),
      m_stateDir(m_dir.path() / "state"),
      m_readyPath(m_dir.path() / "ready.env"),
      m_outputPath(m_dir.path() / "output.txt") {
    writeFixture(m_fixturePath, fixtureJson);
    const std::string program = std::string(KV_BIN_DIR) + "/vendor-sim";
    std::vector<std::string> args = {program,
                                     "--fixture",
                                     m_fixturePath.string(),
                                     "--log",
                                     m_logPath.string(),
                                     "--state-dir",
                                     m_stateDir.string(),
                                     "--ready-file",
                                     m_readyPath.string(),
                                     "--max-seconds",
                                     kSimLifetimeSeconds};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m_outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // The test process may block or ignore signals; the sim must get the defaults.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signo : {SIGTERM, SIGINT, SIGPIPE})
        sigaddset(&defaults, signo);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int rc = posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        m_pid = -1;
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    try {
        waitReady(10000);
    } catch (...) {
        stop();
        throw;
    }
}

VendorSim::~VendorSim() {
    if (m_pid <= 0)
        return;
    // A sim that cannot stop cleanly (or a sanitizer report at its exit) fails the test.
    int code = stop();
    if (code != 0)
        ADD_FAILURE() << "vendor-sim ended with " << code << ": " << output();
}

void VendorSim::waitReady(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            throw std::runtime_error("vendor-sim exited with " + std::to_string(code) +
                                     " before it was ready: " + output());
        }
        if (std::filesystem::exists(m_readyPath)) {
            auto values = readReadyFile(m_readyPath);
            if (values["READY"] == "1") {
                m_httpPort = std::stoi(values["HTTP_PORT"]);
                m_httpsPort = std::stoi(values["HTTPS_PORT"]);
                m_caBundle = values["KV_CA_BUNDLE"];
                m_connectTo = values["KV_CONNECT_TO"];
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("vendor-sim was not ready within " + std::to_string(timeoutMs) +
                             " ms: " + output());
}

int VendorSim::stop() {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    pid_t done = 0;
    while ((done = waitpid(m_pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (done == 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return -1;
    }
    m_pid = -1;
    return done == -1 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

std::vector<std::string> VendorSim::connectToRules() const {
    std::vector<std::string> rules;
    std::istringstream in(m_connectTo);
    std::string rule;
    while (std::getline(in, rule, ';'))
        if (!rule.empty())
            rules.push_back(rule);
    return rules;
}

std::vector<Json::Value> VendorSim::requests(bool includeControl) const {
    std::vector<Json::Value> lines;
    std::string text = readFile(m_logPath);
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    size_t start = 0;
    // Only complete lines: the last one may still be being written.
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        Json::Value line;
        std::string errors;
        if (!reader->parse(text.data() + start, text.data() + end, &line, &errors))
            throw std::runtime_error("bad request log line: " + text.substr(start, end - start));
        if (includeControl || line["path"].asString().rfind("/__sim/", 0) != 0)
            lines.push_back(std::move(line));
    }
    return lines;
}

void VendorSim::setFixture(const std::string& fixtureJson) {
    writeFixture(m_fixturePath, fixtureJson);
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        throw std::runtime_error("curl_easy_init failed");
    std::string url = "http://127.0.0.1:" + std::to_string(m_httpPort) + "/__sim/reload";
    std::string answer;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, "");
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, appendToString);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer);
    CURLcode rc = curl_easy_perform(curl.get());
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (rc != CURLE_OK)
        throw std::runtime_error(std::string("reload: ") + curl_easy_strerror(rc));
    if (status != 200)
        throw std::runtime_error("reload refused (" + std::to_string(status) + "): " + answer);
}

std::string VendorSim::output() const {
    return readFile(m_outputPath);
}

}  // namespace kvtest
