// The serial ports the system registers under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
#pragma once
#include <string>
#include <vector>

// Appends the port names in the registry's order, upper-cased. A missing key adds nothing;
// an enumeration error throws COSException ("RegEnumValue").
void EnumSerialPorts(std::vector<std::wstring>& ports);
