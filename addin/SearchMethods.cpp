// The search methods: FindNext lists the readers reachable from the machine one at a time,
// FindClose ends the listing.
//
// This build has no reader search: FindNext checks its arguments and reports that the command is
// not supported; FindClose, which only ends a search, always succeeds.
#include "Component.h"
#include "ComponentTables.h"
#include "Messages.h"

bool CParvel::MethodFindNext(tVariant* result, tVariant* params, long count)
{
    if (!result || !params || count < 6) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckFindNext))
        return true;
    SetLastError(PE_NOT_SUPPORTED);
    return true;
}

bool CParvel::MethodFindClose(tVariant* result, tVariant* params, long count)
{
    if (!result) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    SetBoolVariant(result, true);
    return true;
}
