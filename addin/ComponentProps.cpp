// The component's 27 properties: reading and writing them with their type and range checks.
// Connection properties live in the working connection record, so a change reaches a reader at
// its next Open; the others are the component's own fields.
//
// Rule: a property of the wrong type is refused silently (false, no last error), a value out of
// range with 0x80040203 reported to the platform; nothing changes in either case.
#include "Component.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Messages.h"

namespace {

enum PropNumber : long
{
    PropModel = 0,
    PropPort = 1,
    PropSpeed = 2,
    PropStopBits = 3,
    PropConnectTimeout = 4,
    PropConnectPeriod = 5,
    PropRxPeriod = 6,
    PropReqTimeout = 7,
    PropReqTries = 8,
    PropWiegand = 9,
    PropBinaryMode = 10,
    PropCorrectVM100 = 11,
    PropPrefix = 12,
    PropSuffix = 13,
    PropLog = 14,
    PropLogFlags = 15,
    PropSearchFlags = 16,
    PropFindIpTimeout = 17,
    PropFindIpTries = 18,
    PropFormatCount = 19,
    PropLastKeyType = 20,
    PropLastKeyNum = 21,
    PropSoundEnabled = 22,
    PropSoundFirst = 23, // SoundTransfer; then SoundTransferError, SoundConnections, SoundDisconnections
};

const uint32_t MaxModel = 9;

} // namespace

bool CParvel::GetPropVal(const long number, tVariant* value)
{
    if (number < 0 || number >= PropCount || !value)
        return false;
    try {
        const CReaderSettings& w = m_working;
        switch (number) {
        case PropModel: SetI4Variant(value, static_cast<int32_t>(w.Model)); break;
        case PropPort: MakeStringVariant(value, w.Portname.c_str(), static_cast<ptrdiff_t>(w.Portname.size())); break;
        case PropSpeed: SetUI4Variant(value, w.Speed); break;
        case PropStopBits: SetUI1Variant(value, static_cast<uint8_t>(w.StopBits)); break;
        case PropConnectTimeout: SetUI4Variant(value, static_cast<uint32_t>(w.ConnectTimeout)); break;
        case PropConnectPeriod: SetUI4Variant(value, static_cast<uint32_t>(w.ConnectPeriod)); break;
        case PropRxPeriod: SetUI4Variant(value, static_cast<uint32_t>(w.RxPeriod)); break;
        case PropReqTimeout: SetUI4Variant(value, static_cast<uint32_t>(w.ReqTimeout)); break;
        case PropReqTries: SetI4Variant(value, w.ReqTries); break;
        case PropWiegand: SetBoolVariant(value, (w.Flags & SETTINGS_FLAG_WIEGAND) != 0); break;
        case PropBinaryMode: SetBoolVariant(value, (w.Flags & SETTINGS_FLAG_BINARY) != 0); break;
        case PropCorrectVM100: SetBoolVariant(value, (w.Flags & SETTINGS_FLAG_NO_CORRECT_VM100) == 0); break;
        case PropPrefix: SetI4Variant(value, w.Prefix); break;
        case PropSuffix: SetI4Variant(value, w.Suffix); break;
        case PropLog: SetBoolVariant(value, m_log != 0); break;
        case PropLogFlags: SetUI4Variant(value, m_logFlags); break;
        case PropSearchFlags: SetUI4Variant(value, m_searchFlags); break;
        case PropFindIpTimeout: SetUI4Variant(value, m_findIpTimeout); break;
        case PropFindIpTries: SetI4Variant(value, m_findIpTries); break;
        case PropFormatCount: SetI4Variant(value, static_cast<int32_t>(m_formats.size())); break;
        case PropLastKeyType: {
            CritSecLock lock(m_lock);
            SetUI4Variant(value, m_lastKeyType);
            break;
        }
        case PropLastKeyNum: {
            CritSecLock lock(m_lock);
            MakeBlobVariant(value, m_lastKey.Bytes, m_lastKey.ByteCount());
            break;
        }
        case PropSoundEnabled: SetBoolVariant(value, m_soundEnabled != 0); break;
        default: {
            std::wstring file;
            {
                CritSecLock lock(m_lock);
                file = m_soundFiles[number - PropSoundFirst];
            }
            MakeStringVariant(value, file.c_str(), static_cast<ptrdiff_t>(file.size()));
            break;
        }
        }
        return true;
    } catch (const std::exception& e) {
        ReportException(e);
    } catch (...) {
    }
    return false;
}

