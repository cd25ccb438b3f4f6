// The device control block a serial open hands to SetCommState. Wine accepts blocks that Windows
// refuses (equal XON and XOFF characters, 1.5 stop bits with 8 data bits), so the block itself is
// checked here, starting from the states a port may report.
#include "ComLine.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Whether `dcb` is a block Windows takes for the reader's line, and every field the reader
// depends on has the value it needs.
void ExpectReaderLine(const DCB& dcb, BYTE stopBits, BYTE eventChar)
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

} // namespace

TEST(ComLine, BlockFromZerosIsOneWindowsTakes)
{
    DCB dcb{};
    BuildComDcb(dcb, 9600, ONESTOPBIT, '\n');
    EXPECT_EQ(9600u, dcb.BaudRate);
    ExpectReaderLine(dcb, ONESTOPBIT, '\n');
}

TEST(ComLine, EveryFieldIsSetWhateverThePortHeld)
{
    // A port left by another program with hardware and software flow control, parity checking,
    // abort on error, DTR and RTS handshaking and odd characters.
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

    struct Case { DWORD baud; BYTE stopBits; BYTE eventChar; DWORD expectBaud; BYTE expectStopBits; };
    const Case cases[] = {
        {115200, ONESTOPBIT, 0, 115200, ONESTOPBIT},
        {0, TWOSTOPBITS, '\n', 19200, TWOSTOPBITS},       // rate 0 keeps the port's own
        {9600, ONE5STOPBITS, 0xC0, 9600, TWOSTOPBITS},    // 1.5 is not possible with 8 data bits
        {9600, 7, '\n', 9600, ONESTOPBIT},                // an unknown code: one stop bit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        DCB dcb = left;
        BuildComDcb(dcb, c.baud, c.stopBits, c.eventChar);
        EXPECT_EQ(c.expectBaud, dcb.BaudRate);
        ExpectReaderLine(dcb, c.expectStopBits, c.eventChar);
        // The driver's own limits are its business: they are kept as it reported them.
        EXPECT_EQ(2048, dcb.XonLim);
        EXPECT_EQ(512, dcb.XoffLim);
    }
}

TEST(ComLine, EffectiveStopBits)
{
    EXPECT_EQ(ONESTOPBIT, EffectiveStopBits(ONESTOPBIT));
    EXPECT_EQ(TWOSTOPBITS, EffectiveStopBits(ONE5STOPBITS));
    EXPECT_EQ(TWOSTOPBITS, EffectiveStopBits(TWOSTOPBITS));
    EXPECT_EQ(ONESTOPBIT, EffectiveStopBits(3));
}

// The wait asks for the same events on every system, so the wake path the tests run under Wine is
// the one a Windows machine runs: any character wakes the owner, whether or not the reply holds the
// event character.
TEST(ComLine, CommEventMaskWakesOnEveryCharacter)
{
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), CommEventMask(0));
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR | EV_RXFLAG), CommEventMask('\n'));
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR | EV_RXFLAG), CommEventMask(0xC0));
}
