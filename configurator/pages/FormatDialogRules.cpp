// The key-format dialog's window-free decisions (see FormatDialogRules.h).
#include "FormatDialogRules.h"
#include "AppData.h"
#include "FormatDialogRes.h"

namespace {

const HRESULT NotEnoughParameters = static_cast<HRESULT>(0x80040236);
const HRESULT UnsupportedSpecifier = static_cast<HRESULT>(0x80040237);
const HRESULT FirstExpressionError = static_cast<HRESULT>(0x80040238);
const HRESULT LastFieldExpressionError = static_cast<HRESULT>(0x8004023D);

} // namespace

int FormatErrorField(HRESULT code)
{
    if (code == UnsupportedSpecifier)
        return IDC_FORMAT_TEMPLATE;
    if (code == NotEnoughParameters || (code >= FirstExpressionError && code <= LastFieldExpressionError))
        return IDC_FORMAT_PARAMS;
    return 0;
}

TestEventKind ClassifyTestEvent(const std::wstring& name)
{
    if (name == L"TracksData" || name == L"ДанныеКарты")
        return TestEventKind::Key;
    if (name == L"DriverError" || name == L"ОшибкаДрайвера")
        return TestEventKind::Error;
    return TestEventKind::Other;
}

uint32_t FormatEditModified(bool enabledBefore, bool enabledAfter, bool replacedEnabled)
{
    uint32_t flags = DATA_LIBRARY;
    if (enabledBefore || enabledAfter || replacedEnabled)
        flags |= DATA_ADDIN;
    return flags;
}

std::wstring FreeTestFormatName(const std::wstring& base, const std::function<bool(const std::wstring&)>& taken,
                                int attempts)
{
    for (int n = 0; n < attempts; ++n) {
        const std::wstring name = n == 0 ? base : base + std::to_wstring(n);
        if (!taken(name))
            return name;
    }
    return std::wstring();
}
