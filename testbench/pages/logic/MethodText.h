// Texts of the methods page and the method-call dialogs that need no window: type names, the
// default values of a method's parameters, the argument editor's conversions and the lines that
// Execute writes into the output.
#pragma once
#include "NativeApi.h"
#include <windows.h>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

class CTestParvel;

// VariantTypeNames for codes 0-24; `other` (the pages use "?" or "") for any larger code.
const wchar_t* TypeName(uint32_t type, const wchar_t* other);

// The default value of one parameter as the method dialog keeps it: I2 and UI2 as decimal
// numbers, I4 and UI4 as the signed decimal of their 32 bits, BOOL as "1" or "0", I8 and UI8 as
// signed 64-bit decimals, PWSTR as its text, BLOB as upper-case hexadecimal; any other type (NULL
// included) keeps its type with an empty text.
void DefaultArgumentText(const tVariant& value, uint16_t& type, std::wstring& text);

// One parameter's default for the methods list: "5=0 (0x0)(UI4)".
struct ParamDefault
{
    int index = 0;
    uint32_t type = 0;
    std::wstring text; // FormatVariant of the value
};
// "%d=%s(%s)" of each default joined by ", " (the methods list's default-parameters column).
std::wstring DefaultParamsText(const std::vector<ParamDefault>& defaults);

// The argument editor of a type: 0 none, 1 boolean, 2 32-bit integer, 3 64-bit integer, 4 text.
int ArgEditorKind(uint32_t type);
// The number a 32- or 64-bit editor shows for a value text (read as a signed 64-bit decimal).
std::wstring ArgNumberForEditor(int kind, const std::wstring& value, bool hex);
// Reads the number editor's text back into the value text of an argument of `type` (the signed
// decimal of its 32 or 64 bits). The text decides the mode: hex is updated and true returned in
// `modeChanged` when it flipped. False, the value left as it was, when the text is no number of
// the type (ParseTypedNumber).
bool ArgNumberFromEditor(uint16_t type, const std::wstring& editText, bool& hex, bool& modeChanged, std::wstring& value);

// Whether a BLOB argument's text is bytes as hexadecimal pairs ("0A FF", "0aff"; blanks between
// the digits are allowed, an empty text is no bytes). Any other text would be turned into bytes
// the user never wrote, so it is refused.
bool IsBlobText(const std::wstring& text);

// "09:05:03.  7 text" + CR LF: the output line of the method dialog (milliseconds padded with
// blanks to three places).
std::wstring OutputLine(const SYSTEMTIME& time, const std::wstring& text);

// The lines Execute writes after a successful call: "Successfully.", the result with its type
// (functions only), and with parameters "Argument Output values:" and one line per parameter.
std::vector<std::wstring> ExecuteResultLines(bool hasReturn, const tVariant& result, const tVariant* params,
                                             long count, const CTestParvel* host);
// An exception's text for the output: widened from the ANSI code page, its trailing line breaks
// cut (the add-in's error texts end with CR LF and the output line adds its own).
std::wstring ErrorTextForOutput(const char* what);
// The same for an exception, from its own UTF-16 message where it has one.
std::wstring ErrorTextForOutput(const std::exception& e);
