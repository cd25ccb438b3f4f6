// Names that users type (key-type groups), shown as a tab's or a menu item's text. Windows takes a
// single & in such a text as the mark of an access key and hides it ("R&D Lab" would show as "RD
// Lab" with the D underlined); with every & doubled the name shows as it was typed.
#pragma once
#include <string>

std::wstring LiteralText(const std::wstring& name);
