#include "install_sandbox.h"

#include <json/writer.h>
#include <openssl/evp.h>
#include <signal.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "platform/Process.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace kvtest {

std::string md5Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

std::string replaceLabel(std::string markup, const std::string& name, const std::string& value) {
    const size_t at = markup.find("name=\"" + name + "\"");
    if (at == std::string::npos)
        throw std::runtime_error("no label " + name);
    const size_t textAt = markup.find("text=\"", at) + 6;
    const size_t end = markup.find('"', textAt);
    return markup.replace(textAt, end - textAt, value);
}

std::string compactJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

void appendFields(Json::Value& reply,
                  const std::vector<std::pair<std::string, std::string>>& fields) {
    for (const auto& [name, value] : fields) {
        Json::Value pair(Json::arrayValue);
        pair.append(name);
        pair.append(value);
        reply["fields"].append(pair);
    }
}

InstallSandbox::InstallSandbox(fs::path dir) : m_dir(std::move(dir)) {
    for (const char* sub : {"tmp", "home"})
        fs::create_directories(m_dir / sub);
    set("KV_REGISTRY_DIR", (m_dir / "registry").string());
    set("KV_SYNC_DIR", (m_dir / "sync").string());
    set("TMPDIR", (m_dir / "tmp").string());
    set("HOME", (m_dir / "home").string());
    set("KV_OPENER", "/bin/true");
    set("KV_TEST_STALL_MS", "3000");
    for (const char* name : {"KV_TEST_OFFLINE", "KV_TEST_SETUP_WAIT_LIMIT", "KV_DEMO_SETUP",
                             "KV_TEST_SUBPROGRAM_WAITS", "KV_CONNECT_TO", "KV_CA_BUNDLE"})
        unset(name);
}

InstallSandbox::~InstallSandbox() {
    killOwnProcesses();
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
        EnvGuard::setEnv(it->first.c_str(), it->second);
}

void InstallSandbox::set(const char* name, const std::string& value) {
    unset(name);
    setenv(name, value.c_str(), 1);
}

void InstallSandbox::unset(const char* name) {
    const char* old = std::getenv(name);
    m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    unsetenv(name);
}

void InstallSandbox::trust(const VendorSim& sim, const fs::path& publisherRootPem) {
    set("KV_CONNECT_TO", sim.connectTo());
    const fs::path bundle = m_dir / "trust.pem";
    writeFile(bundle, readFile(sim.caBundle()) + "\n" + readFile(publisherRootPem));
    set("KV_CA_BUNDLE", bundle.string());
}

void InstallSandbox::killOwnProcesses() const {
    // Tests run side by side, and their setups run from their own folders.
    std::error_code ec;
    for (const auto& p : platform::runningProcesses()) {
        const fs::path exe = fs::read_symlink("/proc/" + std::to_string(p.pid) + "/exe", ec);
        if (!ec && exe.string().rfind(m_dir.string() + "/", 0) == 0)
            ::kill(p.pid, SIGKILL);
    }
}

}  // namespace kvtest
