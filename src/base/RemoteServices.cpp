#include "RemoteServices.h"

const std::vector<RemoteService>& remoteServices() {
    static const std::vector<RemoteService> services = {
        {std::string(kUpdateService), "https://update.kestrova.example",
         "update service (downloader info)"},
        {std::string(kUpdateServiceChina), "https://update.kestrova-cn.example",
         "update service, China"},
        {std::string(kUpdateServicePlain), "http://update.kestrova.example",
         "update service over plain HTTP"},
        {std::string(kUpdateServiceChinaPlain), "http://update.kestrova-cn.example",
         "update service, China, plain HTTP"},
        {std::string(kAlertService), "https://alert.kestrova.example", "exception reports"},
        {std::string(kGa4Collection), "https://collect.analytics.example", "GA4 event hits"},
        {std::string(kUaCollection), "http://collect.analytics.example",
         "Universal Analytics event hits"},
        {std::string(kAnalyticsCollector), "https://collector.kestrova.example",
         "analytics JSON reports"},
        {std::string(kAnalyticsTestCollector), "https://collector-test.kestrova.example",
         "analytics JSON reports of test machines"},
        {std::string(kUserLogService), "https://userlog.kestrova.example",
         "user-log service (default base)"},
        {std::string(kVendorWebSite), "http://www.kestrova.example",
         "vendor web site (user-log base file)"},
        {std::string(kGeolocation), "http://ip-geolocation.example", "public IP geolocation"},
        {std::string(kFeedbackService), "https://support.kestrova.example", "feedback tickets"},
    };
    return services;
}

std::string remoteServiceUrl(std::string_view name) {
    for (const auto& s : remoteServices())
        if (s.name == name)
            return s.baseUrl;
    return {};
}
