// For the unloading test only: a build of the add-in whose serial driver takes its time to open a
// port, as a Bluetooth serial port does. The test program turns it on through SlowOpenPorts and
// watches the opens in progress through SlowOpensInside. The stand-in stays in place for the
// library's whole life: reader threads may be inside it until the very end.
#include "SlowOpenComCalls.h"

#include <atomic>

namespace {

std::atomic<CSlowOpenComCalls*> Calls{nullptr};

} // namespace

extern "C" void WINAPI SlowOpenPorts(DWORD openMs)
{
    if (Calls.load())
        return;
    auto* calls = new CSlowOpenComCalls(openMs); // left to the library's end, with its scope
    new CCallSeamScope<CComCalls>(*calls);
    Calls = calls;
}

extern "C" int WINAPI SlowOpensInside()
{
    CSlowOpenComCalls* calls = Calls.load();
    return calls ? calls->Inside() : 0;
}
