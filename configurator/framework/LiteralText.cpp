// A typed name as the text of a control or menu item that reads & as an access-key mark.
#include "LiteralText.h"

std::wstring LiteralText(const std::wstring& name)
{
    std::wstring text;
    text.reserve(name.size());
    for (wchar_t c : name) {
        text.push_back(c);
        if (c == L'&')
            text.push_back(L'&');
    }
    return text;
}
