// The XML document model: node operations, text codecs, writer, lenient parser and file I/O.
// The parser keeps its open elements on an explicit stack and the node destructor flattens the
// subtree it deletes, so no input, however deeply nested, can exhaust the thread's stack.
#include "Xml.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Handles.h"
#include "WFormat.h"
#include <windows.h>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

namespace {

const std::size_t npos = std::wstring::npos;

// Before every node made with new: the arena it came from, or null for the heap.
const std::size_t NodeHeader = alignof(std::max_align_t);

// Up to this many attributes (or children) a search compares names one by one, which beats
// hashing for the few an element usually has and costs no memory.
const std::size_t LinearSearchLimit = 8;

// Position of c in text[from, to), or npos.
std::size_t FindIn(const std::wstring& text, wchar_t c, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        if (text[i] == c)
            return i;
    return npos;
}

// text[from, to) without leading and trailing spaces (U+0020 only).
std::wstring TrimmedSlice(const std::wstring& text, std::size_t from, std::size_t to)
{
    while (from < to && text[from] == L' ')
        ++from;
    while (to > from && text[to - 1] == L' ')
        --to;
    return text.substr(from, to - from);
}

bool EntityIs(const wchar_t* entity, std::size_t length, const wchar_t* name)
{
    return wcslen(name) == length && wmemcmp(entity, name, length) == 0;
}

void AppendCodePoint(std::wstring& out, unsigned long value)
{
    if (value == 0 || value > 0x10FFFF)
        return;   // not a character: dropped like any other unknown reference
    if (value <= 0xFFFF) {
        out += static_cast<wchar_t>(value);
    } else {
        value -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (value >> 10));
        out += static_cast<wchar_t>(0xDC00 + (value & 0x3FF));
    }
}

// Deletes a file on scope exit unless dismissed: the temporary file of a failed save.
class CTempFileRemover
{
public:
    CTempFileRemover() = default;
    ~CTempFileRemover()
    {
        if (!m_path.empty())
            DeleteFileW(m_path.c_str());
    }
    CTempFileRemover(const CTempFileRemover&) = delete;
    CTempFileRemover& operator=(const CTempFileRemover&) = delete;
    void Set(const std::wstring& path) { m_path = path; }
    void Dismiss() { m_path.clear(); }

private:
    std::wstring m_path;
};

void WriteAll(HANDLE file, const char* data, std::size_t size, const std::wstring& path)
{
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr))
            ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
        if (written < chunk)
            ThrowFileException(CFileException::DiskFull, CFileException::NoOsError, path.c_str());
        data += written;
        size -= written;
    }
}

// NUL is no character of an XML text (UTF-16 without its byte-order mark, or no text at all).
// Kept, it would be written back and the file found damaged again at every load.
XmlDamage ReplaceNuls(std::wstring& text, XmlDamage damage)
{
    std::size_t at = text.find(L'\0');
    if (at == std::wstring::npos)
        return damage;
    for (; at < text.size(); ++at)
        if (text[at] == L'\0')
            text[at] = L'\xFFFD';
    return damage == XmlDamage::None ? XmlDamage::Encoding : damage;
}

XmlDamage DecodeBytes(const std::string& data, std::wstring& text, bool& utf16)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t size = data.size();
    if (size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        utf16 = true;
        bool bigEndian = bytes[0] == 0xFE;
        text.resize((size - 2) / 2);
        for (std::size_t i = 0; i < text.size(); ++i) {
            unsigned char a = bytes[2 + 2 * i], b = bytes[3 + 2 * i];
            text[i] = static_cast<wchar_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
        }
        return size % 2 ? XmlDamage::Truncated : XmlDamage::None;
    }
    utf16 = false;
    std::size_t skip = size >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const char* utf8 = data.data() + skip;
    int length = static_cast<int>(size - skip);
    text.clear();
    if (length == 0)
        return XmlDamage::None;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, length, nullptr, 0);
    if (n <= 0) {
        Utf8ToWide(text, utf8, length);
        return XmlDamage::Encoding;
    }
    text.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, length, &text[0], n);
    return XmlDamage::None;
}

}  // namespace

