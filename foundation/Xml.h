// A small in-memory XML document with its own lenient parser and writer, made for the programs'
// own files (UTF-8 with a byte-order mark): elements with attributes, children in document order
// and the text of leaf elements. No namespaces, no mixed content, no CDATA, and attribute values in
// double quotes only. Parsing never fails on content: malformed input yields whatever elements were
// recognised. Only LoadFile and SaveFile fail, always with a CFileException carrying the path.
//
// Rule for users: children are added and removed only through CMXNode's operations (AddChild,
// RemoveChildren), so that the name index behind FindChild stays in step with Children.
#pragma once
#include "XmlNodeArena.h"
#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class CMXNode;

// How far a document falls short of having been read whole; the first fault found is kept.
// ForeignRoot is never set by the parser: it is for readers that expect a particular root.
enum class XmlDamage : int
{
    None = 0,
    Truncated,   // the text ends inside a tag or with elements still open
    Unbalanced,  // a closing tag with nothing open, or naming another element
    Roots,       // not exactly one top-level element
    TooDeep,     // nesting beyond CMemXML::MaxDepth
    Encoding,    // neither UTF-8 nor UTF-16 with a byte-order mark, or a declared encoding unknown
    ForeignRoot, // one top-level element, but not the one the reader expects
};

// The text of a settings file's bytes: UTF-16 (either byte order) after its byte-order mark, else
// UTF-8 with or without one. Returns Encoding when the bytes are neither, or hold a NUL character;
// the text then holds what could be decoded, with U+FFFD for what could not. utf16 tells which was read.
XmlDamage DecodeXmlFileText(const std::string& data, std::wstring& text, bool& utf16);

// The attributes of one element: one value per name, kept in insertion order so that a written
// file comes out the same every time. An element has a handful: those are looked up by comparing
// names; only an element with many gets a hash index, so that no file makes reading quadratic.
class CMXAttributes
{
public:
    using value_type = std::pair<std::wstring, std::wstring>;   // name, value
    using const_iterator = std::vector<value_type>::const_iterator;

    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }
    std::size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }

    // end() when the name is absent.
    const_iterator find(const std::wstring& name) const;
    std::size_t count(const std::wstring& name) const { return find(name) != end() ? 1 : 0; }
    // A new name goes to the end; an existing one keeps its place and gets the new value.
    void insert_or_assign(const std::wstring& name, const std::wstring& value);
    void clear();

private:
    std::size_t Position(const std::wstring& name) const;   // m_items.size() when absent

    std::vector<value_type> m_items;
    // Name -> position in m_items; only beyond a handful of attributes, else null.
    std::unique_ptr<std::unordered_map<std::wstring, std::size_t>> m_index;
};

// The children of one element in document order. Read-only to users: iteration and indexing
// yield the child nodes (CMXNode*), which callers may change, but not the list itself.
class CMXChildren
{
    using Storage = std::vector<std::unique_ptr<CMXNode>>;

public:
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = CMXNode*;
        using difference_type = std::ptrdiff_t;
        using pointer = CMXNode* const*;
        using reference = CMXNode*;

        const_iterator() = default;
        explicit const_iterator(Storage::const_iterator it) : m_it(it) {}
        CMXNode* operator*() const { return m_it->get(); }
        const_iterator& operator++() { ++m_it; return *this; }
        const_iterator operator++(int) { const_iterator old = *this; ++m_it; return old; }
        bool operator==(const const_iterator& o) const { return m_it == o.m_it; }
        bool operator!=(const const_iterator& o) const { return m_it != o.m_it; }

    private:
        Storage::const_iterator m_it;
    };

    const_iterator begin() const { return const_iterator(m_items.begin()); }
    const_iterator end() const { return const_iterator(m_items.end()); }
    std::size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    CMXNode* operator[](std::size_t i) const { return m_items[i].get(); }

private:
    friend class CMXNode;
    Storage m_items;
};

// One element. It owns its children; the destructor deletes the whole subtree without recursion,
// so documents of any depth can be dropped safely.
// A large document is mostly small elements, so a node stays lean: its name index exists only
// once FindChild is asked about a node with many children (it is then kept up to date). A const
// node is therefore not to be searched by two threads at once. The children of a document's
// elements live in the document's node arena; those of a node made on its own, on the heap.
class CMXNode
{
public:
    explicit CMXNode(const std::wstring& name);
    explicit CMXNode(std::wstring&& name);
    virtual ~CMXNode();
    CMXNode(const CMXNode&) = delete;
    CMXNode& operator=(const CMXNode&) = delete;

    // Every node made with new carries the arena it came from (null: the heap), for delete.
    static void* operator new(std::size_t size) { return operator new(size, nullptr); }
    static void* operator new(std::size_t size, CXmlNodeArena* arena);
    static void operator delete(void* node);
    static void operator delete(void* node, CXmlNodeArena*) { operator delete(node); }

