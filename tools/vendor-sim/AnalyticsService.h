#pragma once
// The analytics endpoints the usage reports go to:
//   - the Google Analytics collection host (collect.analytics.example): POST /g/collect, the
//     GA4 hits, answered 204 with no body; POST /collect, the Universal Analytics hits,
//     answered 200 with a 1x1 GIF (the body starts with "GIF");
//   - the vendor's analytics collector (collector.kestrova.example): POST /collect, and its
//     test collector (collector-test.kestrova.example): POST /collector, both answered 200
//     with {"code":0}.
// The hits' data travel in the query (GA4) or the body (UA, JSON), both kept by the request
// log. Another method answers 405, another path 404.
//
// Section format (every member optional; answers as in ScriptedAnswers.h):
//   { "ga4": ANSWERS, "ua": ANSWERS, "collector": ANSWERS, "test_collector": ANSWERS }

#include <memory>

#include "Service.h"

namespace vsim {

// The host that plays the Google Analytics endpoints; the service's other hosts are
// collectors.
inline constexpr const char* kGoogleAnalyticsHost = "collect.analytics.example";

std::unique_ptr<Service> makeAnalyticsService();

}  // namespace vsim
