#include "RemoteServices.h"

const std::vector<RemoteService>& remoteServices() {
    static const std::vector<RemoteService> services = {
        {std::string(kUpdateService), "https://update.kestrova.example", "update service (downloader info)"},
        {std::string(kUpdateServiceChina), "https://update.kestrova-cn.example", "update service, China"},
        {std::string(kUpdateServicePlain), "http://update.kestrova.example", "update service over plain HTTP"},
    };
    return services;
}

std::string remoteServiceUrl(std::string_view name) {
    for (const auto& s : remoteServices())
        if (s.name == name) return s.baseUrl;
    return {};
}
