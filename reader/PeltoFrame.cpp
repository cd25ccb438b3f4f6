// The Pelto frame codec: escaping, building a request and checking a reply.
#include "PeltoFrame.h"
#include "Messages.h"

namespace {

const uint8_t EscapeByte = 0xDB;
const uint8_t EscapedEnd = 0x01;
const uint8_t EscapedEscape = 0xDD;

} // namespace

void PeltoEscape(std::string& out, const uint8_t* bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == PELTO_FRAME_END) {
            out += static_cast<char>(EscapeByte);
            out += static_cast<char>(EscapedEnd);
        } else if (bytes[i] == EscapeByte) {
            out += static_cast<char>(EscapeByte);
            out += static_cast<char>(EscapedEscape);
        } else {
            out += static_cast<char>(bytes[i]);
        }
    }
}

void PeltoUnescape(const uint8_t* bytes, size_t count, std::string& out)
{
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != EscapeByte) {
            out += static_cast<char>(bytes[i]);
            continue;
        }
        if (i + 1 >= count)
            break;
        ++i;
        if (bytes[i] == EscapedEnd)
            out += static_cast<char>(PELTO_FRAME_END);
        else if (bytes[i] == EscapedEscape)
            out += static_cast<char>(EscapeByte);
    }
}

std::string PeltoBuildFrame(uint8_t command, const uint8_t* data, size_t count)
{
    uint8_t sum = command;
    for (size_t i = 0; i < count; ++i)
        sum = static_cast<uint8_t>(sum + data[i]);
    const uint8_t check = static_cast<uint8_t>(0x100 - sum);
    std::string frame;
    PeltoEscape(frame, &command, 1);
    PeltoEscape(frame, data, count);
    PeltoEscape(frame, &check, 1);
    frame += static_cast<char>(PELTO_FRAME_END);
    return frame;
}

HRESULT PeltoCheckFrame(const uint8_t* bytes, size_t count, uint32_t& command, std::string& payload)
{
    payload.clear();
    command = 0;
    // Command, check byte and terminator at least; a first byte 0xDB names no command.
    if (!bytes || count < 3 || bytes[count - 1] != PELTO_FRAME_END || bytes[0] == EscapeByte)
        return PE_BAD_REPLY;
    std::string plain;
    PeltoUnescape(bytes, count - 1, plain);
    if (plain.size() < 2)
        return PE_BAD_REPLY;
    // The check byte is taken over the bytes as received; a reader that sums the unescaped
    // bytes (as requests are summed) is accepted as well, or a reply that carries 0xC0 or 0xDB
    // (a card number holding one of them) could never be read.
    uint8_t raw = 0, unescaped = 0;
    for (size_t i = 0; i + 1 < count; ++i)
        raw = static_cast<uint8_t>(raw + bytes[i]);
    for (char c : plain)
        unescaped = static_cast<uint8_t>(unescaped + static_cast<uint8_t>(c));
    if (raw != 0 && unescaped != 0)
        return PE_BAD_REPLY;
    command = static_cast<uint8_t>(plain[0]);
    payload.assign(plain, 1, plain.size() - 2);
    return S_OK;
}

namespace {

// The replies a Pelto gives to the requests sent to it: a status to a control request; to a key
// read, a Temic key (and an Em-Marine one) after success, else flags and an Em-Marine key, or the
// flags alone.
bool HasAReplysForm(uint32_t command, const std::string& payload)
{
    if (payload.empty())
        return false;
    const size_t answer = payload.size() - 1;
    if (command == 0x02)
        return answer == 0;
    if (command != 0x61)
        return false;
    if (static_cast<uint8_t>(payload[0]) == 0xAA)
        return answer == 9 || answer == 14;
    if (answer >= 1 && (static_cast<uint8_t>(payload[1]) & 0x20))
        return answer == 6;
    return answer <= 1;
}

int PeltoFrameFit(const uint8_t* frame, size_t count)
{
    uint32_t command = 0;
    std::string payload;
    if (PeltoCheckFrame(frame, count, command, payload) != S_OK)
        return 0;
    return HasAReplysForm(command, payload) ? 2 : 1;
}

} // namespace

const ConverterFrameCheck& PeltoConverterFrameCheck()
{
    static const ConverterFrameCheck check{PELTO_FRAME_END, &PeltoFrameFit};
    return check;
}
