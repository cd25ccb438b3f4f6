// The command methods: Mifare Ultralight and Classic reads and writes, the signal, and following,
// breaking and fetching a command placed in an open reader's command slot; GetKeyInfo.
//
// Every method starts the same way: the parameter count (too few fails the call), the parameter
// types (0x80040202), the device (0x80040233 for one not opened) and, for the card commands and
// the signal, a device on a bus (0x8004021E). Then the arguments are checked and converted before
// anything is placed, so that a refused call leaves the reader's slot as it was.
//
// Rules a reader must not break:
// - The slot's record and status are read only through the reader's locked getters (the reader
//   thread appends data while a command runs).
// - Only a call that waits names the waiting reader, and only one call at a time does: the
//   reader's completion is then taken by that call and raises no "Command" event. A call that
//   does not wait (time-out 0, the signal) always hears of its completion through the event.
#include "Component.h"
#include "AddinStrings.h"
#include "CommandSlot.h"
#include "ComponentTables.h"
#include "Messages.h"
#include "ResText.h"
#include <algorithm>

namespace {

const uint64_t DefaultMifareKey = 0x3C7A91E5B20DULL;
const uint64_t MifareKeyMask = 0xFFFFFFFFFFFFULL;
// Ultralight pages are addressed by one byte; the last one a command may reach is 254.
const uint32_t UltralightPageEnd = 255;
const uint32_t ClassicSectors = 40;
const uint32_t ClassicBlocksPerSector = 16;
// The most blocks a card has (a Mifare 4K). A larger count would only wrap around and repeat
// blocks, and a write would need a buffer of 16 bytes a block for it.
const uint32_t ClassicMaxBlocks = 256;
const DWORD PollWithoutEventMs = 10;

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

uint32_t UIntParam(const tVariant& v, uint32_t fallback = 0)
{
    uint32_t value = fallback;
    CParvel::VariantToUInt(&v, value);
    return value;
}

// The time-out of a waiting method; NULL (where the method allows it) waits without limit, as
// the parameter's default does.
DWORD TimeoutParam(const tVariant& v)
{
    return UIntParam(v, READER_PERIOD_NEVER);
}

// An Ultralight page range: a start at or beyond the last page, or no pages, is refused; a range
// that runs past the last page is shortened to end there.
bool UltralightRange(uint32_t start, uint32_t& pages)
{
    if (start >= UltralightPageEnd || pages == 0)
        return false;
    if (static_cast<uint64_t>(start) + pages > UltralightPageEnd)
        pages = UltralightPageEnd - start;
    return true;
}

uint32_t HexValue(wchar_t c)
{
    uint32_t v = static_cast<uint32_t>(c);
    if (c >= L'0' && c <= L'9')
        v -= L'0';
    else if (c >= L'A' && c <= L'F')
        v -= 55;
    else
        v -= 87;
    return v & 0x0F;
}

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

// The value of a digit in the given base, or -1.
int DigitValue(wchar_t c, unsigned base)
{
    int v;
    if (c >= L'0' && c <= L'9')
        v = c - L'0';
    else if (c >= L'A' && c <= L'Z')
        v = c - L'A' + 10;
    else if (c >= L'a' && c <= L'z')
        v = c - L'a' + 10;
    else
        return -1;
    return v < static_cast<int>(base) ? v : -1;
}

} // namespace

int64_t HexToBytes(const wchar_t* text, int64_t length, uint8_t* bytes, int64_t maximum)
{
    if (!text || !bytes || maximum <= 0)
        return 0;
    if (length < 0)
        length = static_cast<int64_t>(wcslen(text));
    int64_t written = 0;
    for (int64_t i = 0; i + 1 < length && written < maximum; i += 2)
        bytes[written++] = static_cast<uint8_t>(HexValue(text[i]) << 4 | HexValue(text[i + 1]));
    return written;
}

