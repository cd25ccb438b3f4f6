// parvelhost: a console program that loads the add-in through the test host, exactly as the
// configurator's test bench does, and runs commands against it: set properties, call methods by
// name with typed arguments, wait for external events and check results. Every event and error
// the add-in raises is printed in the test log's line format as it arrives. It needs no display:
// the host's window is message-only and is pumped while the program waits.
//
// Usage: parvelhost [--dll PATH] [-f SCRIPT | COMMAND]...
//   Each COMMAND argument is one script line; -f inserts the lines of a UTF-8 script file there.
//   --dll gives the add-in library; without it, "Parvel.dll" beside the program is loaded.
// Exit code: 0 when every command ran and every expectation was met; 1 when a command failed or
// an expectation was not met (the run stops there); 2 for bad usage or a script error (nothing
// runs then).
//
// Commands (literals as described in HostScript.h):
//   load [PATH]                   load the library and create the component
//   unload                        end the component and free the library
//   set PROPERTY LITERAL          set a property by name
//   get PROPERTY                  print a property's value
//   call METHOD [LITERAL...]      call a method by name; parameters not given take the method's
//                                 default or stay empty (out parameters); prints the result and
//                                 every parameter after the call
//   expect-result LITERAL         the last call's result has that type and value
//   expect-param N LITERAL        parameter N (from 1) of the last call, after the call
//   expect-event NAME [MS [DATA]] an event NAME (with that data) arrives within MS milliseconds
//                                 (default 5000); events that came earlier count, each only once
//   expect-count methods|props N  the component has N methods or properties
//   print-methods, print-props    list the component's methods or properties
//   sleep MS                      wait, delivering events
// Example:
//   load
//   set Port "COM5"
//   call Open empty
//   expect-result true
//   expect-param 1 "COM5"
//   expect-event DeviceConnect 5000
//   call Close "COM5"
//   unload
#include "CodePage.h"
#include "HostLogEntry.h"
#include "HostScript.h"
#include "ModuleState.h"
#include "ResText.h"
#include "TestHost.h"
#include "TestLog.h"
#include "TestbenchStrings.h"
#include "VariantHelpers.h"
#include "WFormat.h"
#include <windows.h>
#include <shellapi.h>
#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>

namespace {

const DWORD DefaultEventWait = 5000;

void Print(const std::wstring& text)
{
    std::string utf8 = WideToUtf8(text);
    utf8 += '\n';
    fwrite(utf8.data(), 1, utf8.size(), stdout);
    fflush(stdout);
}

// An unmet expectation or a failed command: the run stops with exit code 1.
struct Failure
{
    std::wstring text;
};

// A script that cannot run: exit code 2.
struct ScriptError
{
    std::wstring text;
};

std::wstring TypeName(int type)
{
    return type >= 0 && type < VariantTypeCount ? VariantTypeNames[type] : L"?";
}

// "TYPE value" on one line: line breaks and backslashes in the value are written as escapes.
std::wstring Describe(const tVariant& value, const CTestParvel* host)
{
    std::wstring text;
    FormatVariant(text, value, host);
    std::wstring out = TypeName(value.vt);
    if (text.empty() && value.vt != VTYPE_PWSTR)
        return out;
    out += L' ';
    for (wchar_t c : text) {
        if (c == L'\n')
            out += L"\\n";
        else if (c == L'\r')
            out += L"\\r";
        else if (c == L'\\')
            out += L"\\\\";
        else
            out += c;
    }
    return out;
}

// Boxes the add-in asks for are printed and answered with OK: nobody is there to press a button.
int ConsoleMessageBox(const wchar_t* text, UINT, HWND)
{
    Print(L"[message box] " + std::wstring(text ? text : L""));
    return IDOK;
}

// A full path with backslashes (Wine also takes "Z:/..." this way).
std::wstring FullPath(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(path.c_str(), sizeof(buffer) / sizeof(buffer[0]), buffer, nullptr);
    if (n == 0 || n >= sizeof(buffer) / sizeof(buffer[0]))
        return path;
    return std::wstring(buffer, n);
}

DWORD ParseCount(const ScriptWord& word)
{
    if (word.text.empty() || word.text.find_first_not_of(L"0123456789") != std::wstring::npos)
        throw ScriptError{L"not a number: " + word.text};
    return static_cast<DWORD>(std::wcstoul(word.text.c_str(), nullptr, 10));
}

struct CommandShape
{
    const wchar_t* name;
    size_t minWords; // the command included
    size_t maxWords; // 0: no limit
};

const CommandShape Commands[] = {
    {L"load", 1, 2},           {L"unload", 1, 1},          {L"set", 3, 3},          {L"get", 2, 2},
    {L"call", 2, 0},           {L"expect-result", 2, 2},   {L"expect-param", 3, 3}, {L"expect-event", 2, 4},
    {L"expect-count", 3, 3},   {L"print-methods", 1, 1},   {L"print-props", 1, 1},  {L"sleep", 2, 2},
};

// Checks one line without running it, so that a typo stops the script before anything runs.
void Validate(const std::vector<ScriptWord>& words)
{
    const std::wstring& name = words[0].text;
    const CommandShape* shape = nullptr;
    for (const CommandShape& c : Commands)
        if (name == c.name)
            shape = &c;
    if (!shape)
        throw ScriptError{L"unknown command: " + name};
    if (words.size() < shape->minWords || (shape->maxWords && words.size() > shape->maxWords))
        throw ScriptError{L"wrong number of arguments for " + name};
    ScriptLiteral literal;
    std::wstring error;
    auto literalAt = [&](size_t i) {
        if (!ParseLiteral(words[i], literal, error))
            throw ScriptError{error};
    };
    if (name == L"set" || name == L"expect-result")
        literalAt(words.size() - 1);
    else if (name == L"call")
        for (size_t i = 2; i < words.size(); ++i)
            literalAt(i);
    else if (name == L"expect-param") {
        ParseCount(words[1]);
        literalAt(2);
    } else if (name == L"expect-event" && words.size() > 2)
        ParseCount(words[2]);
    else if (name == L"sleep")
        ParseCount(words[1]);
    else if (name == L"expect-count") {
        if (words[1].text != L"methods" && words[1].text != L"props")
            throw ScriptError{L"expect-count takes methods or props"};
        ParseCount(words[2]);
    }
}

class CConsoleHost
{
public:
    CConsoleHost()
    {
        m_host.AddListener(ListenEvent, this, OnEvent);
        m_host.AddListener(ListenError, this, OnError);
        m_host.SetMessageBoxFunction(ConsoleMessageBox);
    }
    ~CConsoleHost()
    {
        m_result.reset();
        m_params.reset();
        m_host.RemoveListeners(this);
    }

