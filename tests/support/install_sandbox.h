#pragma once
// What a test of a whole install needs around the installer: a private registry store, sync,
// temp and home folder (the environment pointing there, put back afterwards), vendor-sim's
// reply built from fields, and trust in the sim's TLS and the demo product's publisher. Setups
// the test started from its folder are killed when it ends, never anyone else's.

#include <json/value.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vendor_sim_runner.h"

namespace kvtest {

// MD5 of `bytes` as 32 lowercase hex digits, computed apart from the engine's own digest.
std::string md5Hex(const std::string& bytes);

// `markup` with the text of the label `name` replaced; throws when there is no such label.
std::string replaceLabel(std::string markup, const std::string& name, const std::string& value);

// One line of JSON, as vendor-sim's fixture file takes it.
std::string compactJson(const Json::Value& value);

// Appends [name, value] pairs to `reply["fields"]`, the shape of an update-service reply.
void appendFields(Json::Value& reply,
                  const std::vector<std::pair<std::string, std::string>>& fields);

class InstallSandbox {
public:
    // Folders below `dir` (which outlives the sandbox) and the variables that point at them.
    explicit InstallSandbox(std::filesystem::path dir);
    ~InstallSandbox();
    InstallSandbox(const InstallSandbox&) = delete;
    InstallSandbox& operator=(const InstallSandbox&) = delete;

    // Set or unset for this test; the value before is put back at the end.
    void set(const char* name, const std::string& value);
    void unset(const char* name);

    // Points the installer at `sim` and trusts its certificate and the publisher root
    // `publisherRootPem` (a file).
    void trust(const VendorSim& sim, const std::filesystem::path& publisherRootPem);

    // Kills every process whose program lies below the sandbox's folder.
    void killOwnProcesses() const;

private:
    std::filesystem::path m_dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace kvtest