// The text of a file's bytes: UTF-16 (either byte order) after its byte-order mark, else UTF-8
// with or without one. Encoding when the bytes are not that: the text then still holds what could
// be decoded (invalid UTF-8 and NUL characters as U+FFFD), so a damaged file parses as far as it
// can, and what is written back from it is no longer damaged in the same way.
XmlDamage DecodeXmlFileText(const std::string& data, std::wstring& text, bool& utf16)
{
    XmlDamage damage = DecodeBytes(data, text, utf16);
    return ReplaceNuls(text, damage);
}

// ---------------------------------------------------------------------------------------------
// CMXAttributes

std::size_t CMXAttributes::Position(const std::wstring& name) const
{
    if (m_index) {
        auto it = m_index->find(name);
        return it == m_index->end() ? m_items.size() : it->second;
    }
    std::size_t i = 0;
    while (i < m_items.size() && m_items[i].first != name)
        ++i;
    return i;
}

CMXAttributes::const_iterator CMXAttributes::find(const std::wstring& name) const
{
    return m_items.begin() + static_cast<std::ptrdiff_t>(Position(name));
}

void CMXAttributes::insert_or_assign(const std::wstring& name, const std::wstring& value)
{
    std::size_t at = Position(name);
    if (at < m_items.size()) {
        m_items[at].second = value;
        return;
    }
    m_items.emplace_back(name, value);
    if (m_index) {
        m_index->emplace(name, at);
    } else if (m_items.size() > LinearSearchLimit) {
        m_index = std::make_unique<std::unordered_map<std::wstring, std::size_t>>();
        for (std::size_t i = 0; i < m_items.size(); ++i)
            m_index->emplace(m_items[i].first, i);
    }
}

void CMXAttributes::clear()
{
    m_items.clear();
    m_index.reset();
}

// ---------------------------------------------------------------------------------------------
// CMXNode

CMXNode::CMXNode(const std::wstring& name) : Name(name) {}

CMXNode::CMXNode(std::wstring&& name) : Name(std::move(name)) {}

CMXNode::~CMXNode()
{
    RemoveChildren();
}

void* CMXNode::operator new(std::size_t size, CXmlNodeArena* arena)
{
    // The arena's blocks fit a CMXNode; anything larger (a derived node) comes from the heap.
    void* block = arena && size == sizeof(CMXNode) ? arena->Allocate() : ::operator new(NodeHeader + size);
    *static_cast<CXmlNodeArena**>(block) = size == sizeof(CMXNode) ? arena : nullptr;
    return static_cast<char*>(block) + NodeHeader;
}

void CMXNode::operator delete(void* node)
{
    if (!node)
        return;
    void* block = static_cast<char*>(node) - NodeHeader;
    if (CXmlNodeArena* arena = *static_cast<CXmlNodeArena**>(block))
        arena->Free(block);
    else
        ::operator delete(block);
}

void CMXNode::RemoveChildren()
{
    // Grandchildren are moved to a work list before their parent dies, so every node is deleted
    // childless and the destructors never nest.
    CMXChildren::Storage pending = std::move(Children.m_items);
    Children.m_items.clear();
    m_index.reset();
    while (!pending.empty()) {
        std::unique_ptr<CMXNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->Children.m_items)
            pending.push_back(std::move(child));
        node->Children.m_items.clear();
        node->m_index.reset();
    }
}

void CMXNode::RemoveChildrenFrom(std::size_t first)
{
    if (first == 0) {
        RemoveChildren();
        return;
    }
    if (first >= Children.m_items.size())
        return;
    CMXNode doomed{std::wstring()};   // its destructor deletes the tail without recursion
    for (std::size_t i = first; i < Children.m_items.size(); ++i)
        doomed.Children.m_items.push_back(std::move(Children.m_items[i]));
    Children.m_items.resize(first);
    m_index.reset();   // rebuilt on the next search that needs it
}

CMXNode* CMXNode::FindChild(const std::wstring& name) const
{
    const CMXChildren::Storage& children = Children.m_items;
    if (!m_index) {
        if (children.size() <= LinearSearchLimit) {
            for (const auto& child : children)
                if (child->Name == name)
                    return child.get();
            return nullptr;
        }
        m_index = std::make_unique<std::unordered_map<std::wstring_view, CMXNode*>>(children.size());
        for (const auto& child : children)
            m_index->emplace(child->Name, child.get());   // keeps the earlier child of a name
    }
    auto it = m_index->find(name);
    return it == m_index->end() ? nullptr : it->second;
}

