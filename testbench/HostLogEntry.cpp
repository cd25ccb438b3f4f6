// The test log's entries for the test host's events and errors.
#include "HostLogEntry.h"
#include "WFormat.h"

LogEntry LogEntryOfEvent(const HostEvent& event)
{
    LogEntry entry;
    entry.time = event.time;
    entry.level = static_cast<int32_t>(event.level);
    entry.source = event.source;
    entry.message = event.message;
    entry.data = event.data;
    return entry;
}

LogEntry LogEntryOfError(const HostError& error)
{
    LogEntry entry;
    entry.time = LocalTimeOfDay();
    entry.level = LogLevelError;
    entry.source = error.source;
    entry.message = error.description;
    FormatString(entry.data, L"message=%d, error=%d", static_cast<int>(error.code), static_cast<int>(error.scode));
    return entry;
}
