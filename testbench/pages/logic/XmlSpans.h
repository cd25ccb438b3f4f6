// The colouring of the device dialog's XML pages: "<" and "</", ">" and "/>" red, tag names blue,
// everything else in the default colour. Positions are in the text as given.
#pragma once
#include <string>
#include <vector>

struct XmlSpan
{
    size_t start;
    size_t length;
    bool name; // a tag name (blue); otherwise a bracket (red)
};
std::vector<XmlSpan> XmlTagSpans(const std::wstring& text);
