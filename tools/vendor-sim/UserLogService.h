#pragma once
// The vendor's user-log service and its neighbours:
//   - the vendor web site (www.kestrova.example): GET /downloads/service/softwarelog.txt
//     names the base URL of the user-log service, by default https://userlog.kestrova.example;
//   - the user-log service (userlog.kestrova.example): GET .../QueryUser, .../AddUserLog,
//     .../QueryTools, .../QueryDownloader and .../ReportLog under any base path, answered 200
//     with "1001", "1", "<Tools></Tools>", "<Downloader></Downloader>" and "1";
//   - the feedback service (support.kestrova.example): POST /api/v1/ticket/feedback, answered
//     200 with {"status":200,"msg":"ok"}.
// The queries are kept by the request log as sent (raw) and decoded. Another method answers
// 405, another path 404.
//
// Section format (every member optional; answers as in ScriptedAnswers.h):
//   { "softwarelog": ANSWERS, "QueryUser": ANSWERS, "AddUserLog": ANSWERS,
//     "QueryTools": ANSWERS, "QueryDownloader": ANSWERS, "ReportLog": ANSWERS,
//     "feedback": ANSWERS }

#include <memory>

#include "Service.h"

namespace vsim {

std::unique_ptr<Service> makeUserLogService();

}  // namespace vsim
