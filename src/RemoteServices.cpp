#include "RemoteServices.h"

const std::vector<RemoteService>& remoteServices() {
    static const std::vector<RemoteService> services = {
        {std::string(kUpdateService), "https://update.kestrova.example", "update service (downloader info)"},
        {std::string(kUpdateServiceChina), "https://update.kestrova-cn.example", "update service, China"},
        {std::string(kUpdateServicePlain), "http://update.kestrova.example", "update service over plain HTTP"},
        {std::string(kUpdateServiceChinaPlain), "http://update.kestrova-cn.example", "update service, China, plain HTTP"},
        {std::string(kAlertService), "https://alert.kestrova.example", "exception reports"},
    };
    return services;
}

std::string remoteServiceUrl(std::string_view name) {
    for (const auto& s : remoteServices())
        if (s.name == name) return s.baseUrl;
    return {};
}
