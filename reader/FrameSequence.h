// How the binary protocol builds its request frames and numbers them. A reply carries the number
// of its request, so the number is the add-in's to choose; it matters behind a network converter
// that has not shown yet how it passes 0xFF (ConverterWay.h). A request holding 0xFF would reach
// a raw converter or a Telnet one broken, whichever way it were sent, and the reader would answer
// nothing. So while the way is unknown:
// - no request holds 0xFF where the number can keep it out (in the number itself and in the check
//   sum), and
// - the number is aimed, where it can be, so that the reader's reply saying success and nothing
//   more holds 0xFF as the low byte of its check sum: that reply shows the way at once (a raw
//   converter passes 0xFF followed by the sum's high byte, which is no Telnet command; a Telnet one
//   doubles it) before any request has to carry a 0xFF. The switch into binary mode at connection
//   is such a request, so its reply settles the question for the whole connection.
// Once the way is known, or on a serial line, the number simply counts up.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Appends the request frame: 0x02, number, total length, command, data, 16-bit sum (low first).
void BuildRequestFrame(uint8_t sequence, uint8_t command, const uint8_t* data, size_t length,
                       std::string& frame);

// The number of the next request after `last`.
uint8_t NextRequestSequence(uint8_t last, uint8_t command, const uint8_t* data, size_t length,
                            bool converterWayUnknown);