    void SetLibrary(const std::wstring& path) { m_host.SetLibraryPath(FullPath(path)); }

    int Run(const std::vector<std::wstring>& lines)
    {
        std::vector<std::pair<std::wstring, std::vector<ScriptWord>>> script;
        try {
            for (size_t i = 0; i < lines.size(); ++i) {
                std::vector<ScriptWord> words;
                std::wstring error;
                if (!SplitWords(lines[i], words, error))
                    throw ScriptError{error};
                if (words.empty())
                    continue;
                try {
                    Validate(words);
                } catch (ScriptError& e) {
                    e.text = L"line " + std::to_wstring(i + 1) + L": " + e.text;
                    throw;
                }
                script.emplace_back(lines[i], words);
            }
        } catch (const ScriptError& e) {
            Print(L"SCRIPT ERROR: " + e.text);
            return 2;
        }

        try {
            m_host.CreateHostWindow();
            for (const auto& line : script) {
                Print(L"> " + line.first);
                Execute(line.second);
                Pump(0, nullptr);
            }
            if (m_host.IsLoaded())
                m_host.Unload();
            Pump(0, nullptr);
            return 0;
        } catch (const Failure& f) {
            Pump(0, nullptr);
            Print(L"FAILED: " + f.text);
        } catch (const ScriptError& e) {
            Print(L"SCRIPT ERROR: " + e.text);
            return 2;
        } catch (const std::exception& e) {
            Pump(0, nullptr);
            Print(L"FAILED: " + AnsiToWide(std::string(e.what())));
        }
        return 1;
    }

private:
    static void OnEvent(void* context, CTestParvel* host)
    {
        const HostEvent& event = host->CurrentEvent();
        std::wstring line;
        CTestLog::FormatEntry(LogEntryOfEvent(event), line);
        Print(line);
        static_cast<CConsoleHost*>(context)->m_events.push_back(event);
    }

    static void OnError(void*, CTestParvel* host)
    {
        std::wstring line;
        CTestLog::FormatEntry(LogEntryOfError(host->CurrentError()), line);
        Print(line);
    }

    // Delivers what the add-in raises until `done` holds or the time is up; true when done.
    bool Pump(DWORD milliseconds, const std::function<bool()>& done)
    {
        const ULONGLONG deadline = GetTickCount64() + milliseconds;
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (done && done())
                return true;
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return !done;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        }
    }

    ILanguageExtenderBase* RequireComponent()
    {
        if (!m_host.Component())
            throw Failure{L"no component: load it first"};
        return m_host.Extender();
    }

    void Apply(CVariantArray& items, long long index, const ScriptWord& word)
    {
        ScriptLiteral literal;
        std::wstring error;
        if (!ParseLiteral(word, literal, error))
            throw ScriptError{error};
        if (literal.type == VTYPE_EMPTY)
            items.Release(index);
        else
            items.Parse(index, literal.type, literal.text.c_str());
    }

