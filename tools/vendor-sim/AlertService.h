#pragma once
// The alert service: the vendor's exception endpoint. POST /api/exception/send takes a form
// body "pid=253&type=2&exception_code=MD5_Check_Fail_Cfg1" (kept, as every body, in the
// request log) and answers HTTP 200 with {"status":200,"msg":"success"}. A report that lacks
// a member, or whose pid is not a number, is refused with HTTP 400 and a JSON body naming it,
// whatever the fixture says, so a client that sends the wrong thing cannot pass unnoticed.
//
// Section format:
//   { "fault": ..., "status": ..., "delay_ms": ..., "body": ...,
//     "content_type": "application/json; charset=utf-8" }
// The fault members are those of TextFaults.h and shape every accepted report's answer;
// malformed leaves the closing brace of the JSON answer out.

#include <memory>

#include "Service.h"

namespace vsim {

std::unique_ptr<Service> makeAlertService();

}  // namespace vsim
