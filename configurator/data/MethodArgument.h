// One argument of an add-in method as the test bench remembers it between calls: the chosen type
// and value, and the method's default for that parameter. Only type and value are stored in
// ConfigParvel.xml; the default is read again from the add-in when the method-call dialog opens.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct MethodArgument
{
    uint16_t Type = 0;        // variant type code of the value; 0 (EMPTY) until one is chosen
    std::wstring Value;       // the value as text (numbers in decimal)
    uint16_t DefaultType = 0; // type of the method's default value; 0 when it has none
    std::wstring Default;     // the default as text; empty when none
};

using MethodArguments = std::vector<MethodArgument>;
// Method name (the English name) -> its last arguments, in name order.
using MethodArgumentHistory = std::map<std::wstring, MethodArguments>;
