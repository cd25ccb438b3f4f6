// Where the XML pages colour a document.
#include "XmlSpans.h"

std::vector<XmlSpan> XmlTagSpans(const std::wstring& text)
{
    std::vector<XmlSpan> spans;
    size_t pos = 0;
    while ((pos = text.find(L'<', pos)) != std::wstring::npos) {
        size_t open = 1;
        if (pos + 1 < text.size() && text[pos + 1] == L'/')
            open = 2;
        spans.push_back({pos, open, false});
        const size_t close = text.find(L'>', pos + open);
        const size_t nameEnd = close == std::wstring::npos ? text.size() : close;
        size_t nameStop = text.find(L' ', pos + open);
        if (nameStop == std::wstring::npos || nameStop > nameEnd)
            nameStop = nameEnd;
        size_t closeLength = 1;
        if (close != std::wstring::npos && close > pos + open && text[close - 1] == L'/') {
            closeLength = 2;
            if (nameStop == close)
                nameStop = close - 1;
        }
        if (nameStop > pos + open)
            spans.push_back({pos + open, nameStop - (pos + open), true});
        if (close == std::wstring::npos)
            break;
        spans.push_back({close + 1 - closeLength, closeLength, false});
        pos = close + 1;
    }
    return spans;
}
