#pragma once
// Where the program talks to: one table of the vendor's remote services. URLs are always built
// from these bases; a run is pointed elsewhere (tests, demo) by the connect-to rules of
// TransportSettings, never by changing the URLs.

#include <string>
#include <string_view>
#include <vector>

struct RemoteService {
    std::string name;     // stable key, e.g. "update"
    std::string baseUrl;  // scheme and host, no trailing "/"
    std::string purpose;  // one line for people reading `kvdiag endpoints`
};

inline constexpr std::string_view kUpdateService = "update";            // international, HTTPS
inline constexpr std::string_view kUpdateServiceChina = "update-cn";    // China, HTTPS
inline constexpr std::string_view kUpdateServicePlain = "update-http";  // international, plain HTTP
inline constexpr std::string_view kUpdateServiceChinaPlain = "update-cn-http";  // China, plain HTTP
inline constexpr std::string_view kAlertService = "alert";  // exception reports

const std::vector<RemoteService>& remoteServices();

// Base URL of the named service; empty for an unknown name.
std::string remoteServiceUrl(std::string_view name);
