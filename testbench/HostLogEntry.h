// The test log's entries for what the test host delivers, one conversion shared by every place
// that logs the add-in's events and errors.
#pragma once
#include "TestHost.h"
#include "TestLog.h"

// An event keeps the time at which it was queued.
LogEntry LogEntryOfEvent(const HostEvent& event);
// The add-in's errors carry no time of their own: the moment of the call stands in. The data
// field holds the error's code and status as "message=<code>, error=<scode>".
LogEntry LogEntryOfError(const HostError& error);