template <class NameText>
CMXNode* CMXNode::Add(NameText&& name)
{
    std::unique_ptr<CMXNode> child(new (m_arena) CMXNode(std::forward<NameText>(name)));
    child->m_arena = m_arena;
    CMXChildren::Storage& children = Children.m_items;
    if (children.empty())
        children.reserve(8);   // an element mostly has a few children: one allocation, not four
    children.push_back(std::move(child));
    CMXNode* added = children.back().get();
    if (m_index)
        m_index->emplace(added->Name, added);   // keeps the earlier child when the name is taken
    return added;
}

CMXNode* CMXNode::AddChild(const std::wstring& name)
{
    return Add(name);
}

CMXNode* CMXNode::AddChild(std::wstring&& name)
{
    return Add(std::move(name));
}

void CMXNode::SetAttribute(const std::wstring& name, const std::wstring& value)
{
    Attributes.insert_or_assign(name, value);
}

const std::wstring& CMXNode::GetAttribute(const std::wstring& name) const
{
    static const std::wstring empty;
    auto it = Attributes.find(name);
    return it == Attributes.end() ? empty : it->second;
}

CMXNode* CMXNode::GetNode(const std::wstring& path, bool create)
{
    CMXNode* node = this;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == npos)
            end = path.size();
        if (end > start) {
            std::wstring part = path.substr(start, end - start);
            CMXNode* child = node->FindChild(part);
            if (!child) {
                if (!create)
                    return nullptr;
                child = node->AddChild(part);
            }
            node = child;
        }
        start = end + 1;
    }
    return node;
}

// ---------------------------------------------------------------------------------------------
// CMemXML: codecs

CMemXML::CMemXML() : m_nodes(NodeHeader + sizeof(CMXNode)), m_root(std::wstring()), m_indentUnit(L"\t")
{
    m_root.m_arena = &m_nodes;
}

CMemXML::~CMemXML() = default;

void CMemXML::EncodeText(std::wstring& out, const wchar_t* text, std::ptrdiff_t length) const
{
    out.clear();
    if (!text)
        return;
    std::size_t n = length < 0 ? wcslen(text) : static_cast<std::size_t>(length);
    out.reserve(n);
    // Runs without a special character are copied whole.
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const wchar_t* entity;
        switch (text[i]) {
        case L'"': entity = L"&quot;"; break;
        case L'&': entity = L"&amp;"; break;
        case L'\'': entity = L"&apos;"; break;
        case L'<': entity = L"&lt;"; break;
        case L'>': entity = L"&gt;"; break;
        default: continue;
        }
        out.append(text + run, i - run);
        out += entity;
        run = i + 1;
    }
    out.append(text + run, n - run);
}

void CMemXML::DecodeText(std::wstring& out, const wchar_t* text, std::ptrdiff_t length) const
{
    out.clear();
    if (!text)
        return;
    std::size_t n = length < 0 ? wcslen(text) : static_cast<std::size_t>(length);
    out.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        if (text[i] != L'&') {
            // The run up to the next entity is copied whole.
            const wchar_t* amp = wmemchr(text + i, L'&', n - i);
            std::size_t end = amp ? static_cast<std::size_t>(amp - text) : n;
            out.append(text + i, end - i);
            i = end;
            continue;
        }
        // The entity runs to the next ';', or to the end of the text when there is none.
        std::size_t start = i + 1;
        std::size_t semi = start;
        while (semi < n && text[semi] != L';')
            ++semi;
        i = semi < n ? semi + 1 : n;
        const wchar_t* entity = text + start;
        std::size_t len = semi - start;
        if (EntityIs(entity, len, L"lt"))
            out += L'<';
        else if (EntityIs(entity, len, L"gt"))
            out += L'>';
        else if (EntityIs(entity, len, L"amp"))
            out += L'&';
        else if (EntityIs(entity, len, L"quot"))
            out += L'"';
        else if (EntityIs(entity, len, L"apos"))
            out += L'\'';
        else if (len >= 2 && entity[0] == L'#' && entity[1] == L'x') {
            std::wstring digits(entity + 2, len - 2);   // NUL-terminated for the parser
            wchar_t* stop = nullptr;
            unsigned long value = wcstoul(digits.c_str(), &stop, 16);
            if (stop != digits.c_str())
                AppendCodePoint(out, value);
        }
        // Anything else (other names, decimal references, "#X") is dropped.
    }
}

// ---------------------------------------------------------------------------------------------
// CMemXML: writer

