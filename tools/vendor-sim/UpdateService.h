#pragma once
// The update service: GET /queryDownloader answers with a <Downloader> element whose children
// are the product configuration fields of the first fixture reply matching the query (the
// product itself and its sub-programs alike); GET /download/checkCross answers whether a
// tracking id is valid (CrossCheck.h).
//
// Section format:
//   { "replies": [ { "match":  { "SiteID": "55", "package_type": null, ... },
//                    "fields": [["Downloader_id", "253"], ["Download_url", "https://..."]],
//                    "prefix": "...", "suffix": "...",
//                    "fault": "none" | "empty" | "malformed" | "http-error" | "slow",
//                    "status": 503, "delay_ms": 1500, "body": "raw body" } ],
//     "cross": { ... } }
// A match value null means the parameter must be absent. No matching reply answers 404. The
// fault members are those of TextFaults.h; malformed leaves the first field unclosed.

#include <memory>

#include "Service.h"

namespace vsim {

std::unique_ptr<Service> makeUpdateService();

// The <Downloader> element of `fields` in their order; `unbalanced` leaves the closing tag of
// the first child out (an element without children gets one that is never closed).
std::string downloaderElement(const std::vector<std::pair<std::string, std::string>>& fields,
                              bool unbalanced);

}  // namespace vsim
