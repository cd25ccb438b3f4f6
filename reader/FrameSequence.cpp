// Request frames of the binary protocol and their numbers.
#include "FrameSequence.h"

namespace {

const uint8_t FrameStart = 0x02;
const uint8_t StatusOk = 0x55;
const size_t FrameOverhead = 6;    // start, number, length, command, two sum bytes

bool HoldsFF(uint8_t sequence, uint8_t command, const uint8_t* data, size_t length)
{
    std::string frame;
    BuildRequestFrame(sequence, command, data, length, frame);
    return frame.find('\xFF') != std::string::npos;
}

// The number whose plain success reply (status 0x55, no answer) sums to 0xFF in its low byte.
uint8_t TelltaleSequence(uint8_t command)
{
    const unsigned rest = FrameStart + FrameOverhead + 1 + command + StatusOk;  // all but the number
    return static_cast<uint8_t>(0xFF - rest);
}

} // namespace

void BuildRequestFrame(uint8_t sequence, uint8_t command, const uint8_t* data, size_t length,
                       std::string& frame)
{
    const size_t start = frame.size();
    frame += static_cast<char>(FrameStart);
    frame += static_cast<char>(sequence);
    frame += static_cast<char>(length + FrameOverhead);
    frame += static_cast<char>(command);
    if (length)
        frame.append(reinterpret_cast<const char*>(data), length);
    uint32_t sum = 0;
    for (size_t i = start; i < frame.size(); ++i)
        sum += static_cast<uint8_t>(frame[i]);
    frame += static_cast<char>(sum & 0xFF);
    frame += static_cast<char>((sum >> 8) & 0xFF);
}

uint8_t NextRequestSequence(uint8_t last, uint8_t command, const uint8_t* data, size_t length,
                            bool converterWayUnknown)
{
    if (!converterWayUnknown)
        return static_cast<uint8_t>(last + 1);
    // Never the same number twice in a row: a late reply to the last request must not pass for
    // this one's.
    const uint8_t aimed = TelltaleSequence(command);
    if (aimed != last && !HoldsFF(aimed, command, data, length))
        return aimed;
    uint8_t sequence = last;
    for (int step = 0; step < 256; ++step) {
        ++sequence;
        if (sequence != last && !HoldsFF(sequence, command, data, length))
            return sequence;
    }
    return static_cast<uint8_t>(last + 1);  // the data itself holds 0xFF: no number helps
}