void CMemXML::WriteAttributes(std::wstring& out, const CMXNode& node) const
{
    std::wstring value;
    for (const auto& attribute : node.Attributes) {
        EncodeText(value, attribute.second.data(), static_cast<std::ptrdiff_t>(attribute.second.size()));
        out += L' ';
        out += attribute.first;
        out += L"=\"";
        out += value;
        out += L'"';
    }
}

void CMemXML::WriteNode(std::wstring& out, const CMXNode& node, const std::wstring& indent) const
{
    // Depth-first with an explicit stack of (open element, next child to write).
    std::vector<std::pair<const CMXNode*, std::size_t>> open;
    std::wstring currentIndent = indent;
    std::wstring text;
    const CMXNode* next = &node;
    while (next) {
        out += currentIndent;
        out += L'<';
        out += next->Name;
        WriteAttributes(out, *next);
        if (!next->Children.empty()) {
            out += L">\r\n";
            open.emplace_back(next, 0);
            currentIndent += m_indentUnit;
        } else if (next->Name.compare(0, 1, L"?") == 0) {
            out += L"?>\r\n";   // a processing instruction kept from the file read
        } else if (next->Text.empty()) {
            out += L"/>\r\n";
        } else {
            EncodeText(text, next->Text.data(), static_cast<std::ptrdiff_t>(next->Text.size()));
            out += L'>';
            out += text;
            out += L"</";
            out += next->Name;
            out += L">\r\n";
        }
        next = nullptr;
        while (!next && !open.empty()) {
            auto& top = open.back();
            if (top.second < top.first->Children.size()) {
                next = top.first->Children[top.second++];
            } else {
                currentIndent.resize(currentIndent.size() - m_indentUnit.size());
                out += currentIndent;
                out += L"</";
                out += top.first->Name;
                out += L">\r\n";
                open.pop_back();
            }
        }
    }
}

void CMemXML::Serialize(std::wstring& out) const
{
    out.clear();
    out.reserve(4096);
    out += L"<?xml";
    // The XML standard wants version first and encoding second; other declaration attributes
    // follow in their own order.
    CMXNode declaration{std::wstring()};
    for (const wchar_t* first : {L"version", L"encoding"}) {
        auto it = m_root.Attributes.find(first);
        if (it != m_root.Attributes.end())
            declaration.SetAttribute(it->first, it->second);
    }
    for (const auto& attribute : m_root.Attributes)
        if (!declaration.Attributes.count(attribute.first))
            declaration.SetAttribute(attribute.first, attribute.second);
    WriteAttributes(out, declaration);
    out += L"?>\r\n";
    if (!m_doctype.empty()) {
        out += m_doctype;
        out += L"\r\n";
    }
    for (const CMXNode* child : m_root.Children)
        WriteNode(out, *child, std::wstring());
}

// ---------------------------------------------------------------------------------------------
// CMemXML: parser

