// The device control block a serial open hands to SetCommState. Wine accepts blocks that Windows
// refuses (equal XON and XOFF characters, 1.5 stop bits with 8 data bits), so the block itself is
// checked here, starting from the states a port may report.
#include "ComLine.h"
#include "ReaderLineCheck.h"

#include <gtest/gtest.h>

TEST(ComLine, BlockFromZerosIsOneWindowsTakes)
{
    DCB dcb{};
    BuildComDcb(dcb, 9600, ONESTOPBIT, '\n');
    EXPECT_EQ(9600u, dcb.BaudRate);
    ExpectReaderLine(dcb, ONESTOPBIT, '\n');
}

TEST(ComLine, EveryFieldIsSetWhateverThePortHeld)
{
    const DCB left = LineLeftByAnotherProgram();

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
