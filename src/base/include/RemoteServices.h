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
inline constexpr std::string_view kAlertService = "alert";                      // exception reports
// Usage reporting (the reporting library and the event reporter).
inline constexpr std::string_view kGa4Collection = "ga4";  // GA4 hits, HTTPS, /g/collect
inline constexpr std::string_view kUaCollection =
    "ua";  // Universal Analytics, plain HTTP, /collect
inline constexpr std::string_view kAnalyticsCollector = "collector";  // JSON reports, /collect
inline constexpr std::string_view kAnalyticsTestCollector =
    "collector-test";  // the same, /collector
inline constexpr std::string_view kUserLogService =
    "userlog";  // default base of the user-log service
inline constexpr std::string_view kVendorWebSite =
    "website";  // plain HTTP; names the user-log base
inline constexpr std::string_view kGeolocation =
    "geolocation";  // public IP geolocation, plain HTTP, /csv
inline constexpr std::string_view kFeedbackService = "feedback";  // feedback tickets, HTTPS

const std::vector<RemoteService>& remoteServices();

// Base URL of the named service; empty for an unknown name.
std::string remoteServiceUrl(std::string_view name);