HRESULT CParvel::CommandData(const tVariant& data, size_t size, std::vector<uint8_t>& out, UINT& textId)
{
    textId = 0;
    std::vector<uint8_t> bytes;
    switch (data.vt) {
    // An integer is written as its 32-bit value, low byte first: a one- or two-byte type is
    // widened as its type says (as every integer argument is), never taken from the rest of the
    // value field, which is not part of the value and may hold anything.
    case VTYPE_I1:
    case VTYPE_UI1:
    case VTYPE_I2:
    case VTYPE_UI2:
    case VTYPE_I4:
    case VTYPE_UI4:
    case VTYPE_INT:
    case VTYPE_UINT: {
        uint32_t value = 0;
        VariantToUInt(&data, value);
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        break;
    }
    case VTYPE_PSTR:
    case VTYPE_BLOB: {
        const std::string raw = VariantBytes(data);
        bytes.assign(raw.begin(), raw.end());
        break;
    }
    case VTYPE_PWSTR: {
        std::wstring digits = VariantText(data);
        digits.erase(std::remove(digits.begin(), digits.end(), L' '), digits.end());
        // Anything but pairs of digits would be written as bytes nobody meant.
        if (digits.size() % 2 != 0 || !std::all_of(digits.begin(), digits.end(), IsHexDigit)) {
            textId = IDS_BAD_HEX_DATA;
            return E_INVALIDARG;
        }
        bytes.resize(digits.size() / 2);
        HexToBytes(digits.c_str(), static_cast<int64_t>(digits.size()), bytes.data(),
                   static_cast<int64_t>(bytes.size()));
        break;
    }
    default:
        return PE_INVALID_PARAM_TYPE;
    }
    // The caller's count says how much is written: the rest of longer data is left out.
    bytes.resize(size, 0);
    out.swap(bytes);
    return S_OK;
}

bool CParvel::WriteCommandData(const tVariant& data, size_t size, std::vector<uint8_t>& out)
{
    UINT textId = 0;
    const HRESULT hr = CommandData(data, size, out, textId);
    if (FAILED(hr)) {
        SetLastError(hr, textId ? LoadResString(textId).c_str() : nullptr);
        return false;
    }
    return true;
}

HRESULT CParvel::MifareKey(const tVariant& key, uint64_t& out)
{
    uint64_t value = 0;
    if (IsOmittedArgument(key)) {
        value = DefaultMifareKey;
    } else if (key.vt == VTYPE_UI8) {
        value = key.ui64Val;
    } else if (key.vt == VTYPE_PWSTR) {
        const std::wstring text = VariantText(key);
        unsigned base = 10;
        size_t at = 0;
        if (text.compare(0, 2, L"0x") == 0) {
            base = 16;
            at = 2;
        } else if (text.compare(0, 2, L"0b") == 0) {
            base = 2;
            at = 2;
        } else if (text.compare(0, 1, L"0") == 0) {
            base = 8; // the leading 0 is a digit of its own
        }
        // The whole rest must be digits: a number cut short by a stray character would be a key
        // nobody meant.
        if (at >= text.size())
            return E_INVALIDARG;
        for (; at < text.size(); ++at) {
            const int digit = DigitValue(text[at], base);
            if (digit < 0)
                return E_INVALIDARG;
            value = value * base + static_cast<unsigned>(digit);
            if (value > MifareKeyMask)
                return E_INVALIDARG;
        }
    } else {
        return E_INVALIDARG;
    }
    if (value > MifareKeyMask)
        return E_INVALIDARG;
    out = value;
    return S_OK;
}

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

bool CParvel::RunCardCommand(CReader& reader, std::shared_ptr<ReaderCommand> command, DWORD timeout,
                             ReaderCommandSnapshot& outcome)
{
    reader.BreakCommand();
    // One waiting call at a time: a second one (a host calling from several threads) does not
    // wait and hears of its completion through the event.
    CReader* none = nullptr;
    const bool waits = timeout != 0 && m_waitingReader.compare_exchange_strong(none, &reader);
    if (waits && m_commandEvent.Valid())
        ResetEvent(m_commandEvent.Get());
    reader.PlaceCommand(std::move(command));
    if (waits) {
        WaitForCommand(reader, timeout);
        // Cleared before the status is read: a completion that comes in between then raises its
        // event as well, rather than none at all.
        m_waitingReader.store(nullptr);
    }
    reader.GetCommandSnapshot(outcome);
    if (FAILED(outcome.Status)) {
        SetLastError(outcome.Status);
        return false;
    }
    return true;
}

