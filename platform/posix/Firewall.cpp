#include "platform/Firewall.h"

#include <openssl/evp.h>

#include <filesystem>

#include "Logging.h"
#include "TextUtil.h"
#include "platform/Registry.h"

namespace platform {
namespace {

constexpr const char* kName = "Name";
constexpr const char* kImage = "ProcessImageFileName";
constexpr const char* kEnabled = "Enabled";
constexpr const char* kScope = "Scope";
constexpr const char* kIpVersion = "IpVersion";

std::string entryPath(const std::string& key) {
    return std::string(kAuthorizedApplicationsKey) + "\\" + key;
}

// A small decimal code of the store; nullopt when it is not one of 0..max.
std::optional<int> parseCode(const std::optional<std::string>& text, int max) {
    if (!text || text->size() != 1 || (*text)[0] < '0' || (*text)[0] - '0' > max)
        return std::nullopt;
    return (*text)[0] - '0';
}

// The entry under `key`, checked against the path it should hold; nullopt (logged when
// damaged) otherwise.
std::optional<AuthorizedApplication> readEntry(const std::string& key,
                                               const std::string* expectedPath) {
    std::optional<RegKey> entry = RegKey::open(Hive::LocalMachine, entryPath(key));
    if (!entry)
        return std::nullopt;
    AuthorizedApplication app;
    std::optional<std::string> image = entry->getString(kImage);
    if (!image || authorizedApplicationKey(*image) != key ||
        (expectedPath != nullptr && *image != *expectedPath)) {
        LOG(INFO) << " Firewall entry " << key << " is damaged: its image path does not match";
        return std::nullopt;
    }
    app.processImageFileName = *image;
    app.name = entry->getString(kName).value_or("");
    // Only an explicit "1" enables: a damaged flag must not open the firewall.
    app.enabled = entry->getString(kEnabled).value_or("") == "1";
    std::optional<int> scope = parseCode(entry->getString(kScope), 2);
    std::optional<int> ipVersion = parseCode(entry->getString(kIpVersion), 2);
    if (!scope || !ipVersion)
        LOG(INFO) << " Firewall entry for " << *image << ": bad Scope or IpVersion, defaults used";
    app.scope = static_cast<FirewallScope>(scope.value_or(0));
    app.ipVersion = static_cast<FirewallIpVersion>(ipVersion.value_or(2));
    return app;
}

}  // namespace

std::optional<std::string> normaliseImageFileName(std::string_view path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos ||
        !isValidUtf8(path))
        return std::nullopt;
    return std::filesystem::path(std::string(path)).lexically_normal().string();
}

std::string authorizedApplicationKey(std::string_view normalisedPath) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(normalisedPath.data(), normalisedPath.size(), digest, &length, EVP_sha256(),
                   nullptr) != 1) {
        LOG(INFO) << " Firewall: SHA-256 failed for " << normalisedPath;
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0F];
    }
    return text;
}

std::optional<AuthorizedApplication> AuthorizedApplications::item(std::string_view path,
                                                                  uint32_t* result) const {
    auto finish = [result](uint32_t code) {
        if (result != nullptr)
            *result = code;
    };
    std::optional<std::string> normalised = normaliseImageFileName(path);
    if (!normalised) {
        finish(kFwInvalidArg);
        return std::nullopt;
    }
    const std::string key = authorizedApplicationKey(*normalised);
    if (key.empty()) {
        finish(kFwFail);
        return std::nullopt;
    }
    std::optional<AuthorizedApplication> app = readEntry(key, &*normalised);
    finish(app ? kFwOk : kFwNotFound);
    return app;
}

uint32_t AuthorizedApplications::add(const AuthorizedApplication& application) {
    std::optional<std::string> normalised =
        normaliseImageFileName(application.processImageFileName);
    if (!normalised) {
        LOG(INFO) << " Firewall: not an image path: \"" << application.processImageFileName << "\"";
        return kFwInvalidArg;
    }
    const std::string key = authorizedApplicationKey(*normalised);
    std::optional<RegKey> entry =
        key.empty() ? std::nullopt : RegKey::create(Hive::LocalMachine, entryPath(key));
    if (!entry) {
        LOG(INFO) << " Firewall: cannot write the entry for " << *normalised;
        return kFwFail;
    }
    const char* enabled = application.enabled ? "1" : "0";
    // A replaced entry must never look enabled with another entry's values: a disabling write
    // goes first, an enabling one last.
    bool ok = application.enabled || entry->setString(kEnabled, enabled);
    ok = ok && entry->setString(kName, application.name) && entry->setString(kImage, *normalised) &&
         entry->setString(kScope, std::to_string(static_cast<int>(application.scope))) &&
         entry->setString(kIpVersion, std::to_string(static_cast<int>(application.ipVersion)));
    ok = ok && (!application.enabled || entry->setString(kEnabled, enabled));
    if (!ok) {
        LOG(INFO) << " Firewall: writing the entry for " << *normalised << " failed";
        return kFwFail;
    }
    return kFwOk;
}

uint32_t AuthorizedApplications::remove(std::string_view path) {
    std::optional<std::string> normalised = normaliseImageFileName(path);
    if (!normalised)
        return kFwInvalidArg;
    return deleteKeyTree(Hive::LocalMachine, entryPath(authorizedApplicationKey(*normalised)))
               ? kFwOk
               : kFwNotFound;
}

std::vector<AuthorizedApplication> AuthorizedApplications::list() const {
    std::vector<AuthorizedApplication> apps;
    std::optional<RegKey> root = RegKey::open(Hive::LocalMachine, kAuthorizedApplicationsKey);
    if (!root)
        return apps;
    for (const std::string& key : root->subkeyNames()) {
        if (auto app = readEntry(key, nullptr))
            apps.push_back(std::move(*app));
    }
    return apps;
}

std::optional<FirewallProfile> FirewallProfile::current(uint32_t* result) {
    bool reached = RegKey::create(Hive::LocalMachine, kFirewallKey).has_value();
    if (result != nullptr)
        *result = reached ? kFwOk : kFwFail;
    if (!reached) {
        LOG(INFO) << " Firewall: the store under HKLM\\" << kFirewallKey << " cannot be reached";
        return std::nullopt;
    }
    return FirewallProfile();
}

std::optional<AuthorizedApplications> FirewallProfile::authorizedApplications(
    uint32_t* result) const {
    bool reached = RegKey::create(Hive::LocalMachine, kAuthorizedApplicationsKey).has_value();
    if (result != nullptr)
        *result = reached ? kFwOk : kFwFail;
    if (!reached)
        return std::nullopt;
    return AuthorizedApplications();
}

}  // namespace platform
