// The line settings of a serial port, as pure functions: the device control block that an open or
// a change of parameters hands to SetCommState, and the line events the port waits for.
//
// Rule: every DCB field the reader depends on is set here, whatever the block started from (the
// port's current state, or zeros when that cannot be read). Windows refuses a block whose XON and
// XOFF characters are equal, or 1.5 stop bits with 8 data bits; Wine accepts both silently, so
// only these functions' tests can catch such a block.
#pragma once
#include <windows.h>

// XON and XOFF as the serial-line convention has them (DC1, DC3). Software flow control is off,
// but SetCommState on Windows still refuses a block in which the two are equal.
const char ComXonChar = 0x11;
const char ComXoffChar = 0x13;

// The stop-bits code (0 one, 1 one and a half, 2 two) that a line of 8 data bits can really take:
// one and a half becomes two (what Windows refuses and Wine does quietly); an unknown code one.
BYTE EffectiveStopBits(BYTE stopBits);

// Fills `dcb`, which holds the port's current state or zeros, for the reader's line: 8 data bits,
// no parity and no parity check, the effective stop bits, binary mode, no flow control of any kind,
// DTR and RTS off, no abort on error, distinct XON and XOFF characters, and the event character.
// A baud rate of 0 keeps the rate the block already holds.
void BuildComDcb(DCB& dcb, DWORD baudRate, BYTE stopBits, BYTE eventChar);


// The line events the port's comm-event wait asks for; the same on every system. Any received
// character ends the wait, the event character as well when one is set: Wine never reports the
// event character, and a reply that holds none (a frame) must not wait for its time-out.
DWORD CommEventMask(BYTE eventChar);
