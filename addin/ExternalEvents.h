// The external events the component raises to the platform, with the name each has in English and
// the one it has under a Russian locale. The component raises them only through this table, so
// whatever lists, shows or documents the add-in's events can take the names from here.
#pragma once

enum ExternalEventId
{
    EventTracksData,
    EventNoCard,
    EventDriverError,
    EventDeviceConnect,
    EventDeviceDisconnect,
    EventCommand,
    ExternalEventCount
};

struct ExternalEventName
{
    const wchar_t* English;
    const wchar_t* Russian;
};

// Indexed by ExternalEventId.
constexpr ExternalEventName kExternalEvents[ExternalEventCount] = {
    {L"TracksData", L"ДанныеКарты"},
    {L"NoCard", L"НетКарты"},
    {L"DriverError", L"ОшибкаДрайвера"},
    {L"DeviceConnect", L"УстройствоПодключено"},
    {L"DeviceDisconnect", L"УстройствоОтключено"},
    {L"Command", L"Комманда"},
};