void CMemXML::Parse(const std::wstring& text)
{
    m_root.RemoveChildren();
    m_root.Attributes.clear();
    m_root.Text.clear();
    m_doctype.clear();
    m_damage = XmlDamage::None;
    m_leftOpen.clear();
    auto damage = [this](XmlDamage kind) {
        if (m_damage == XmlDamage::None)
            m_damage = kind;
    };
    bool haveRoot = false;

    // The parents of the current element; a closing tag returns to the last of them, whatever
    // name it carries.
    std::vector<CMXNode*> parents;
    CMXNode* current = &m_root;
    const std::size_t size = text.size();
    std::size_t pos = 0;
    std::wstring value;
    while (pos < size) {
        std::size_t lt = text.find(L'<', pos);
        if (lt == npos)
            break;
        std::size_t gt = text.find(L'>', lt + 1);
        if (gt == npos) {
            damage(XmlDamage::Truncated);
            break;
        }
        if (lt + 1 < gt && text[lt + 1] == L'/') {
            std::size_t nameEnd = gt;
            while (nameEnd > lt + 2 && iswspace(text[nameEnd - 1]))
                --nameEnd;
            if (parents.empty() || text.compare(lt + 2, nameEnd - lt - 2, current->Name) != 0)
                damage(XmlDamage::Unbalanced);
            if (parents.empty()) {
                current = &m_root;
            } else {
                current = parents.back();
                parents.pop_back();
            }
            pos = gt + 1;
            continue;
        }

        std::size_t contentStart = lt + 1;
        std::size_t contentEnd = gt;
        bool selfClosing = false;
        if (contentEnd > contentStart && (text[contentEnd - 1] == L'/' || text[contentEnd - 1] == L'?')) {
            --contentEnd;
            selfClosing = true;
        }
        std::size_t nameEnd = FindIn(text, L' ', contentStart, contentEnd);
        if (nameEnd == npos)
            nameEnd = contentEnd;
        std::wstring name = text.substr(contentStart, nameEnd - contentStart);

        if (!name.empty() && name[0] == L'!') {
            // Comments, document-type declarations, CDATA: balanced angle brackets, counted from
            // the end of the name. An unbalanced construct swallows the rest of the text.
            int depth = 1;
            std::size_t end = nameEnd;
            for (; end < size; ++end) {
                if (text[end] == L'<')
                    ++depth;
                else if (text[end] == L'>' && --depth == 0)
                    break;
            }
            if (end >= size) {
                damage(XmlDamage::Truncated);
                break;
            }
            if (name == L"!DOCTYPE")
                m_doctype = text.substr(lt, end - lt + 1);
            pos = end + 1;
            continue;
        }
        if (name.empty()) {
            pos = gt + 1;   // "<>", "< x>": no element to recognise
            continue;
        }

        bool declaration = name == L"?xml";
        bool instruction = name[0] == L'?';
        if (!instruction && parents.size() >= MaxDepth) {
            damage(XmlDamage::TooDeep);
            break;
        }
        if (current == &m_root && !instruction) {
            if (haveRoot)
                damage(XmlDamage::Roots);
            haveRoot = true;
        }
        CMXNode* element = declaration ? &m_root : current->AddChild(std::move(name));

        // Attributes: each '=' ends a name (the text since the previous attribute, trimmed of
        // spaces); the value is double-quoted, with one space allowed after the '='. Anything
        // else is skipped.
        std::size_t p = nameEnd;
        for (;;) {
            std::size_t eq = FindIn(text, L'=', p, contentEnd);
            if (eq == npos)
                break;
            std::size_t v = eq + 1;
            if (v < contentEnd && text[v] == L' ')
                ++v;
            if (v < contentEnd && text[v] == L'"') {
                std::size_t close = FindIn(text, L'"', v + 1, contentEnd);
                if (close == npos)
                    break;   // unterminated value: nothing after it can be told apart
                DecodeText(value, text.data() + v + 1, static_cast<std::ptrdiff_t>(close - v - 1));
                element->SetAttribute(TrimmedSlice(text, p, eq), value);
                p = close + 1;
            } else if (v < contentEnd && text[v] == L'\'') {
                // Single-quoted values are not recognised; skipping the value whole keeps it out
                // of the next attribute's name.
                std::size_t close = FindIn(text, L'\'', v + 1, contentEnd);
                if (close == npos)
                    break;
                p = close + 1;
            } else {
                // Unquoted (or a second space after '='): skipped up to the next space.
                std::size_t space = FindIn(text, L' ', v, contentEnd);
                p = space == npos ? contentEnd : space;
            }
        }

        // Processing instructions never hold children.
        if (instruction || selfClosing) {
            pos = gt + 1;
            continue;
        }

        parents.push_back(current);
        current = element;
        std::size_t next = text.find(L'<', gt + 1);
        if (next == npos)
            break;
        // Text is kept only when a closing tag follows it (a leaf); text before an opening tag
        // is mixed content or layout and is dropped.
        if (next > gt + 1 && next + 1 < size && text[next + 1] == L'/')
            DecodeText(element->Text, text.data() + gt + 1, static_cast<std::ptrdiff_t>(next - gt - 1));
        pos = next;
    }
    if (!parents.empty()) {
        damage(XmlDamage::Truncated);
        for (std::size_t i = 1; i < parents.size(); ++i)
            m_leftOpen.push_back(parents[i]);
        m_leftOpen.push_back(current);
    }
    if (!haveRoot && text.find_first_not_of(L" \t\r\n") != npos)
        damage(XmlDamage::Roots);
}

bool CMemXML::WasLeftOpen(const CMXNode& element) const
{
    return std::find(m_leftOpen.begin(), m_leftOpen.end(), &element) != m_leftOpen.end();
}

// ---------------------------------------------------------------------------------------------
// CMemXML: files

