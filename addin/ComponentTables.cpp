// The component's method and property tables in English and Russian, the lookups the platform
// makes in them (names, parameter counts, default values, return values) and the argument-type
// checks of the methods. The numbers are the platform's handles: never reorder a table.
#include "ComponentTables.h"
#include <cwchar>

const CParvel::MethodEntry CParvel::Methods[CParvel::MethodCount] = {
    {L"GetVersion", L"ПолучитьНомерВерсии", 0, true, &CParvel::MethodGetVersion},
    {L"GetDescription", L"ПолучитьОписание", 7, true, &CParvel::MethodGetDescription},
    {L"GetLastError", L"ПолучитьОшибку", 1, true, &CParvel::MethodGetLastError},
    {L"GetParameters", L"ПолучитьПараметры", 1, true, &CParvel::MethodGetParameters},
    {L"SetParameter", L"УстановитьПараметр", 2, true, &CParvel::MethodSetParameter},
    {L"Open", L"Подключить", 1, true, &CParvel::MethodOpen},
    {L"Close", L"Отключить", 1, true, &CParvel::MethodClose},
    {L"DeviceTest", L"ТестУстройства", 2, true, &CParvel::MethodDeviceTest},
    {L"GetAdditionalActions", L"ПолучитьДополнительныеДействия", 1, true, &CParvel::MethodGetAdditionalActions},
    {L"DoAdditionalAction", L"ВыполнитьДополнительноеДействие", 1, true, &CParvel::MethodDoAdditionalAction},
    {L"GetStatus", L"ПолучитьСостояние", 1, true, &CParvel::MethodGetStatus},
    {L"Reconnect", L"Переподключиться", 1, true, &CParvel::MethodReconnect},
    {L"GetReaderInfo", L"ПолучитьИнфоСчитывателя", 5, true, &CParvel::MethodGetReaderInfo},
    {L"LoadSettings", L"ЗагрузитьНастройки", 1, false, &CParvel::MethodLoadSettings},
    {L"SaveSettings", L"СохранитьНастройки", 1, false, &CParvel::MethodSaveSettings},
    {L"FindFormat", L"НайтиФормат", 1, true, &CParvel::MethodFindFormat},
    {L"GetFormat", L"ПолучитьФормат", 7, true, &CParvel::MethodGetFormat},
    {L"SetFormat", L"УстановитьФормат", 7, true, &CParvel::MethodSetFormat},
    {L"InsertFormat", L"ВставитьФормат", 7, true, &CParvel::MethodInsertFormat},
    {L"DeleteFormat", L"УдалитьФормат", 1, true, &CParvel::MethodDeleteFormat},
    {L"ClearFormats", L"ОчиститьФорматы", 0, true, &CParvel::MethodClearFormats},
    {L"CheckFormat", L"ПроверитьФормат", 3, true, &CParvel::MethodCheckFormat},
    {L"Format", L"Форматировать", 5, true, &CParvel::MethodFormat},
    {L"ClearLog", L"ОчиститьЛог", 0, true, &CParvel::MethodClearLog},
    {L"FindNext", L"НайтиСледующий", 6, true, &CParvel::MethodFindNext},
    {L"FindClose", L"ЗавершитьПоиск", 0, true, &CParvel::MethodFindClose},
    {L"ReadMifareUL", L"ЧитатьMifareUL", 5, true, &CParvel::MethodReadMifareUL},
    {L"WriteMifareUL", L"ПисатьMifareUL", 5, true, &CParvel::MethodWriteMifareUL},
    {L"ReadMifareC", L"ЧитатьMifareC", 11, true, &CParvel::MethodReadMifareC},
    {L"WriteMifareC", L"ПисатьMifareC", 11, true, &CParvel::MethodWriteMifareC},
    {L"GetCommandStatus", L"ПолучитьСостояниеКоманды", 5, true, &CParvel::MethodGetCommandStatus},
    {L"BreakCommand", L"ПрерватьКоманду", 1, true, &CParvel::MethodBreakCommand},
    {L"GetCommandResult", L"ПолучитьРезультатКоманды", 4, true, &CParvel::MethodGetCommandResult},
    {L"GetKeyInfo", L"ПолучитьИнфоКлюча", 3, true, &CParvel::MethodGetKeyInfo},
    {L"Signal", L"Сигнализировать", 3, true, &CParvel::MethodSignal},
};

