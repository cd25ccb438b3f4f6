// Argument arrays of Native API variants as the test bench passes them to the add-in, and the
// conversions between variants and the texts a user types or reads.
//
// Rule a reader must not break: every text and byte array held in a CVariantArray lives in memory
// from the memory manager the array was given (the add-in may free it and put its own in its
// place), so it is only ever released through that manager's FreeMemory.
#pragma once
#include "NativeApi.h"
#include <string>

class CTestParvel;

class CVariantArray
{
public:
    // count items, all VTYPE_EMPTY, bound to the memory manager (not owned).
    CVariantArray(long long count, IMemoryManager* memory);
    ~CVariantArray();
    CVariantArray(const CVariantArray&) = delete;
    CVariantArray& operator=(const CVariantArray&) = delete;

    tVariant* Items() { return m_items; }
    tVariant& operator[](long long index) { return m_items[index]; }
    const tVariant& operator[](long long index) const { return m_items[index]; }
    long long Count() const { return m_count; }
    IMemoryManager* Memory() const { return m_memory; }

    // Frees what the item owns through the memory manager and makes it VTYPE_EMPTY.
    void Release(long long index);
    // A copy of the text (length -1: up to its NUL) with a terminating NUL, in memory from the
    // memory manager; std::bad_alloc when there is none or it refuses (the item stays released).
    void SetWStr(long long index, const wchar_t* text, int length = -1);
    void SetI4(long long index, int32_t value);
    void SetUI4(long long index, uint32_t value);
    void SetBool(long long index, int value);
    void SetNull(long long index);
    // The value of a user-typed text as the given type code; codes without a text form leave the
    // item as it was.
    void Parse(long long index, int type, const wchar_t* text);

private:
    tVariant* m_items = nullptr;
    long long m_count = 0;
    IMemoryManager* m_memory = nullptr;
};

// The display text of any variant. The host (may be null) supplies the loaded add-in's message
// table for HRESULT texts.
void FormatVariant(std::wstring& out, const tVariant& value, const CTestParvel* host);

// Display names of the type codes 0 to VariantTypeCount - 1.
const int VariantTypeCount = 25;
extern const wchar_t* const VariantTypeNames[VariantTypeCount];
