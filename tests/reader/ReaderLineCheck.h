// What a device control block must hold for the reader's line, whatever the port's state was:
// checked on the block built by the pure function and on the one a port hands to SetCommState.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

// Whether `dcb` is a block Windows takes for the reader's line, and every field the reader depends
// on has the value it needs.
inline void ExpectReaderLine(const DCB& dcb, BYTE stopBits, BYTE eventChar)
{
    EXPECT_EQ(sizeof(DCB), dcb.DCBlength);
    EXPECT_NE(dcb.XonChar, dcb.XoffChar) << "Windows refuses equal XON and XOFF characters";
    EXPECT_EQ(1u, dcb.fBinary);
    EXPECT_EQ(0u, dcb.fParity);
    EXPECT_EQ(0u, dcb.fOutxCtsFlow);
    EXPECT_EQ(0u, dcb.fOutxDsrFlow);
    EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_DISABLE), dcb.fDtrControl);
    EXPECT_EQ(0u, dcb.fDsrSensitivity);
    EXPECT_EQ(0u, dcb.fOutX);
    EXPECT_EQ(0u, dcb.fInX);
    EXPECT_EQ(0u, dcb.fErrorChar);
    EXPECT_EQ(0u, dcb.fNull);
    EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_DISABLE), dcb.fRtsControl);
    EXPECT_EQ(0u, dcb.fAbortOnError);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(NOPARITY, dcb.Parity);
    EXPECT_EQ(stopBits, dcb.StopBits);
    EXPECT_NE(ONE5STOPBITS, dcb.StopBits) << "Windows refuses 1.5 stop bits with 8 data bits";
    EXPECT_EQ(static_cast<char>(eventChar), dcb.EvtChar);
}

// A port left by another program with hardware and software flow control, parity checking, abort
// on error, DTR and RTS handshaking, equal XON and XOFF characters, 7 data bits and 19200 Bd.
inline DCB LineLeftByAnotherProgram()
{
    DCB left;
    std::memset(&left, 0xFF, sizeof(left));
    left.DCBlength = 12;
    left.BaudRate = 19200;
    left.XonLim = 2048;
    left.XoffLim = 512;
    left.ByteSize = 7;
    left.Parity = EVENPARITY;
    left.StopBits = TWOSTOPBITS;
    left.XonChar = left.XoffChar = 0;
    return left;
}
