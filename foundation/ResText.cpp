// String-table and error-text lookups in the message language.
#include "ResText.h"
#include "Handles.h"
#include "ModuleState.h"
#include <vector>

namespace {

const LANGID EnglishLangId = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The string-table block holding `id` in one language, or null.
const WORD* FindStringBlock(UINT id, LANGID lang, DWORD& size)
{
    HRSRC res = FindResourceExW(ModuleHandle, RT_STRING, MAKEINTRESOURCEW((id >> 4) + 1), lang);
    if (!res)
        return nullptr;
    HGLOBAL data = LoadResource(ModuleHandle, res);
    if (!data)
        return nullptr;
    size = SizeofResource(ModuleHandle, res);
    return static_cast<const WORD*>(LockResource(data));
}

// FormatMessageW into out; the buffer the system allocates is freed in every case.
bool FormatInto(std::wstring& out, DWORD flags, HMODULE module, DWORD code, LANGID lang, va_list* args)
{
    CLocalMem buffer;
    DWORD n = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, module, code, lang,
                             reinterpret_cast<LPWSTR>(buffer.Receive()), 0, args);
    if (n == 0 || !buffer.Get())
        return false;
    // Message-table and system texts end with the line end of their source; a text is one line
    // that callers put into sentences, event data and the platform's messages, so it goes.
    const wchar_t* text = static_cast<const wchar_t*>(buffer.Get());
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n'))
        --n;
    out.assign(text, n);
    return true;
}

bool LookupErrorText(std::wstring& out, HMODULE module, DWORD code, DWORD insertFlags, va_list* args)
{
    DWORD flags = insertFlags;
    if (((code >> 16) & 0x1FFF) == FACILITY_ITF) {
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
        if (!module)
            module = ModuleHandle;
    } else {
        flags |= FORMAT_MESSAGE_FROM_SYSTEM;
        module = nullptr;
    }
    // The message language first; a language without a table of its own falls back to the
    // system's choice and then to English rather than to no text at all.
    LANGID lang = LANGIDFROMLCID(MessageLcid);
    if (FormatInto(out, flags, module, code, lang, args))
        return true;
    if (lang != 0 && FormatInto(out, flags, module, code, 0, args))
        return true;
    return lang != EnglishLangId && FormatInto(out, flags, module, code, EnglishLangId, args);
}

} // namespace

int LoadResString(std::wstring& out, UINT id)
{
    out.clear();
    DWORD size = 0;
    const WORD* block = FindStringBlock(id, LANGIDFROMLCID(MessageLcid), size);
    if (!block)
        block = FindStringBlock(id, EnglishLangId, size);
    if (!block)
        return 0;
    // A block holds 16 entries, each a character count followed by that many characters.
    const WORD* end = block + size / sizeof(WORD);
    const WORD* p = block;
    for (UINT i = 0; i < (id & 15); ++i) {
        if (p >= end)
            return 0;
        p += 1 + *p;
    }
    if (p >= end || p + 1 + *p > end)
        return 0;
    out.assign(reinterpret_cast<const wchar_t*>(p + 1), *p);
    return static_cast<int>(out.size());
}

bool GetErrorText(std::wstring& out, HMODULE module, DWORD code)
{
    return LookupErrorText(out, module, code, FORMAT_MESSAGE_IGNORE_INSERTS, nullptr);
}

bool GetErrorText(std::wstring& out, HMODULE module, DWORD code,
                  std::initializer_list<const wchar_t*> inserts)
{
    // Pad the argument array to the most inserts a message can name (%1 to %99), so a message with
    // more inserts than the caller gave reads empty texts instead of whatever follows in memory.
    std::vector<DWORD_PTR> args(99, reinterpret_cast<DWORD_PTR>(L""));
    size_t i = 0;
    for (const wchar_t* text : inserts) {
        if (i < args.size())
            args[i++] = reinterpret_cast<DWORD_PTR>(text ? text : L"");
    }
    return LookupErrorText(out, module, code, FORMAT_MESSAGE_ARGUMENT_ARRAY,
                           reinterpret_cast<va_list*>(args.data()));
}
