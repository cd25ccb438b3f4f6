// What the reader tests stand on: a simulated reader that lives for one scope, a reader object
// started against it with short time-outs, and a guard that puts the live read-keys settings back.
#pragma once
#include "ReadKeys.h"
#include "Reader.h"
#include "SimControl.h"
#include "SimReaderScope.h"
#include "WaitUntil.h"

#include <memory>
#include <string>
#include <vector>

namespace readertest {

// One simulated reader for the scope, given its configuration first.
class SimReader : public simctl::CSimReaderScope
{
public:
    SimReader(simctl::CSimControl& sim, const simctl::SimReaderConfig& config, int com)
        : CSimReaderScope(sim, com, config)
    {
    }
};

// A simulated reader's configuration without pacing: replies come as fast as the line allows.
inline simctl::SimReaderConfig UnpacedSim()
{
    simctl::SimReaderConfig config;
    config.pace = 0;
    return config;
}

// Short time-outs keep failures and retries quick.
struct Timings
{
    DWORD ConnectTimeout = 2000;
    DWORD ConnectPeriod = 1000;
    DWORD RxPeriod = READER_PERIOD_NEVER;
    DWORD ReqTimeout = 300;
    int32_t ReqTries = 1;
};

// A reader configured as the component configures one, told to connect at once, and started.
inline std::unique_ptr<CReader> StartReader(IReaderEvents& sink, const std::wstring& port,
                                            const Timings& t = Timings(), uint32_t flags = 0,
                                            uint32_t model = 0,
                                            const std::vector<int32_t>& addresses = {})
{
    auto reader = std::make_unique<CReader>();
    reader->Init(&sink, port.c_str());
    reader->SetConnection(0, flags, model, 0, FALSE);
    reader->SetTimings(t.ConnectTimeout, t.ConnectPeriod, t.RxPeriod, t.ReqTimeout, t.ReqTries);
    for (int32_t address : addresses)
        reader->AddAddress(address);
    reader->Reconnect(NO_BUS_ADDRESS);
    reader->Start();
    return reader;
}

// Puts the process-wide read-keys settings back to their defaults at the end of the scope.
class ReadKeysGuard
{
public:
    ReadKeysGuard() { Reset(); }
    ~ReadKeysGuard() { Reset(); }

private:
    static void Reset()
    {
        ReadKeysBlock& keys = CurrentReadKeys();
        keys.KeyTypes = KEY_TYPES_ALL;
        keys.SetReadMf(ReadMfSettings());
        keys.SetReadUL(ReadULSettings());
    }
};

} // namespace readertest
