#include "AlertService.h"
#include "AnalyticsService.h"
#include "DownloadService.h"
#include "GeolocationService.h"
#include "Service.h"
#include "UpdateService.h"
#include "UserLogService.h"

namespace vsim {

ServiceSet makeServices(const ServiceContext& context) {
    ServiceSet services;
    services.push_back(makeUpdateService());
    services.push_back(makeDownloadService(context.stop, context.downloadCap));
    services.push_back(makeAlertService());
    services.push_back(makeAnalyticsService());
    services.push_back(makeUserLogService());
    services.push_back(makeGeolocationService());
    return services;
}

Service* findService(const ServiceSet& services, const std::string& name) {
    for (const auto& service : services)
        if (service->name() == name)
            return service.get();
    return nullptr;
}

}  // namespace vsim
