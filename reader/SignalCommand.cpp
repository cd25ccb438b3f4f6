// The signal command: plays a pattern of steps on a binary-mode reader's LEDs and sound, then
// starts the idle-indication timer so that the run loop puts the indication back when the
// pattern's time has passed.
//
// A pattern is steps separated by ";". A step is up to three single digits (the three 2-bit
// fields of the signal code) and a duration in ms, blanks allowed before each item: "2 1 3 250"
// or "213 250". When a step has blanks, its last item is the duration and the digits before it
// are the fields ("1 500" is one field and 500 ms); a step without blanks gives its first three
// characters to the fields and the rest to the duration.
#include "CommandSlot.h"
#include "Messages.h"
#include <cwctype>

namespace {

struct SignalStep
{
    uint8_t Fields[3] = {0, 0, 0}; // the digits' 2-bit values
    uint32_t Ms = 0;
};

// "1" -> 3, "2" -> 2, "3" -> 1, any other digit -> 0.
uint8_t FieldValue(wchar_t digit)
{
    return digit >= L'1' && digit <= L'3' ? static_cast<uint8_t>(L'4' - digit) : 0;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool ParseNumber(const std::wstring& text, uint32_t& value)
{
    if (text.empty())
        return false;
    uint64_t v = 0;
    for (wchar_t c : text) {
        if (!IsDigit(c))
            return false;
        v = v * 10 + static_cast<uint64_t>(c - L'0');
        if (v > 0xFFFFFFFFull)
            return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

// False for a pattern that is not steps of digits and durations.
bool ParsePattern(const std::wstring& pattern, std::vector<SignalStep>& steps)
{
    size_t pos = 0;
    while (pos <= pattern.size()) {
        size_t end = pattern.find(L';', pos);
        if (end == std::wstring::npos)
            end = pattern.size();
        std::vector<std::wstring> items;
        std::wstring item;
        for (size_t i = pos; i < end; ++i) {
            wchar_t c = pattern[i];
            if (c == L' ' || c == L'\t') {
                if (!item.empty())
                    items.push_back(item), item.clear();
            } else {
                item += c;
            }
        }
        if (!item.empty())
            items.push_back(item);
        pos = end + 1;
        if (items.empty())
            continue; // an empty step (a trailing ";") plays nothing
        SignalStep step;
        std::wstring digits, duration;
        if (items.size() == 1) {
            digits = items[0].substr(0, 3);
            duration = items[0].size() > 3 ? items[0].substr(3) : L"";
        } else {
            for (size_t i = 0; i + 1 < items.size(); ++i)
                digits += items[i];
            duration = items.back();
        }
        if (digits.size() > 3)
            return false;
        for (size_t i = 0; i < digits.size(); ++i) {
            if (!IsDigit(digits[i]))
                return false;
            step.Fields[i] = FieldValue(digits[i]);
        }
        if (!duration.empty() && !ParseNumber(duration, step.Ms))
            return false;
        steps.push_back(step);
    }
    return true;
}

} // namespace

void CReader::Signal(const std::shared_ptr<ReaderCommand>& command, _CMD_SIGN_INFO& rec)
{
    if (!BinaryCommandModel()) {
        CompleteCommand(command, PE_NOT_SUPPORTED);
        return;
    }
    SetError(S_OK, L"");
    if (rec.FirstStep)
        m_flags &= ~READER_FLAG_SIGNAL_TIMER;
    if (rec.Pattern.empty()) {
        SendIdleIndication();
        CompleteWithLastError(command);
        return;
    }
    std::vector<SignalStep> steps;
    if (!ParsePattern(rec.Pattern, steps)) {
        // Nothing is played for a pattern that cannot be read as a whole.
        CompleteCommand(command, E_INVALIDARG);
        return;
    }
    if (!(m_flags & READER_FLAG_SIGNAL_TIMER))
        m_signalDuration = 0;
    bool first = rec.FirstStep != 0;
    for (const SignalStep& step : steps) {
        if (!CommandCurrent(command))
            return;
        const uint8_t code = static_cast<uint8_t>((first ? 0xC0 : 0x40) + step.Fields[0]
                                                  + step.Fields[1] * 4 + step.Fields[2] * 16);
        // Whole sixteenths of a second; only the low 8 bits travel.
        const uint8_t parameter = static_cast<uint8_t>(static_cast<uint64_t>(step.Ms) * 16 / 1000);
        first = false;
        uint8_t answer = 0;
        if (!BinarySignal(code, parameter, &answer))
            break;
        m_signalDuration += parameter * 1000u / 16u;
        if ((answer & 0xC0) == 0xC0)
            break;
    }
    if (!(m_flags & READER_FLAG_SIGNAL_TIMER)) {
        m_flags |= READER_FLAG_SIGNAL_TIMER;
        m_signalStart = GetTickCount();
    }
    CompleteWithLastError(command);
}
