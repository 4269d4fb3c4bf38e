#pragma once
// Where a download came from, for usage reports: the traffic type and the channel label,
// derived from the configured site id and the configured extra download URL. Pure functions
// of their arguments; any thread may call them.

#include <string>

#include "report/EventReporter.h"

namespace FuntionImpl {

// "PPC" for the paid-traffic site ids 2, 8, 74, 84, 206 and 305; "SEO" for every other id.
std::string GetTrafficType(int siteId);

// The channel label of `siteId`; some sites split by markers in `extraUrl`, which is
// compared after ASCII lower-casing (bytes outside ASCII are left alone). An id without a
// label gives the id in decimal ("7", "-3").
//
// The labels and markers are kept base64-encoded in the program and decoded into a table
// once, on first use (thread-safe static initialisation).
std::string GetChannelLabel(int siteId, const std::string& extraUrl);

// What the usage reports say about a configured product. `toolkitProduct`: downloader id 277
// or 278.
EventReporter::ProductContext ReportContext(int siteId, const std::string& softwareName,
                                            const std::string& extraUrl, bool toolkitProduct);

}  // namespace FuntionImpl
