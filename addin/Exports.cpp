// The library's four exports, bound by name by the platform and by the configurator's test bench.
// Rule: no exception leaves an export; a failure is reported by the export's result.
#include "Component.h"
#include <cwchar>

namespace {

const WCHAR_T ClassName[] = L"ParvelExtension";

} // namespace

extern "C" long GetClassObject(const WCHAR_T* className, IComponentBase** component)
{
    if (!component || *component)
        return 0;
    try {
        if (className && wcscmp(className, ClassName) == 0) {
            *component = new CParvel(className);
            return 1;
        }
    } catch (...) {
        // No memory for the component: nothing was created.
    }
    *component = nullptr;
    return 0;
}

extern "C" long DestroyObject(IComponentBase** component)
{
    if (!component || !*component)
        return -1;
    // The interfaces have no virtual destructor of this compiler's kind: destroy through the class.
    CParvel* object = static_cast<CParvel*>(*component);
    *component = nullptr;
    CParvel::Destroy(object);
    return 0;
}

extern "C" const WCHAR_T* GetClassNames()
{
    return ClassName;
}

extern "C" AppCapabilities SetPlatformCapabilities(const AppCapabilities capabilities)
{
    return AppCapabilitiesVersion1;
}