    void Expect(const tVariant& actual, const ScriptWord& word, const std::wstring& what)
    {
        CVariantArray expected(1, m_host.MemoryManager());
        Apply(expected, 0, word);
        std::wstring want, got;
        FormatVariant(want, expected[0], &m_host);
        FormatVariant(got, actual, &m_host);
        if (expected[0].vt != actual.vt || want != got)
            throw Failure{what + L" is " + Describe(actual, &m_host) + L", expected " + Describe(expected[0], &m_host)};
        Print(L"= ok");
    }

    void Execute(const std::vector<ScriptWord>& words)
    {
        const std::wstring& command = words[0].text;
        if (command == L"load") {
            if (words.size() > 1)
                m_host.SetLibraryPath(FullPath(words[1].text));
            if (m_host.IsLoaded())
                throw Failure{L"the add-in is loaded already"};
            m_host.Create();
            Print(L"= loaded " + m_host.LibraryPath());
        } else if (command == L"unload") {
            m_host.Unload();
            Print(L"= unloaded");
        } else if (command == L"set") {
            RequireComponent();
            CVariantArray value(1, m_host.MemoryManager());
            Apply(value, 0, words[2]);
            m_host.SetProperty(words[1].text.c_str(), &value[0]);
            Print(L"= ok");
        } else if (command == L"get") {
            ILanguageExtenderBase* component = RequireComponent();
            const long number = component->FindProp(words[1].text.c_str());
            if (number < 0) {
                std::wstring text;
                FormatResString(text, IDS_TEST_PROP_NOT_FOUND, words[1].text.c_str());
                throw Failure{text};
            }
            CVariantArray value(1, m_host.MemoryManager());
            if (!component->GetPropVal(number, &value[0]))
                throw Failure{L"property " + words[1].text + L" could not be read"};
            Print(L"= " + Describe(value[0], &m_host));
        } else if (command == L"call") {
            Call(words);
        } else if (command == L"expect-result") {
            if (!m_result)
                throw Failure{L"no call yet"};
            Expect((*m_result)[0], words[1], L"the result");
        } else if (command == L"expect-param") {
            const DWORD n = ParseCount(words[1]);
            if (!m_params || n < 1 || n > m_paramCount)
                throw Failure{L"the last call has no parameter " + words[1].text};
            Expect((*m_params)[n - 1], words[2], L"parameter " + words[1].text);
        } else if (command == L"expect-event") {
            ExpectEvent(words);
        } else if (command == L"expect-count") {
            ILanguageExtenderBase* component = RequireComponent();
            const bool methods = words[1].text == L"methods";
            const long have = methods ? component->GetNMethods() : component->GetNProps();
            const long want = static_cast<long>(ParseCount(words[2]));
            if (have != want)
                throw Failure{std::to_wstring(have) + (methods ? L" methods" : L" properties") + L", expected " +
                              std::to_wstring(want)};
            Print(L"= ok");
        } else if (command == L"print-methods") {
            PrintMethods();
        } else if (command == L"print-props") {
            PrintProps();
        } else if (command == L"sleep") {
            Pump(ParseCount(words[1]), nullptr);
        }
    }

    void Call(const std::vector<ScriptWord>& words)
    {
        ILanguageExtenderBase* component = RequireComponent();
        const std::wstring& name = words[1].text;
        const long number = component->FindMethod(name.c_str());
        const long given = static_cast<long>(words.size()) - 2;
        const long declared = number >= 0 ? component->GetNParams(number) : given;
        const long count = std::max(given, declared);
        m_result.reset();
        m_params.reset();
        m_paramCount = 0;
        std::unique_ptr<CVariantArray> result(new CVariantArray(1, m_host.MemoryManager()));
        std::unique_ptr<CVariantArray> params(new CVariantArray(std::max(count, 1L), m_host.MemoryManager()));
        for (long i = 0; i < given; ++i)
            Apply(*params, i, words[2 + i]);
        for (long i = given; i < count; ++i)
            if (!component->GetParamDefValue(number, i, &(*params)[i]))
                params->Release(i);
        const bool function = number < 0 || component->HasRetVal(number);
        // An unknown name reaches the host too, which reports it in its own words.
        if (function)
            m_host.CallAsFunc(name.c_str(), &(*result)[0], params->Items(), count);
        else
            m_host.CallAsProc(name.c_str(), params->Items(), count);
        m_result = std::move(result);
        m_params = std::move(params);
        m_paramCount = static_cast<DWORD>(count);
        Print(function ? L"= " + Describe((*m_result)[0], &m_host) : L"= done");
        for (long i = 0; i < count; ++i)
            Print(L"  p" + std::to_wstring(i + 1) + L" = " + Describe((*m_params)[i], &m_host));
    }