const CParvel::PropEntry CParvel::Props[CParvel::PropCount] = {
    {L"Model", L"Модель"},
    {L"Port", L"Порт"},
    {L"Speed", L"Скорость"},
    {L"StopBits", L"СтоповыеБиты"},
    {L"ConnectTimeout", L"ТаймаутПодключения"},
    {L"ConnectPeriod", L"ПериодПодключения"},
    {L"RxPeriod", L"ПериодПроверкиПорта"},
    {L"ReqTimeout", L"ТаймаутЗапроса"},
    {L"ReqTries", L"ПопытокЗапроса"},
    {L"Wiegand", L"Виганд"},
    {L"BinaryMode", L"БинарныйРежим"},
    {L"CorrectVM100", L"КорректировкаVM100"},
    {L"Prefix", L"Префикс"},
    {L"Suffix", L"Суффикс"},
    {L"Log", L"Лог"},
    {L"LogFlags", L"ФлагиЛога"},
    {L"SearchFlags", L"ФлагиПоиска"},
    {L"FindIpTimeout", L"ТаймаутПоискаIP"},
    {L"FindIpTries", L"ПопытокПоискаIP"},
    {L"FormatCount", L"КоличествоФорматов"},
    {L"LastKeyType", L"ТипПоследнегоКлюча"},
    {L"LastKeyNum", L"НомерПоследнегоКлюча"},
    {L"SoundEnabled", L"ЗвукВключен"},
    {L"SoundTransfer", L"ЗвукПередачи"},
    {L"SoundTransferError", L"ЗвукОшибкиПередачи"},
    {L"SoundConnections", L"ЗвукПодключения"},
    {L"SoundDisconnections", L"ЗвукОтключения"},
};

// ---------------------------------------------------------------------------------------------
// Argument-type checks

namespace {

const TYPEVAR TypesDeviceOnly[] = {VTYPE_PWSTR};
const TYPEVAR TypesGetReaderInfo[] = {VTYPE_PWSTR, 0, 0, 0, 0};
const TYPEVAR TypesGetFormat[] = {VTYPE_I4, 0, 0, 0, 0, 0, 0};
const TYPEVAR TypesSetFormat[] = {VTYPE_I4, VTYPE_PWSTR, VTYPE_PWSTR, VTYPE_PWSTR, VTYPE_UI4, VTYPE_I4, VTYPE_PWSTR};
const TYPEVAR TypesDeleteFormat[] = {VTYPE_I4};
const TYPEVAR TypesCheckFormat[] = {VTYPE_PWSTR, VTYPE_PWSTR, 0};
const TYPEVAR TypesFormat[] = {0, VTYPE_PWSTR, VTYPE_PWSTR, VTYPE_UI4, VTYPE_BLOB};
const TYPEVAR TypesFindNext[] = {0, 0, 0, 0, 0, VTYPE_UI4};
const TYPEVAR TypesMifareUL[] = {VTYPE_PWSTR, VTYPE_UI4, 0, VTYPE_UI4, VTYPE_UI4};
const TYPEVAR TypesMifareC[] = {VTYPE_PWSTR, VTYPE_UI4, VTYPE_UI4, 0, VTYPE_UI4, VTYPE_UI4,
                                0, VTYPE_BOOL, VTYPE_BOOL, VTYPE_UI4, 0};
const TYPEVAR TypesGetCommandStatus[] = {VTYPE_PWSTR, 0, 0};
const TYPEVAR TypesGetCommandResult[] = {VTYPE_PWSTR, VTYPE_UI4, 0, 0};
const TYPEVAR TypesGetKeyInfo[] = {VTYPE_PWSTR, VTYPE_I4, 0};
const TYPEVAR TypesSignal[] = {VTYPE_PWSTR, VTYPE_PWSTR, VTYPE_BOOL};

template <size_t N>
constexpr ParamCheck MakeCheck(const TYPEVAR (&types)[N], uint32_t nullMask)
{
    return ParamCheck{types, static_cast<long>(N), nullMask};
}

// Bits p(first) .. p(last) of a NULL mask.
constexpr uint32_t Params(int first, int last)
{
    uint32_t mask = 0;
    for (int i = first; i <= last; ++i)
        mask |= 1u << i;
    return mask;
}

} // namespace

const ParamCheck CheckDeviceOnly = MakeCheck(TypesDeviceOnly, 0);
const ParamCheck CheckGetReaderInfo = MakeCheck(TypesGetReaderInfo, 0);
const ParamCheck CheckGetFormat = MakeCheck(TypesGetFormat, 0);
const ParamCheck CheckSetFormat = MakeCheck(TypesSetFormat, Params(1, 6));
const ParamCheck CheckInsertFormat = MakeCheck(TypesSetFormat, Params(6, 6));
const ParamCheck CheckDeleteFormat = MakeCheck(TypesDeleteFormat, 0);
const ParamCheck CheckCheckFormat = MakeCheck(TypesCheckFormat, 0);
const ParamCheck CheckFormatCall = MakeCheck(TypesFormat, 0);
const ParamCheck CheckFindNext = MakeCheck(TypesFindNext, 0);
const ParamCheck CheckMifareUL = MakeCheck(TypesMifareUL, 0);
const ParamCheck CheckMifareC = MakeCheck(TypesMifareC, Params(5, 10));
const ParamCheck CheckGetCommandStatus = MakeCheck(TypesGetCommandStatus, Params(1, 4));
const ParamCheck CheckGetCommandResult = MakeCheck(TypesGetCommandResult, Params(2, 3));
const ParamCheck CheckGetKeyInfo = MakeCheck(TypesGetKeyInfo, 0);
const ParamCheck CheckSignal = MakeCheck(TypesSignal, Params(1, 1));

