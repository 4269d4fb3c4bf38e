#include "Fixture.h"

#include <json/reader.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>

namespace vsim {
namespace {

// Larger than any fixture a test writes; a bigger file is a mistake, not a fixture.
constexpr std::uintmax_t kMaxFixtureBytes = 16u << 20;

}  // namespace

std::string Fixture::serviceOf(const std::string& host) const {
    auto it = hosts.find(host);
    return it == hosts.end() ? std::string() : it->second;
}

const Json::Value& Fixture::sectionOf(const std::string& service) const {
    static const Json::Value kNull;
    auto it = sections.find(service);
    return it == sections.end() ? kNull : it->second;
}

const std::map<std::string, std::string>& defaultHosts() {
    static const std::map<std::string, std::string> hosts = {
        {"update.kestrova.example", "update"},
        {"update.kestrova-cn.example", "update"},
        {"download.kestrova.example", "download"},
        {"files.kestrova.example", "download"},
        {"cdn.kestrova.example", "download"},
        {"dl.kestrova.example", "download"},
        {"alert.kestrova.example", "alert"},
        {"collect.analytics.example", "analytics"},
        {"collector.kestrova.example", "analytics"},
        {"collector-test.kestrova.example", "analytics"},
        {"www.kestrova.example", "userlog"},
        {"userlog.kestrova.example", "userlog"},
        {"support.kestrova.example", "userlog"},
        {"ip-geolocation.example", "geolocation"},
    };
    return hosts;
}

std::shared_ptr<const Fixture> parseFixture(const std::string& text, const ServiceSet& services,
                                            std::string& error) {
    Json::Value root;
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string parseErrors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &parseErrors)) {
        error = "not valid JSON: " + parseErrors;
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        return nullptr;
    }
    if (!root.isObject()) {
        error = "the top level must be a JSON object";
        return nullptr;
    }

    auto fixture = std::make_shared<Fixture>();
    for (const std::string& key : root.getMemberNames()) {
        // Members starting with "_" are the fixture writer's comments.
        if (key == "hosts" || key.rfind('_', 0) == 0)
            continue;
        if (!findService(services, key)) {
            error = "unknown member \"" + key + "\" (not \"hosts\" nor a service name)";
            return nullptr;
        }
    }

    if (root.isMember("hosts")) {
        const Json::Value& hosts = root["hosts"];
        if (!hosts.isObject()) {
            error = "\"hosts\" must be an object of host name -> service name";
            return nullptr;
        }
        for (const std::string& host : hosts.getMemberNames()) {
            const Json::Value& service = hosts[host];
            if (!isDnsName(host)) {
                error = "hosts: \"" + host + "\" is not a host name";
                return nullptr;
            }
            if (!service.isString() || !findService(services, service.asString())) {
                error = "hosts: \"" + host + "\" must name a known service";
                return nullptr;
            }
            std::string lower = asciiLower(host);
            if (fixture->hosts.count(lower)) {
                error = "hosts: \"" + host + "\" is listed twice";
                return nullptr;
            }
            fixture->hosts[lower] = service.asString();
        }
    }
    std::set<std::string> listedServices;
    for (const auto& entry : fixture->hosts)
        listedServices.insert(entry.second);
    for (const auto& [host, service] : defaultHosts())
        if (!listedServices.count(service))
            fixture->hosts.emplace(host, service);  // a host the fixture names stays as named

    for (const auto& service : services) {
        const std::string name = service->name();
        Json::Value section = root.isMember(name) ? root[name] : Json::Value();
        std::string problem = service->validate(section);
        if (!problem.empty()) {
            error = name + ": " + problem;
            return nullptr;
        }
        fixture->sections[name] = std::move(section);
    }
    static std::atomic<uint64_t> loaded{0};
    fixture->generation = ++loaded;
    return fixture;
}

std::shared_ptr<const Fixture> loadFixture(const std::filesystem::path& file,
                                           const ServiceSet& services, std::string& error) {
    std::error_code ec;
    auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        error = "cannot read " + file.string() + ": " + ec.message();
        return nullptr;
    }
    if (size > kMaxFixtureBytes) {
        error = file.string() + " is larger than 16 MiB";
        return nullptr;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        error = "cannot read " + file.string();
        return nullptr;
    }
    auto fixture = parseFixture(text.str(), services, error);
    if (!fixture)
        error = file.string() + ": " + error;
    return fixture;
}

std::shared_ptr<const Fixture> FixtureStore::current() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_current;
}

bool FixtureStore::reload(std::string& error) {
    auto fixture = loadFixture(m_file, m_services, error);
    if (!fixture)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_current = std::move(fixture);
    return true;
}

}  // namespace vsim