    void ExpectEvent(const std::vector<ScriptWord>& words)
    {
        const std::wstring& name = words[1].text;
        const DWORD wait = words.size() > 2 ? ParseCount(words[2]) : DefaultEventWait;
        const bool withData = words.size() > 3;
        const std::wstring data = withData ? words[3].text : std::wstring();
        auto match = [&]() {
            for (auto it = m_events.begin(); it != m_events.end(); ++it) {
                if (it->message == name && (!withData || it->data == data)) {
                    m_events.erase(it);
                    return true;
                }
            }
            return false;
        };
        if (!Pump(wait, match))
            throw Failure{L"no event " + name + (withData ? L" with data \"" + data + L"\"" : std::wstring()) +
                          L" within " + std::to_wstring(wait) + L" ms"};
        Print(L"= ok");
    }

    void PrintMethods()
    {
        ILanguageExtenderBase* component = RequireComponent();
        const long n = component->GetNMethods();
        Print(L"= " + std::to_wstring(n) + L" methods");
        for (long i = 0; i < n; ++i) {
            std::wstring english, russian;
            m_host.GetMethodName(english, i, 0);
            m_host.GetMethodName(russian, i, 1);
            Print(L"  " + std::to_wstring(i) + L" " + english + L" " + russian + L" params=" +
                  std::to_wstring(component->GetNParams(i)) + (component->HasRetVal(i) ? L" function" : L" procedure"));
        }
    }

    void PrintProps()
    {
        ILanguageExtenderBase* component = RequireComponent();
        const long n = component->GetNProps();
        Print(L"= " + std::to_wstring(n) + L" properties");
        for (long i = 0; i < n; ++i) {
            std::wstring english, russian;
            m_host.GetPropName(english, i, 0);
            m_host.GetPropName(russian, i, 1);
            CVariantArray value(1, m_host.MemoryManager());
            std::wstring shown = component->GetPropVal(i, &value[0]) ? Describe(value[0], &m_host) : L"(unreadable)";
            std::wstring access = component->IsPropReadable(i) ? L"r" : L"-";
            access += component->IsPropWritable(i) ? L"w" : L"-";
            Print(L"  " + std::to_wstring(i) + L" " + english + L" " + russian + L" " + access + L" = " + shown);
        }
    }

    CTestParvel m_host;
    // Declared after the host: their texts go back to its memory manager before it goes.
    std::unique_ptr<CVariantArray> m_result;
    std::unique_ptr<CVariantArray> m_params;
    DWORD m_paramCount = 0;
    std::deque<HostEvent> m_events; // delivered and not yet matched by expect-event
};

void PrintUsage()
{
    Print(L"usage: parvelhost [--dll PATH] [-f SCRIPT | COMMAND]...\n"
          L"commands: load [PATH], unload, set PROP LITERAL, get PROP, call METHOD [LITERAL...],\n"
          L"  expect-result LITERAL, expect-param N LITERAL, expect-event NAME [MS [DATA]],\n"
          L"  expect-count methods|props N, print-methods, print-props, sleep MS\n"
          L"literals: \"text\", 12, 12u, true, false, null, empty, TYPE:text (I2 I4 UI2 UI4 I8 UI8 BOOL\n"
          L"  NULL PWSTR BLOB)");
}

bool ReadScript(const std::wstring& path, std::vector<std::wstring>& lines)
{
    CFileHandle file(CreateFileW(FullPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return false;
    std::string bytes;
    char block[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), block, sizeof(block), &read, nullptr) && read > 0)
        bytes.append(block, read);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    std::wstring text = Utf8ToWide(bytes);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        std::wstring line = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        lines.push_back(line);
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    return true;
}

} // namespace

int main()
{
    ModuleHandle = GetModuleHandleW(nullptr);
    SetConsoleOutputCP(CP_UTF8);

    std::vector<std::wstring> args;
    {
        int argc = 0;
        LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
        if (!argv)
            return 2;
        for (int i = 1; i < argc; ++i)
            args.push_back(argv[i]);
        LocalFree(argv);
    }

    std::wstring dll;
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"-h" || args[i] == L"--help") {
            PrintUsage();
            return 0;
        }
        if (args[i] == L"--dll" || args[i] == L"-f") {
            if (i + 1 >= args.size()) {
                PrintUsage();
                return 2;
            }
            const std::wstring& value = args[++i];
            if (args[i - 1] == L"--dll") {
                dll = value;
            } else if (!ReadScript(value, lines)) {
                Print(L"SCRIPT ERROR: cannot read " + value);
                return 2;
            }
            continue;
        }
        lines.push_back(args[i]);
    }
    if (lines.empty()) {
        PrintUsage();
        return 2;
    }

    CConsoleHost host;
    if (!dll.empty())
        host.SetLibrary(dll);
    return host.Run(lines);
}