bool CParvel::SetPropVal(const long number, tVariant* value)
{
    if (number < 0 || number >= PropCount || !value)
        return false;
    if (number == PropFormatCount || number == PropLastKeyType || number == PropLastKeyNum)
        return false;
    try {
        CReaderSettings& w = m_working;
        // Booleans and texts take exactly their own type.
        switch (number) {
        case PropWiegand:
        case PropBinaryMode:
        case PropCorrectVM100:
        case PropLog:
        case PropSoundEnabled:
            if (value->vt != VTYPE_BOOL)
                return false;
            break;
        case PropPort:
        case PropSoundFirst:
        case PropSoundFirst + 1:
        case PropSoundFirst + 2:
        case PropSoundFirst + 3:
            if (value->vt != VTYPE_PWSTR)
                return false;
            break;
        default:
            break;
        }

        auto setBit = [&w](uint32_t bit, bool on) {
            if (on)
                w.Flags |= bit;
            else
                w.Flags &= ~bit;
        };
        auto outOfRange = [this]() {
            SetLastError(PE_INDEX_OUT_OF_RANGE);
            AddError(m_lastErrorText.c_str(), PE_INDEX_OUT_OF_RANGE);
            return false;
        };

        switch (number) {
        case PropPort:
            w.Portname = VariantText(*value);
            return true;
        case PropWiegand:
            setBit(SETTINGS_FLAG_WIEGAND, value->bVal);
            return true;
        case PropBinaryMode:
            setBit(SETTINGS_FLAG_BINARY, value->bVal);
            return true;
        case PropCorrectVM100:
            setBit(SETTINGS_FLAG_NO_CORRECT_VM100, !value->bVal);
            return true;
        case PropLog:
            SwitchLog(value->bVal ? 1 : 0);
            return true;
        case PropSoundEnabled: {
            uint32_t on = value->bVal ? 1 : 0;
            if (on != m_soundEnabled) {
                m_soundEnabled = on;
                if (!on)
                    CloseMedia();
            }
            return true;
        }
        case PropSoundFirst:
        case PropSoundFirst + 1:
        case PropSoundFirst + 2:
        case PropSoundFirst + 3: {
            const int slot = static_cast<int>(number - PropSoundFirst);
            std::wstring file = VariantText(*value);
            {
                CritSecLock lock(m_lock);
                m_soundFiles[slot] = std::move(file);
            }
            if (m_openMediaSlot == slot)
                CloseMedia();
            return true;
        }
        default:
            break;
        }

        // Every other property is an integer.
        uint32_t v = 0;
        if (!VariantToUInt(value, v))
            return false;
        switch (number) {
        case PropModel:
            if (v > MaxModel)
                return outOfRange();
            w.Model = v;
            return true;
        case PropSpeed: w.Speed = v; return true;
        case PropStopBits: w.StopBits = v; return true;
        case PropConnectTimeout: w.ConnectTimeout = static_cast<int32_t>(v); return true;
        case PropConnectPeriod: w.ConnectPeriod = static_cast<int32_t>(v); return true;
        case PropRxPeriod: w.RxPeriod = static_cast<int32_t>(v); return true;
        case PropReqTimeout: w.ReqTimeout = static_cast<int32_t>(v); return true;
        case PropReqTries: w.ReqTries = static_cast<int32_t>(v); return true;
        case PropPrefix:
        case PropSuffix: {
            int32_t code = static_cast<int32_t>(v);
            if (code < -1 || code > 127)
                return outOfRange();
            (number == PropPrefix ? w.Prefix : w.Suffix) = code;
            return true;
        }
        case PropLogFlags: m_logFlags = v; return true;
        case PropSearchFlags: m_searchFlags = v; return true;
        case PropFindIpTimeout: m_findIpTimeout = v; return true;
        case PropFindIpTries: m_findIpTries = static_cast<int32_t>(v); return true;
        default: return false;
        }
    } catch (const std::exception& e) {
        ReportException(e);
    } catch (...) {
    }
    return false;
}
