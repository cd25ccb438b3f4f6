// The command methods: Mifare Ultralight and Classic reads and writes, the signal, and following,
// breaking and fetching a command placed in an open reader's command slot.
//
// Every method starts the same way: the parameter count (too few fails the call), the parameter
// types (0x80040202), the device (0x80040233 for one not opened) and, for the card commands and
// the signal, a device on a bus (0x8004021E). This build places no card commands: past that start
// they report that the command is not supported. Following and breaking work on any open reader.
#include "Component.h"
#include "ComponentTables.h"
#include "Messages.h"

namespace {

// The common start of every command method: a return variant, the parameter array and enough
// parameters, else the call fails with E_INVALIDARG.
bool EnoughParams(CParvel& self, tVariant* result, tVariant* params, long count, long needed)
{
    if (!result || !params || count < needed) {
        self.SetLastError(E_INVALIDARG);
        return false;
    }
    SetBoolVariant(result, false);
    return true;
}

} // namespace

const CParvel::DeviceEntry* CParvel::CommandDevice(const tVariant* params, const ParamCheck& check, bool refuseBus)
{
    if (!CheckParams(params, check))
        return nullptr;
    const DeviceEntry* device = FindDevice(params[0]);
    if (device && refuseBus && device->Address != NO_BUS_ADDRESS) {
        SetLastError(PE_NOT_SUPPORTED);
        return nullptr;
    }
    return device;
}

bool CParvel::MethodReadMifareUL(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 5))
        return false;
    if (CommandDevice(params, CheckMifareUL, true))
        SetLastError(PE_NOT_SUPPORTED);
    return true;
}

bool CParvel::MethodWriteMifareUL(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 5))
        return false;
    if (CommandDevice(params, CheckMifareUL, true))
        SetLastError(PE_NOT_SUPPORTED);
    return true;
}

bool CParvel::MethodReadMifareC(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 11))
        return false;
    if (CommandDevice(params, CheckMifareC, true))
        SetLastError(PE_NOT_SUPPORTED);
    return true;
}

bool CParvel::MethodWriteMifareC(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 11))
        return false;
    if (CommandDevice(params, CheckMifareC, true))
        SetLastError(PE_NOT_SUPPORTED);
    return true;
}

bool CParvel::MethodGetCommandStatus(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 3))
        return false;
    const DeviceEntry* device = CommandDevice(params, CheckGetCommandStatus, false);
    if (!device)
        return true;
    std::shared_ptr<ReaderCommand> command = device->Reader->GetCommand();
    const HRESULT status = device->Reader->GetCommandStatus();
    const uint32_t code = command ? command->Code : 0;
    const uint32_t progress = command ? command->Progress : 0;
    const uint32_t total = command ? command->Total : 0;
    if (params[1].vt != VTYPE_NULL)
        SetUI4Variant(&params[1], code);
    if (params[2].vt != VTYPE_NULL)
        SetHResultVariant(&params[2], status);
    if (count >= 4 && params[3].vt != VTYPE_NULL)
        SetUI4Variant(&params[3], progress);
    if (count >= 5 && params[4].vt != VTYPE_NULL)
        SetUI4Variant(&params[4], total);
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodBreakCommand(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 1))
        return false;
    const DeviceEntry* device = CommandDevice(params, CheckDeviceOnly, false);
    if (!device)
        return true;
    device->Reader->BreakCommand();
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodGetCommandResult(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 4))
        return false;
    if (CommandDevice(params, CheckGetCommandResult, false))
        SetLastError(PE_NOT_SUPPORTED);
    return true;
}

bool CParvel::MethodGetKeyInfo(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 3))
        return false;
    if (CommandDevice(params, CheckGetKeyInfo, false))
        SetLastError(PE_NOT_SUPPORTED);
    return true;
}

bool CParvel::MethodSignal(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 3))
        return false;
    if (CommandDevice(params, CheckSignal, true))
        SetLastError(PE_NOT_SUPPORTED);
    return true;
}
