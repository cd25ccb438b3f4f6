// Hexadecimal text of bytes.
#include "Hex.h"

int BytesToHex(const uint8_t* bytes, size_t count, wchar_t* buffer, size_t size)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    if (!buffer || size == 0)
        return 0;
    size_t written = 0;
    if (size >= 2)
    {
        for (size_t i = 0; i < count && written + 1 < size; ++i)
        {
            buffer[written++] = digits[bytes[i] >> 4];
            if (written + 1 < size)
                buffer[written++] = digits[bytes[i] & 0x0F];
        }
    }
    buffer[written] = L'\0';
    return static_cast<int>(written);
}
