#include "Common/process_end.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "Logging.h"
#include "report/EventReporter.h"

void ProcessEnd::ReleaseGuard() const {
    if (releaseInstanceGuard)
        releaseInstanceGuard();
}

void ProcessEnd::ReportClose() const {
    if (reportClose) {
        reportClose();
        return;
    }
    EventReporter::instance().report("CrashRate", "Close", "", true);
}

void ProcessEnd::Exit(int code) const {
    if (exit) {
        exit(code);
        return;
    }
    LOG(INFO) << " Process ends with exit code " << code;
    el::Loggers::flushAll();
    std::cout.flush();
    std::fflush(nullptr);
    std::_Exit(code);
}

void ProcessEnd::EndNow() const {
    ReleaseGuard();
    ReportClose();
    Exit(0);
}