void CMemXML::LoadFile(const std::wstring& path)
{
    std::string data;
    {
        CFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(file.Get(), &size))
            ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
        // The text is converted in one piece, whose length is an int.
        if (size.QuadPart > INT_MAX)
            ThrowFileExceptionFromOsError(ERROR_FILE_TOO_LARGE, path.c_str());
        if (size.QuadPart > 0) {
            data.resize(static_cast<std::size_t>(size.QuadPart));
            std::size_t total = 0;
            while (total < data.size()) {
                DWORD got = 0;
                if (!ReadFile(file.Get(), &data[total], static_cast<DWORD>(data.size() - total), &got, nullptr))
                    ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
                if (got == 0)
                    break;   // the file shrank meanwhile: keep what was read
                total += got;
            }
            data.resize(total);
        }
    }
    std::wstring text;
    bool utf16 = false;
    XmlDamage encoding = DecodeXmlFileText(data, text, utf16);
    Parse(text);
    const std::wstring& declared = m_root.GetAttribute(L"encoding");
    if (!declared.empty() && _wcsicmp(declared.c_str(), L"utf-8") != 0) {
        if (encoding == XmlDamage::None && !(utf16 && _wcsnicmp(declared.c_str(), L"utf-16", 6) == 0))
            encoding = XmlDamage::Encoding;
        // The writer writes UTF-8 only: a declaration of anything else would make the file it
        // writes back damaged again, at every load.
        m_root.SetAttribute(L"encoding", L"utf-8");
    }
    if (encoding != XmlDamage::None)
        m_damage = encoding;
}

namespace {

// How long a refused replace of the settings file is tried again, and the pause between tries.
const DWORD RenameRetryMs = 1000;
const DWORD RenameRetryPauseMs = 50;

} // namespace

void CMemXML::SaveFile(const std::wstring& path) const
{
    std::wstring text;
    Serialize(text);
    if (text.size() > INT_MAX / 3)
        ThrowFileExceptionFromOsError(ERROR_FILE_TOO_LARGE, path.c_str());
    std::string utf8;
    WideToUtf8(utf8, text.data(), static_cast<int>(text.size()));
    if (utf8.empty())
        ThrowFileException(CFileException::InvalidFile, CFileException::NoOsError, path.c_str());

    // Refuse what CREATE_ALWAYS on the target itself would refuse, before anything is written:
    // the rename below would not check a read-only target everywhere.
    DWORD oldAttributes = GetFileAttributesW(path.c_str());
    if (oldAttributes != INVALID_FILE_ATTRIBUTES &&
        (oldAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        ThrowFileExceptionFromOsError(ERROR_ACCESS_DENIED, path.c_str());
    DWORD keptAttributes = oldAttributes == INVALID_FILE_ATTRIBUTES
                               ? FILE_ATTRIBUTE_NORMAL
                               : oldAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (!keptAttributes)
        keptAttributes = FILE_ATTRIBUTE_NORMAL;

    // The new content goes to a temporary file beside the target (same volume, so the rename is
    // a replace, not a copy); the target is touched only once that file is complete.
    static volatile LONG counter = 0;
    std::wstring tempPath;
    CTempFileRemover remover;   // declared before the handle, so the file is closed when it runs
    CFileHandle file;
    for (int attempt = 0; attempt < 100 && !file; ++attempt) {
        FormatString(tempPath, L"%s.%lx-%lx.tmp", path.c_str(), GetCurrentProcessId(),
                     static_cast<unsigned long>(InterlockedIncrement(&counter)));
        file.Reset(CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, keptAttributes, nullptr));
        if (!file && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (!file)
        ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
    remover.Set(tempPath);

    static const char bom[] = "\xEF\xBB\xBF";
    WriteAll(file.Get(), bom, 3, path);
    WriteAll(file.Get(), utf8.data(), utf8.size(), path);
    if (!FlushFileBuffers(file.Get()))
        ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
    file.Reset();

    // A virus scanner, an indexer or another program reading the file holds it for a moment and
    // the replace is refused meanwhile: it is tried again for about a second before that is told.
    const DWORD renameStart = GetTickCount();
    while (!MoveFileExW(tempPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
            GetTickCount() - renameStart >= RenameRetryMs)
            ThrowFileExceptionFromOsError(error, path.c_str());
        Sleep(RenameRetryPauseMs);
    }
    remover.Dismiss();
}
