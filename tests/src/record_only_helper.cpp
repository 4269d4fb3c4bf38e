// The workflow reports its events through the process reporter. These tests read what was
// reported; none of it should leave the test process (the collectors' hosts resolve nowhere
// here). Installed before any test runs, so the reporter is made record-only.

#include "report/EventReporter.h"

namespace {

[[maybe_unused]] const bool kRecordOnly = EventReporter::setUpInstance(EventReporter::recordOnly());

}  // namespace
