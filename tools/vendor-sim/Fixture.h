#pragma once
// The fixture: which host plays which service, and each service's section. Loaded at start
// and again on POST /__sim/reload; a loaded fixture is immutable and shared by reference, so
// a reload never changes the answer to a request that is already being served.

#include <json/value.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Service.h"

namespace vsim {

struct Fixture {
    uint64_t generation = 0;                      // 1, 2, ... in load order
    std::map<std::string, std::string> hosts;     // lower-case host name -> service name
    std::map<std::string, Json::Value> sections;  // service name -> its section (null if none)

    // The service name of `host` (already normalised), or empty.
    std::string serviceOf(const std::string& host) const;
    const Json::Value& sectionOf(const std::string& service) const;
};

// Every service's own host names. A service that the fixture's "hosts" does not mention (or
// every service, when there is no "hosts") plays its defaults; one it mentions plays only the
// hosts listed for it.
const std::map<std::string, std::string>& defaultHosts();

// Reads and checks the fixture file. Returns null with `error` set when the file cannot be
// read, is not JSON, or a member has the wrong type or an unknown name.
std::shared_ptr<const Fixture> loadFixture(const std::filesystem::path& file,
                                           const ServiceSet& services, std::string& error);

// Parses fixture text; `loadFixture` without the file.
std::shared_ptr<const Fixture> parseFixture(const std::string& text, const ServiceSet& services,
                                            std::string& error);

// The current fixture, swapped whole on reload. Safe from any thread.
class FixtureStore {
public:
    FixtureStore(std::filesystem::path file, const ServiceSet& services,
                 std::shared_ptr<const Fixture> initial)
        : m_file(std::move(file)), m_services(services), m_current(std::move(initial)) {}

    std::shared_ptr<const Fixture> current() const;

    // Re-reads the file. On failure the current fixture stays and `error` says why.
    bool reload(std::string& error);

    const std::filesystem::path& file() const { return m_file; }

private:
    const std::filesystem::path m_file;
    const ServiceSet& m_services;
    mutable std::mutex m_mutex;
    std::shared_ptr<const Fixture> m_current;
};

}  // namespace vsim
