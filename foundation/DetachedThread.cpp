// Threads that nobody joins, each holding its module mapped until it has ended.
#include "DetachedThread.h"
#include "Thread.h"
#include <memory>

namespace {

struct DetachedStart
{
    std::function<void()> work;
    HMODULE module = nullptr;
};

DWORD WINAPI DetachedThreadProc(void* param)
{
    HMODULE module = nullptr;
    {
        std::unique_ptr<DetachedStart> start(static_cast<DetachedStart*>(param));
        module = start->module;
        start->work();
    }  // what the work holds is freed here, while its code is still mapped
    // The library may have been freed by its host meanwhile: this reference is what keeps the code
    // that runs here mapped, so it is let go of by a call that does not return into it.
    if (module)
        FreeLibraryAndExitThread(module, 0);
    return 0;
}

} // namespace

bool StartDetachedThread(std::function<void()> work, SIZE_T stackReservation)
{
    auto start = std::make_unique<DetachedStart>();
    start->work = std::move(work);
    start->module = ReferenceOwnLibrary(reinterpret_cast<const void*>(&DetachedThreadProc));
    HANDLE thread = CreateThread(nullptr, stackReservation, &DetachedThreadProc, start.get(),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        const DWORD error = GetLastError();
        if (start->module)
            FreeLibrary(start->module);
        SetLastError(error);
        return false;
    }
    start.release();  // the thread's now
    CloseHandle(thread);
    return true;
}
