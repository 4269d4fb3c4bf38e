#pragma once
// The firewall's list of authorised applications, in place of the Windows Firewall manager
// (INetFwProfile::AuthorizedApplications). The list is kept in the registry store:
//
//     HKLM\SOFTWARE\Kestrova\Firewall\AuthorizedApplications\<key>
//         Name, ProcessImageFileName, Enabled ("1"/"0"), Scope, IpVersion (decimal codes)
//
// where <key> is authorizedApplicationKey() of the image path. The observable rules are those
// of the system it replaces: an application is known by its image path; Item() finds it;
// Add() of a path already listed replaces that entry (one entry per path).
//
// Nothing here filters traffic: the list records which programs the installer authorised.
//
// Results are Windows HRESULT values (kFwOk, kFwFail, ...), so callers keep their diagnostic
// formats. Threads and processes: like the registry store, any thread of any process may call
// anything; objects are plain values.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr uint32_t kFwOk = 0;
inline constexpr uint32_t kFwFail = 0x80004005;        // E_FAIL: the store failed
inline constexpr uint32_t kFwNotFound = 0x80070002;    // no entry for this path
inline constexpr uint32_t kFwInvalidArg = 0x80070057;  // E_INVALIDARG: not an image path

// Where the list lives, under HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kFirewallKey = "SOFTWARE\\Kestrova\\Firewall";
inline constexpr std::string_view kAuthorizedApplicationsKey =
    "SOFTWARE\\Kestrova\\Firewall\\AuthorizedApplications";

enum class FirewallScope : int { All = 0, LocalSubnet = 1, Custom = 2 };  // NET_FW_SCOPE
enum class FirewallIpVersion : int { V4 = 0, V6 = 1, Any = 2 };           // NET_FW_IP_VERSION

struct AuthorizedApplication {
    std::string name;
    std::string processImageFileName;  // absolute path, lexically normalised
    FirewallScope scope = FirewallScope::All;
    FirewallIpVersion ipVersion = FirewallIpVersion::Any;
    bool enabled = false;

    bool operator==(const AuthorizedApplication&) const = default;
};

// The form a path is kept in: lexically normalised. nullopt when it cannot be an image path:
// empty, relative, not valid UTF-8 or holding a NUL. Pure.
std::optional<std::string> normaliseImageFileName(std::string_view path);

// The registry key name of an entry: the lower-case hex SHA-256 of the normalised path (paths
// hold "\" and can be longer than a key name may be). Pure.
std::string authorizedApplicationKey(std::string_view normalisedPath);

// The collection of one profile.
class AuthorizedApplications {
public:
    // The entry for `path`: kFwInvalidArg for a path normaliseImageFileName() refuses,
    // kFwNotFound when it is not listed (or its entry is damaged), kFwFail on a store error.
    std::optional<AuthorizedApplication> item(std::string_view path, uint32_t* result) const;

    // Adds `application`, replacing an entry for the same path. kFwInvalidArg for a path
    // normaliseImageFileName() refuses, kFwFail on a store error. The stored image path is
    // the normalised one. Enabled is written last, so a reader never sees an entry enabled
    // before its other values are in place.
    uint32_t add(const AuthorizedApplication& application);

    // Deletes the entry for `path`; kFwNotFound when there is none.
    uint32_t remove(std::string_view path);

    // Every intact entry, in key order. Damaged entries are logged and left out.
    std::vector<AuthorizedApplication> list() const;

private:
    friend class FirewallProfile;
    AuthorizedApplications() = default;
};

class FirewallProfile {
public:
    // The current profile: nullopt with *result = kFwFail when the store cannot be reached.
    static std::optional<FirewallProfile> current(uint32_t* result);

    // Its collection of authorised applications, created when missing; nullopt with
    // *result = kFwFail when that fails.
    std::optional<AuthorizedApplications> authorizedApplications(uint32_t* result) const;

private:
    FirewallProfile() = default;
};

}  // namespace platform
