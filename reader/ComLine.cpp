// Line settings of a serial port: the device control block and the comm-event mask.
#include "ComLine.h"

BYTE EffectiveStopBits(BYTE stopBits)
{
    if (stopBits == ONE5STOPBITS)
        return TWOSTOPBITS;
    return stopBits == TWOSTOPBITS ? TWOSTOPBITS : ONESTOPBIT;
}

void BuildComDcb(DCB& dcb, DWORD baudRate, BYTE stopBits, BYTE eventChar)
{
    dcb.DCBlength = sizeof(DCB);
    if (baudRate != 0)
        dcb.BaudRate = baudRate;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    // With it on, one framing error (a probe at the wrong speed) fails every later read until
    // ClearCommError.
    dcb.fAbortOnError = FALSE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = EffectiveStopBits(stopBits);
    dcb.XonChar = ComXonChar;
    dcb.XoffChar = ComXoffChar;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = static_cast<char>(eventChar);
}

DWORD CommEventMask(BYTE eventChar)
{
    return eventChar ? EV_RXCHAR | EV_RXFLAG : EV_RXCHAR;
}
