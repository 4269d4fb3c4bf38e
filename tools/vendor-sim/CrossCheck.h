#pragma once
// The update service's check of a tracking (cross-end) id: GET /download/checkCross?
// cross_end_id=ID, answered on every update host over HTTP and HTTPS with HTTP 200 and a JSON
// body whose "status" comes first and is followed by a comma, as the client reads it:
//   {"status":200,"msg":"success","data":{"cross_end_id":"ID"}}        a valid id
//   {"status":404,"msg":"invalid cross_end_id","data":{"cross_end_id":"ID"}}  any other id
//   {"status":400,"msg":"cross_end_id is missing","data":null}       no or an empty id
//
// Section format (the update section's "cross" member; without one no id is valid):
//   { "valid_ids": ["2941", ...], "status_for_others": 404,
//     "fault": ..., "status": ..., "delay_ms": ..., "body": ... }
// The fault members (TextFaults.h) shape every answer of the check; malformed cuts the answer
// right after the status number, so neither a JSON parser nor the client's comma rule reads it.

#include <json/value.h>

#include <string>

#include "Service.h"

namespace vsim {

inline constexpr const char* kCrossCheckPath = "/download/checkCross";

// Checks the "cross" member (null: none). Returns an error naming the offending member, or an
// empty string.
std::string validateCrossSection(const Json::Value& cross);

// Answers a request for kCrossCheckPath with an already validated "cross" member.
Reply answerCrossCheck(const Exchange& exchange, const Json::Value& cross);

}  // namespace vsim
