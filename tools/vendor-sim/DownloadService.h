#pragma once
// The download service: the vendor's download servers and content-delivery hosts. Serves
// the files of the fixture's "download" section (format in DownloadFixture.h) to HEAD, whole
// and single-range GETs, answers its redirects and inline pages (a download page that names
// the file to fetch), and plays the faults an entry names for the requests in their windows.

#include <memory>

#include "RateCap.h"
#include "Service.h"
#include "StopSignal.h"

namespace vsim {

// `stop` must outlive the service; bodies being sent stop waiting when it is raised. `cap`,
// when given, must outlive it too: every file body it sends shares that speed.
std::unique_ptr<Service> makeDownloadService(const StopSignal& stop, RateCap* cap = nullptr);

}  // namespace vsim