    // Fixed at creation: the name index of the parent is keyed by it.
    const std::wstring Name;
    CMXChildren Children;
    CMXAttributes Attributes;
    // The element's text; written and read for elements without children only.
    std::wstring Text;

    // Deletes every child (with their subtrees) and empties the index.
    void RemoveChildren();
    // Deletes the children from position `first` on.
    void RemoveChildrenFrom(std::size_t first);
    // The first child of exactly that name (case-sensitive) in order of addition; null when none.
    CMXNode* FindChild(const std::wstring& name) const;
    // Appends a new empty child; duplicate names are allowed.
    CMXNode* AddChild(const std::wstring& name);
    CMXNode* AddChild(std::wstring&& name);
    void SetAttribute(const std::wstring& name, const std::wstring& value);
    // The value, or a shared empty string when absent (absent and empty read the same).
    const std::wstring& GetAttribute(const std::wstring& name) const;
    // Follows a backslash-separated path of element names from this node; empty parts (leading,
    // doubled or trailing backslashes) stay in place. With create, a missing part is added and the
    // result is never null; without it, a missing part yields null and nothing is created.
    CMXNode* GetNode(const std::wstring& path, bool create = true);

private:
    friend class CMemXML;

    template <class NameText>
    CMXNode* Add(NameText&& name);

    CXmlNodeArena* m_arena = nullptr;   // where this node's children are made

    // Name (a view of the child's own Name) -> the first child of that name in order of addition,
    // all FindChild needs, since children leave only all together. Null until a search of a node
    // with many children makes it.
    mutable std::unique_ptr<std::unordered_map<std::wstring_view, CMXNode*>> m_index;
};

// One document. The root node has an empty name: its attributes are those of the XML declaration
// (version, encoding) and its children the top-level elements.
class CMemXML
{
public:
    CMemXML();
    virtual ~CMemXML();
    CMemXML(const CMemXML&) = delete;
    CMemXML& operator=(const CMemXML&) = delete;

    CMXNode& Root() { return m_root; }
    const CMXNode& Root() const { return m_root; }
    // The whole document-type declaration as it stood in the text ("<!DOCTYPE ...>"), or empty.
    const std::wstring& Doctype() const { return m_doctype; }
    // One nesting level of the written file: one TAB.
    const std::wstring& IndentUnit() const { return m_indentUnit; }

    // The text codecs; a derived document may replace them. Each replaces the whole output.
    // length -1 means "up to the terminating NUL".
    // Escapes " & ' < > as entities (attribute values and element text alike).
    virtual void EncodeText(std::wstring& out, const wchar_t* text, std::ptrdiff_t length = -1) const;
    // Resolves lt, gt, amp, quot, apos and hexadecimal references (&#x41;); drops anything else.
    virtual void DecodeText(std::wstring& out, const wchar_t* text, std::ptrdiff_t length = -1) const;

    // The writer: CR LF line ends, one indent unit per nesting level.
    // Appends " name=\"value\"" for each attribute of the node, in insertion order.
    void WriteAttributes(std::wstring& out, const CMXNode& node) const;
    // Appends the element and its subtree, starting at the given indent.
    void WriteNode(std::wstring& out, const CMXNode& node, const std::wstring& indent) const;
    // Replaces out with the whole document: declaration, doctype, top-level elements.
    void Serialize(std::wstring& out) const;

    // Nesting deeper than this is damage: none of the programs' files comes near it, and every
    // level costs one indent on each line written back.
    static const std::size_t MaxDepth = 32;

    // Replaces the document's content with what the text holds. Never fails on content; what
    // falls short of a whole document is reported by Damage. Elements past MaxDepth are left out
    // (the rest of the text with them).
    void Parse(const std::wstring& text);
    // Reads and parses a UTF-8 file (byte-order mark optional); a file that begins with a UTF-16
    // byte-order mark is read as UTF-16. A failure leaves the document as it was. An empty file
    // gives an empty document.
    void LoadFile(const std::wstring& path);
    // Whether the last Parse or LoadFile read the document whole (None), else the first fault.
    XmlDamage Damage() const { return m_damage; }
    // Whether the element was still open when the last Parse or LoadFile reached the end of the
    // text (a file cut short): its content may be cut too. Compared by address, so it holds only
    // while the document keeps the elements that parse made.
    bool WasLeftOpen(const CMXNode& element) const;
    // Writes the document as UTF-8 with a byte-order mark. The new content goes to a temporary
    // file beside the target, which then replaces the target, so a failed save leaves the old
    // file whole. The folder must exist.
    void SaveFile(const std::wstring& path) const;

private:
    CXmlNodeArena m_nodes;   // declared before m_root, so that it outlives every element

protected:
    CMXNode m_root;
    std::wstring m_doctype;
    std::wstring m_indentUnit;
    XmlDamage m_damage = XmlDamage::None;
    std::vector<const CMXNode*> m_leftOpen;   // at most MaxDepth elements
};