// ---------------------------------------------------------------------------------------------
// Lookups

long CParvel::GetNProps()
{
    return PropCount;
}

long CParvel::GetNMethods()
{
    return MethodCount;
}

long CParvel::FindProp(const WCHAR_T* name)
{
    if (!name)
        return -1;
    for (long i = 0; i < PropCount; ++i)
        if (wcscmp(name, Props[i].English) == 0)
            return i;
    for (long i = 0; i < PropCount; ++i)
        if (wcscmp(name, Props[i].Russian) == 0)
            return i;
    return -1;
}

long CParvel::FindMethod(const WCHAR_T* name)
{
    if (!name)
        return -1;
    for (long i = 0; i < MethodCount; ++i)
        if (wcscmp(name, Methods[i].English) == 0)
            return i;
    for (long i = 0; i < MethodCount; ++i)
        if (wcscmp(name, Methods[i].Russian) == 0)
            return i;
    return -1;
}

const WCHAR_T* CParvel::GetPropName(long number, long alias)
{
    if (number < 0 || number >= PropCount || (alias != 0 && alias != 1))
        return nullptr;
    try {
        return CopyName(alias == 0 ? Props[number].English : Props[number].Russian);
    } catch (...) {
        return nullptr;
    }
}

const WCHAR_T* CParvel::GetMethodName(const long number, const long alias)
{
    if (number < 0 || number >= MethodCount || (alias != 0 && alias != 1))
        return nullptr;
    try {
        return CopyName(alias == 0 ? Methods[number].English : Methods[number].Russian);
    } catch (...) {
        return nullptr;
    }
}

bool CParvel::IsPropReadable(const long number)
{
    return number >= 0 && number < PropCount;
}

bool CParvel::IsPropWritable(const long number)
{
    // FormatCount, LastKeyType and LastKeyNum (19-21) are read-only.
    return (number >= 0 && number <= 18) || (number >= 22 && number < PropCount);
}

long CParvel::GetNParams(const long method)
{
    return method >= 0 && method < MethodCount ? Methods[method].Params : 0;
}

bool CParvel::HasRetVal(const long method)
{
    return method >= 0 && method < MethodCount && Methods[method].Returns;
}

bool CParvel::GetParamDefValue(const long method, const long param, tVariant* value)
{
    if (!value)
        return false;
    try {
        ClearVariant(value);
        return FillParamDefault(*this, method, param, value);
    } catch (...) {
        ClearVariant(value);
        return false;
    }
}

bool CParvel::FillParamDefault(CParvel& self, long method, long param, tVariant* value)
{
    auto null = [value]() {
        ClearVariant(value, VTYPE_NULL);
        return true;
    };
    auto ui4 = [value](uint32_t v) {
        SetUI4Variant(value, v);
        return true;
    };
    switch (method) {
    case 13: // LoadSettings
    case 14: // SaveSettings
        return param == 0 && ui4(SETTINGS_MAIN | SETTINGS_FORMATS);
    case 16: // GetFormat
    case 17: // SetFormat
        return param >= 1 && param <= 6 && null();
    case 18: // InsertFormat
        if (param == 4)
            return ui4(0);
        if (param == 5) {
            SetI4Variant(value, 0);
            return true;
        }
        return param == 6 && null();
    case 21: // CheckFormat
        return param == 2 && null();
    case 24: // FindNext
        return param == 5 && ui4(0xFFFFFFFF);
    case 26: // ReadMifareUL
    case 27: // WriteMifareUL
        return param == 4 && ui4(0xFFFFFFFF);
    case 28: // ReadMifareC
    case 29: // WriteMifareC
        switch (param) {
        case 5:
            return ui4(0);
        case 6:
            self.MakeStringVariant(value, L"0x3C7A91E5B20D");
            return true;
        case 7:
        case 8:
            SetBoolVariant(value, false);
            return true;
        case 9:
            return ui4(0xFFFFFFFF);
        case 10:
            return null();
        default:
            return false;
        }
    case 30: // GetCommandStatus
        return param >= 1 && param <= 4 && null();
    case 32: // GetCommandResult
        return (param == 2 || param == 3) && null();
    case 34: // Signal
        if (param == 1)
            return null();
        if (param == 2) {
            SetBoolVariant(value, true);
            return true;
        }
        return false;
    default:
        return false;
    }
}