void CParvel::WaitForCommand(CReader& reader, DWORD timeout)
{
    const DWORD start = GetTickCount();
    const HANDLE event = m_commandEvent.Valid() ? m_commandEvent.Get() : nullptr;
    for (;;) {
        // The event is the component's, set by any reader's completion: reset it before looking,
        // so that a completion after the look is not missed, and look again after each wake-up.
        if (event)
            ResetEvent(event);
        if (reader.GetCommandStatus() != E_PENDING)
            return;
        DWORD slice = INFINITE;
        if (timeout != READER_PERIOD_NEVER) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= timeout)
                return;
            slice = timeout - elapsed;
        }
        if (!event) {
            // Initialised without a connection there is no command event: look now and then.
            Sleep(std::min(slice, PollWithoutEventMs));
            continue;
        }
        if (WaitForSingleObject(event, slice) == WAIT_FAILED)
            return;
    }
}

bool CParvel::UltralightCommand(tVariant* result, tVariant* params, long count, uint32_t code)
{
    if (!EnoughParams(*this, result, params, count, 5))
        return false;
    const DeviceEntry* device = CommandDevice(params, CheckMifareUL, true);
    if (!device)
        return true;
    const uint32_t start = UIntParam(params[1]);
    uint32_t pages = UIntParam(params[3]);
    if (!UltralightRange(start, pages)) {
        SetLastError(E_INVALIDARG);
        return true;
    }
    auto command = std::make_shared<CReader::_CMD_MUL_INFO>(code);
    if (code == READER_CMD_WRITE_UL && !WriteCommandData(params[2], static_cast<size_t>(pages) * 4, command->PageData))
        return true;
    command->Total = pages;
    command->StartPage = start;
    command->PageCount = pages;
    ReaderCommandSnapshot outcome;
    if (!RunCardCommand(*device->Reader, command, TimeoutParam(params[4]), outcome))
        return true;
    if (code == READER_CMD_READ_UL && params[2].vt != VTYPE_NULL)
        MakeBlobVariant(&params[2], outcome.Data.data(), outcome.Data.size());
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodReadMifareUL(tVariant* result, tVariant* params, long count)
{
    return UltralightCommand(result, params, count, READER_CMD_READ_UL);
}

bool CParvel::MethodWriteMifareUL(tVariant* result, tVariant* params, long count)
{
    return UltralightCommand(result, params, count, READER_CMD_WRITE_UL);
}

bool CParvel::ClassicCommand(tVariant* result, tVariant* params, long count, uint32_t code)
{
    if (!EnoughParams(*this, result, params, count, 11))
        return false;
    const DeviceEntry* device = CommandDevice(params, CheckMifareC, true);
    if (!device)
        return true;
    const uint32_t sector = UIntParam(params[1]);
    const uint32_t block = UIntParam(params[2]);
    const uint32_t blocks = UIntParam(params[4]);
    if (sector >= ClassicSectors || block >= ClassicBlocksPerSector || blocks == 0 || blocks > ClassicMaxBlocks) {
        SetLastError(E_INVALIDARG);
        return true;
    }
    auto command = std::make_shared<CReader::_CMD_MC_INFO>(code);
    if (!IsOmittedArgument(params[5])) {
        command->KeyMask = UIntParam(params[5]);
        if (command->KeyMask != 0)
            command->KeyFlags |= READER_CMD_KEY_STORED;
    }
    if (FAILED(MifareKey(params[6], command->Key))) {
        SetLastError(E_INVALIDARG, LoadResString(IDS_BAD_MIFARE_KEY).c_str());
        return true;
    }
    if (params[7].vt == VTYPE_BOOL && params[7].bVal)
        command->KeyFlags |= READER_CMD_KEY_B;
    if (params[8].vt == VTYPE_BOOL)
        command->SkipTrailers = params[8].bVal ? 1 : 0;
    if (code == READER_CMD_WRITE_MC &&
        !WriteCommandData(params[3], static_cast<size_t>(blocks) * 16, command->BlockData))
        return true;
    command->Total = blocks;
    command->Sector = sector;
    command->Block = block;
    command->BlockCount = blocks;
    command->Answer = 0xFFFFFFFF;
    ReaderCommandSnapshot outcome;
    if (!RunCardCommand(*device->Reader, command, TimeoutParam(params[9]), outcome))
        return true;
    if (code == READER_CMD_READ_MC && params[3].vt != VTYPE_NULL)
        MakeBlobVariant(&params[3], outcome.Data.data(), outcome.Data.size());
    if (params[10].vt != VTYPE_NULL)
        SetI4Variant(&params[10], static_cast<int32_t>(outcome.Answer));
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodReadMifareC(tVariant* result, tVariant* params, long count)
{
    return ClassicCommand(result, params, count, READER_CMD_READ_MC);
}

bool CParvel::MethodWriteMifareC(tVariant* result, tVariant* params, long count)
{
    return ClassicCommand(result, params, count, READER_CMD_WRITE_MC);
}

bool CParvel::MethodGetCommandStatus(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 3))
        return false;
    const DeviceEntry* device = CommandDevice(params, CheckGetCommandStatus, false);
    if (!device)
        return true;
    ReaderCommandSnapshot slot;
    device->Reader->GetCommandSnapshot(slot);
    if (params[1].vt != VTYPE_NULL)
        SetUI4Variant(&params[1], slot.Code);
    if (params[2].vt != VTYPE_NULL)
        SetHResultVariant(&params[2], slot.Status);
    if (count >= 4 && params[3].vt != VTYPE_NULL)
        SetUI4Variant(&params[3], slot.Progress);
    if (count >= 5 && params[4].vt != VTYPE_NULL)
        SetUI4Variant(&params[4], slot.Total);
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
    const DeviceEntry* device = CommandDevice(params, CheckGetCommandResult, false);
    if (!device)
        return true;
    const uint32_t code = UIntParam(params[1]);
    ReaderCommandSnapshot slot;
    device->Reader->GetCommandSnapshot(slot);
    const bool asked = slot.HasCommand && code != 0 && slot.Code == code;
    const bool hasData = asked && code >= READER_CMD_READ_UL && code <= READER_CMD_WRITE_MC;
    const bool hasWord = asked && (code == READER_CMD_READ_MC || code == READER_CMD_WRITE_MC);
    if (params[2].vt != VTYPE_NULL) {
        if (hasData)
            MakeBlobVariant(&params[2], slot.Data.data(), slot.Data.size());
        else
            MakeBlobVariant(&params[2], nullptr, 0);
    }
    if (params[3].vt != VTYPE_NULL)
        SetI4Variant(&params[3], hasWord ? static_cast<int32_t>(slot.Answer) : -1);
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodGetKeyInfo(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 3))
        return false;
    const DeviceEntry* device = CommandDevice(params, CheckGetKeyInfo, false);
    if (!device)
        return true;
    const int32_t index = static_cast<int32_t>(UIntParam(params[1]));
    uint32_t keyType = 0;
    KeyData key;
    std::wstring text;
    device->Reader->GetLastKey(device->Address, index, keyType, key, text);
    if (keyType != 0 && text.empty()) {
        // The reader keeps no text for a key that no format took when it arrived: format it with
        // the list as it is now. The list changes only on this thread, so no lock is needed; a
        // parameter text that does not parse leaves by its exception (the call's boundary makes
        // it the last error).
        const int64_t found = FindFormatForKey(keyType, &key);
        if (found >= 0) {
            const KeyFormat& format = m_formats[static_cast<size_t>(found)];
            if (!format.Template.empty())
                FormatKey(text, format.Template.c_str(), format.Params.c_str(), key);
        }
    }
    MakeStringVariant(&params[2], text.c_str(), static_cast<ptrdiff_t>(text.size()));
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodSignal(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 3))
        return false;
    const DeviceEntry* device = CommandDevice(params, CheckSignal, true);
    if (!device)
        return true;
    auto command = std::make_shared<CReader::_CMD_SIGN_INFO>();
    if (params[1].vt == VTYPE_PWSTR)
        command->Pattern = VariantText(params[1]);
    command->FirstStep = params[2].bVal ? 1 : 0;
    // Never waits: the event is left alone and the completion comes as the "Command" event.
    device->Reader->BreakCommand();
    device->Reader->PlaceCommand(command);
    SetBoolVariant(result, true);
    return true;
}
