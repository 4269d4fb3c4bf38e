#pragma once
// The public IP-geolocation service (ip-geolocation.example): GET /csv answers the fourteen
// comma-separated fields status, country, country code, region code, region name, city,
// postal code, latitude, longitude, time zone, ISP, organisation, AS number and address, by
// default "success,Germany,DE,BE,Berlin,Berlin,10115,52.52,13.405,Europe/Berlin,Example
// Carrier,Example Org,AS64500 Example,203.0.113.7". A failed look-up answers with the status
// "fail", as the real service does; script it with an answer body.
//
// Section format (answers as in ScriptedAnswers.h): { "csv": ANSWERS }

#include <memory>

#include "Service.h"

namespace vsim {

inline constexpr const char* kGeolocationSuccess =
    "success,Germany,DE,BE,Berlin,Berlin,10115,52.52,13.405,Europe/Berlin,Example Carrier,"
    "Example Org,AS64500 Example,203.0.113.7";

std::unique_ptr<Service> makeGeolocationService();

}  // namespace vsim
