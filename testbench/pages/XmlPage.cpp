// The XML pages of the device dialog.
#include "XmlPage.h"
#include "XmlSpans.h"
#include "Clipboard.h"
#include "DevOpenRes.h"
#include "DpiScale.h"
#include "Exceptions.h"
#include "ListViewHelpers.h"
#include "ModuleState.h"
#include <richedit.h>
#include <vector>

HWND CXmlPage::Create(HWND parent)
{
    static HMODULE richEdit = nullptr;
    if (!richEdit) {
        richEdit = LoadLibraryW(L"Msftedit.dll");
        if (!richEdit)
            ThrowOSException(GetLastError(), L"LoadLibrary(\"Msftedit.dll\")");
    }
    return CreateDialogParamW(ModuleHandle, MAKEINTRESOURCEW(IDD_XML_PAGE), parent, CWnd::StaticDlgProc,
                              reinterpret_cast<LPARAM>(this));
}

void CXmlPage::SetXml(const std::wstring& xml)
{
    // The rich edit keeps a line end as one CR; positions are counted on the text as it keeps it.
    std::wstring text;
    text.reserve(xml.size());
    for (size_t i = 0; i < xml.size(); ++i)
        if (!(xml[i] == L'\r' && i + 1 < xml.size() && xml[i + 1] == L'\n'))
            text += xml[i] == L'\n' ? L'\r' : xml[i];
    SETTEXTEX set = {ST_DEFAULT, 1200};
    SendMessageW(m_edit, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&set), reinterpret_cast<LPARAM>(text.c_str()));
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_COLOR;
    for (const XmlSpan& span : XmlTagSpans(text)) {
        format.crTextColor = span.name ? RGB(0, 0, 255) : RGB(255, 0, 0);
        SendMessageW(m_edit, EM_SETSEL, span.start, span.start + span.length);
        SendMessageW(m_edit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    }
    SendMessageW(m_edit, EM_SETSEL, 0, 0);
}

std::wstring CXmlPage::Text() const
{
    GETTEXTLENGTHEX lengthEx = {GTL_USECRLF | GTL_NUMCHARS, 1200};
    const LRESULT length = SendMessageW(m_edit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&lengthEx), 0);
    if (length <= 0)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    GETTEXTEX get = {};
    get.cb = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    get.flags = GT_USECRLF;
    get.codepage = 1200;
    const LRESULT got = SendMessageW(m_edit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                     reinterpret_cast<LPARAM>(buffer.data()));
    return std::wstring(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void CXmlPage::CopyAll()
{
    const std::wstring text = Text();
    CopyToClipboard(text.c_str(), static_cast<int64_t>(text.size()));
}

void CXmlPage::ShowContextMenu(POINT at)
{
    HMENU menu = LoadMenuW(ModuleHandle, MAKEINTRESOURCEW(IDM_XML_CONTEXT));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    CHARRANGE selection = {};
    SendMessageW(m_edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const bool hasText = GetWindowTextLengthW(m_edit) > 0;
    EnableMenuItem(popup, ID_XML_COPY, MF_BYCOMMAND | (selection.cpMax > selection.cpMin ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(popup, ID_XML_COPY_ALL, MF_BYCOMMAND | (hasText ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(popup, ID_XML_SELECT_ALL, MF_BYCOMMAND | (hasText ? MF_ENABLED : MF_GRAYED));
    TrackPopupMenuEx(popup, TPM_RIGHTBUTTON, at.x, at.y, m_hWnd, nullptr);
    DestroyMenu(menu);
}

LRESULT CXmlPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        MakeChild();
        m_edit = GetItem(IDC_XML_TEXT);
        CHARFORMAT2W format = {};
        format.cbSize = sizeof(format);
        format.dwMask = CFM_FACE;
        wcscpy(format.szFaceName, L"Courier New");
        SendMessageW(m_edit, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
        SendMessageW(m_edit, EM_SETEVENTMASK, 0, ENM_MOUSEEVENTS);
        return TRUE;
    }
    case WM_SIZE: {
        const int margin = ScalePixels(8);
        MoveWindow(m_edit, margin, margin, LOWORD(lParam) - 2 * margin, HIWORD(lParam) - 2 * margin, TRUE);
        return TRUE;
    }
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->hwndFrom == m_edit && hdr->code == EN_MSGFILTER) {
            const MSGFILTER* filter = reinterpret_cast<MSGFILTER*>(lParam);
            if (filter->msg == WM_RBUTTONDOWN)
                ShowContextMenu(ContextMenuPoint(m_edit, GetMessagePos()));
            if (filter->msg == WM_RBUTTONDOWN || filter->msg == WM_RBUTTONUP || filter->msg == WM_RBUTTONDBLCLK)
                return SetDlgResult(1);
        }
        break;
    }
    case WM_CONTEXTMENU:
        // Shift+F10 and the Menu key; a click's menu comes with EN_MSGFILTER.
        if (!ContextMenuByKeyboard(lParam) || reinterpret_cast<HWND>(wParam) != m_edit)
            break;
        ShowContextMenu(ContextMenuPoint(m_edit, lParam));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_XML_COPY: SendMessageW(m_edit, WM_COPY, 0, 0); return TRUE;
        case ID_XML_COPY_ALL: CopyAll(); return TRUE;
        case ID_XML_SELECT_ALL:
            SetFocus(m_edit);
            SendMessageW(m_edit, EM_SETSEL, 0, -1);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
