// The XML document model: the exact bytes it writes, its text codecs, the lenient parser on odd
// and hostile input, and file handling (missing, empty and damaged files, saves that fail).
#include "CodePage.h"
#include "Exceptions.h"
#include "TestFolder.h"
#include "Xml.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <random>
#include <thread>
#include <string>
#include <vector>

namespace {

std::string ReadBytes(const std::wstring& path)
{
    std::string data;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<unreadable>";
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        data.append(buffer, got);
    CloseHandle(h);
    return data;
}

void WriteBytes(const std::wstring& path, const std::string& data)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    if (!data.empty())
        WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_EQ(data.size(), written);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

std::wstring Serialized(const CMemXML& doc)
{
    std::wstring out;
    doc.Serialize(out);
    return out;
}

std::wstring Parsed(const std::wstring& text)
{
    CMemXML doc;
    doc.Parse(text);
    return Serialized(doc);
}

const wchar_t kDecl[] = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

} // namespace

TEST(Xml, MinimalDocumentExactBytes)
{
    TestFolder folder;
    CMemXML doc;
    doc.Root().SetAttribute(L"version", L"1.0");
    doc.Root().SetAttribute(L"encoding", L"utf-8");
    CMXNode* component = doc.Root().GetNode(L"Parvel\\Component");
    ASSERT_NE(nullptr, component);
    std::wstring path = folder.File(L"Parvel.xml");
    doc.SaveFile(path);
    EXPECT_EQ("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel>\r\n\t<Component/>\r\n</Parvel>\r\n",
              ReadBytes(path));
    // Nothing but the target is left in the folder.
    EXPECT_EQ(std::vector<std::wstring>{L"Parvel.xml"}, FilesIn(folder.Path()));
}

TEST(Xml, AttributeOrderIsInsertionOrderAndDeclarationStartsWithVersion)
{
    CMemXML doc;
    doc.Root().SetAttribute(L"encoding", L"utf-8");
    doc.Root().SetAttribute(L"standalone", L"yes");
    doc.Root().SetAttribute(L"version", L"1.0");
    CMXNode* e = doc.Root().AddChild(L"E");
    e->SetAttribute(L"z", L"1");
    e->SetAttribute(L"a", L"2");
    e->SetAttribute(L"m", L"3");
    e->SetAttribute(L"a", L"4");   // overwriting keeps the place
    EXPECT_EQ(L"<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\r\n<E z=\"1\" a=\"4\" m=\"3\"/>\r\n",
              Serialized(doc));
    // The order read from a file is kept on writing it back.
    std::wstring text = L"<?xml encoding=\"utf-8\" version=\"1.0\"?>\r\n<E b=\"1\" c=\"2\" a=\"3\"/>\r\n";
    EXPECT_EQ(std::wstring(kDecl) + L"<E b=\"1\" c=\"2\" a=\"3\"/>\r\n", Parsed(text));
}

TEST(Xml, NestingTextAndEmptyElements)
{
    CMemXML doc;
    CMXNode* a = doc.Root().AddChild(L"A");
    a->AddChild(L"B")->Text = L"x y ";
    a->GetNode(L"C\\D")->SetAttribute(L"k", L"v");
    a->Text = L"dropped, A has children";
    EXPECT_EQ(L"<?xml?>\r\n<A>\r\n\t<B>x y </B>\r\n\t<C>\r\n\t\t<D k=\"v\"/>\r\n\t</C>\r\n</A>\r\n", Serialized(doc));
}

TEST(Xml, EncodeTable)
{
    struct Row { const wchar_t* plain; const wchar_t* encoded; };
    const Row rows[] = {
        {L"", L""},
        {L"plain", L"plain"},
        {L"a<b", L"a&lt;b"},
        {L"\"&'<>", L"&quot;&amp;&apos;&lt;&gt;"},
        {L"%.3u,%.5u", L"%.3u,%.5u"},
        {L"\x0410\x0411 \t\r\n", L"\x0410\x0411 \t\r\n"},
    };
    CMemXML doc;
    for (const Row& row : rows) {
        std::wstring out = L"stale";
        doc.EncodeText(out, row.plain);
        EXPECT_EQ(row.encoded, out) << row.plain;
        doc.DecodeText(out, row.encoded);
        EXPECT_EQ(row.plain, out) << row.encoded;
    }
}

TEST(Xml, DecodeTable)
{
    struct Row { const wchar_t* text; std::wstring decoded; };
    const Row rows[] = {
        {L"&#x41;", L"A"},
        {L"a&#x430;b", L"a\x0430" L"b"},
        {L"&#65;", L""},                 // decimal references are not resolved
        {L"&nbsp;x", L"x"},              // unknown names are dropped
        {L"&#X41;", L""},                // upper-case X is not a reference
        {L"&#x;", L""},                  // no digits
        {L"&#xZZ;", L""},
        {L"&;", L""},
        {L"a&", L"a"},                   // '&' at the end
        {L"&amp", L"&"},                 // the entity runs to the end without ';'
        {L"x & y", L"x "},               // ... taking the rest with it
        {L"&lt;&gt;&amp;&quot;&apos;", L"<>&\"'"},
        {L"&amp;lt;", L"&lt;"},          // one level only
        {L"&#x1F600;", L"\xD83D\xDE00"}, // beyond the BMP: a surrogate pair
        {L"&#x0;", L""},
        {L"&#x110000;", L""},
        {L"&#xFFFFFFFFFF;", L""},
    };
    CMemXML doc;
    for (const Row& row : rows) {
        std::wstring out = L"stale";
        doc.DecodeText(out, row.text);
        EXPECT_EQ(row.decoded, out) << row.text;
    }
    std::wstring out;
    doc.DecodeText(out, L"&lt;tail", 4);   // explicit length: "&lt;" only
    EXPECT_EQ(L"<", out);
    doc.DecodeText(out, nullptr);
    EXPECT_EQ(L"", out);
}

TEST(Xml, ParserEdgeCases)
{
    struct Row { const char* what; std::wstring input; std::wstring written; };
    const std::wstring d = kDecl;
    const Row rows[] = {
        {"declaration goes to the root", d + L"<A/>", d + L"<A/>\r\n"},
        {"single quotes are ignored", L"<A a='1' b=\"2\" c='x y' d=e f=\"3\"/>",
         L"<?xml?>\r\n<A b=\"2\" f=\"3\"/>\r\n"},
        {"one space after '=' is allowed", L"<A a= \"1\" b=  \"2\"/>", L"<?xml?>\r\n<A a=\"1\"/>\r\n"},
        {"names are trimmed of spaces only", L"<A a=\"1\"\r\n\tb=\"2\"/>",
         L"<?xml?>\r\n<A a=\"1\" \r\n\tb=\"2\"/>\r\n"},
        {"unterminated value", L"<A a=\"1\" b=\"2/>", L"<?xml?>\r\n<A a=\"1\"/>\r\n"},
        {"'>' in a value ends the tag", L"<A a=\"x>y\"/>", L"<?xml?>\r\n<A/>\r\n"},
        {"any closing tag closes", L"<A><B></X><C/></Y>", L"<?xml?>\r\n<A>\r\n\t<B/>\r\n\t<C/>\r\n</A>\r\n"},
        {"stray closing tags at the top", L"</X></Y><A/>", L"<?xml?>\r\n<A/>\r\n"},
        {"text between children is lost", L"<A>one<B/>two<C>leaf </C>three</A>",
         L"<?xml?>\r\n<A>\r\n\t<B/>\r\n\t<C>leaf </C>\r\n</A>\r\n"},
        {"leaf text keeps its spaces and is decoded", L"<A>  a&lt;b\r\n </A>",
         L"<?xml?>\r\n<A>  a&lt;b\r\n </A>\r\n"},
        {"comments are skipped", L"<!-- <A/> --><B/>", L"<?xml?>\r\n<B/>\r\n"},
        {"brackets in a comment are counted", L"<!-- x > y --><B/>", L"<?xml?>\r\n<B/>\r\n"},
        {"doctype is kept whole", L"<!DOCTYPE P [<!ENTITY e \"v\">]><P/>",
         L"<?xml?>\r\n<!DOCTYPE P [<!ENTITY e \"v\">]>\r\n<P/>\r\n"},
        {"CDATA is skipped", L"<A><![CDATA[ <B/> ]]></A>", L"<?xml?>\r\n<A/>\r\n"},
        {"other processing instructions", L"<?pi a=\"1\"?><A/>", L"<?xml?>\r\n<?pi a=\"1\"?>\r\n<A/>\r\n"},
        {"'?>' closes an element", L"<A?><B/>", L"<?xml?>\r\n<A/>\r\n<B/>\r\n"},
        {"no name", L"<><  A/><B/>", L"<?xml?>\r\n<B/>\r\n"},
        {"unclosed elements", L"<A><B>text", L"<?xml?>\r\n<A>\r\n\t<B/>\r\n</A>\r\n"},
        {"truncated tag", L"<A><B a=\"1\"", L"<?xml?>\r\n<A/>\r\n"},
        {"unbalanced '!' swallows the rest", L"<A/><!DOCTYPE [<<<<B/>", L"<?xml?>\r\n<A/>\r\n"},
        {"'&' at the very end", L"<A>x&</A><B a=\"&\"/>", L"<?xml?>\r\n<A>x</A>\r\n<B a=\"\"/>\r\n"},
        {"nothing", L"", L"<?xml?>\r\n"},
        {"no tags", L"just text", L"<?xml?>\r\n"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.written, Parsed(row.input)) << row.what;
}

TEST(Xml, ParseReplacesEverything)
{
    CMemXML doc;
    doc.Parse(L"<?xml version=\"1.0\"?><!DOCTYPE X><A/>");
    EXPECT_EQ(L"<!DOCTYPE X>", doc.Doctype());
    doc.Parse(L"<B/>");
    EXPECT_EQ(L"", doc.Doctype());
    EXPECT_TRUE(doc.Root().Attributes.empty());
    EXPECT_EQ(nullptr, doc.Root().FindChild(L"A"));
    EXPECT_NE(nullptr, doc.Root().FindChild(L"B"));
}

TEST(Xml, TextRoundTripThroughFile)
{
    TestFolder folder;
    CMemXML doc;
    doc.Root().SetAttribute(L"version", L"1.0");
    CMXNode* p = doc.Root().AddChild(L"Parvel");
    p->AddChild(L"T")->Text = L"a<b & \"c\" 'd' \x0410\x044F \xD83D\xDE00 \r\n\tend ";
    p->AddChild(L"E")->SetAttribute(L"v", L"<\"x\"> \x0416");
    doc.SaveFile(folder.File(L"t.xml"));
    CMemXML back;
    back.LoadFile(folder.File(L"t.xml"));
    EXPECT_EQ(Serialized(doc), Serialized(back));
    EXPECT_EQ(L"a<b & \"c\" 'd' \x0410\x044F \xD83D\xDE00 \r\n\tend ", back.Root().GetNode(L"Parvel\\T")->Text);
    EXPECT_EQ(L"<\"x\"> \x0416", back.Root().GetNode(L"Parvel\\E")->GetAttribute(L"v"));
}

TEST(Xml, NodeOperations)
{
    CMXNode root(L"");
    CMXNode* b = root.GetNode(L"A\\B");
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(L"B", b->Name);
    EXPECT_EQ(b, root.GetNode(L"A\\B"));
    EXPECT_EQ(b, root.GetNode(L"\\A\\\\B\\"));
    EXPECT_EQ(&root, root.GetNode(L""));
    EXPECT_EQ(b, root.GetNode(L"A\\B", false));
    EXPECT_EQ(nullptr, root.GetNode(L"X\\B", false));
    EXPECT_EQ(nullptr, root.FindChild(L"X"));   // nothing was created
    EXPECT_EQ(nullptr, root.FindChild(L"a"));   // names are case-sensitive

    // Duplicates: FindChild gives the first added, Children keep document order.
    CMXNode* list = root.AddChild(L"List");
    CMXNode* first = list->AddChild(L"Item");
    list->AddChild(L"Other");
    CMXNode* second = list->AddChild(L"Item");
    EXPECT_EQ(first, list->FindChild(L"Item"));
    std::vector<CMXNode*> seen(list->Children.begin(), list->Children.end());
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ(first, seen[0]);
    EXPECT_EQ(second, seen[2]);
    EXPECT_EQ(L"Other", list->Children[1]->Name);

    list->RemoveChildren();
    EXPECT_TRUE(list->Children.empty());
    EXPECT_EQ(nullptr, list->FindChild(L"Item"));
    CMXNode* again = list->AddChild(L"Item");
    EXPECT_EQ(again, list->FindChild(L"Item"));

    // Absent and empty attributes read the same.
    b->SetAttribute(L"empty", L"");
    EXPECT_EQ(L"", b->GetAttribute(L"empty"));
    EXPECT_EQ(L"", b->GetAttribute(L"absent"));
    EXPECT_EQ(&b->GetAttribute(L"absent"), &root.GetAttribute(L"other"));
    EXPECT_EQ(1u, b->Attributes.count(L"empty"));
    EXPECT_EQ(0u, b->Attributes.count(L"absent"));
}

TEST(Xml, DeepNestingNeitherParsesNorDiesRecursively)
{
    const int depth = 200000;
    std::wstring text;
    text.reserve(depth * 3);
    for (int i = 0; i < depth; ++i)
        text += L"<a>";
    {
        CMemXML doc;
        doc.Parse(text);
        const CMXNode* node = &doc.Root();
        int levels = 0;
        while (!node->Children.empty()) {
            node = node->Children[0];
            ++levels;
        }
        // Absurd nesting is damage: what lies deeper is not taken, so writing the document back
        // costs at most MaxDepth indents a line.
        EXPECT_EQ(static_cast<int>(CMemXML::MaxDepth), levels);
        EXPECT_EQ(XmlDamage::TooDeep, doc.Damage());
        doc.Parse(L"<b/>");   // replacing drops the deep tree
        EXPECT_EQ(L"<?xml?>\r\n<b/>\r\n", Serialized(doc));
        doc.Parse(text);
    }   // and so does the destructor

    // A moderately deep document is written and read back unchanged.
    CMemXML doc;
    CMXNode* node = &doc.Root();
    for (std::size_t i = 0; i < CMemXML::MaxDepth; ++i)
        node = node->AddChild(L"n");
    node->Text = L"leaf";
    std::wstring written = Serialized(doc);
    EXPECT_EQ(written, Parsed(written));
    CMemXML reread;
    reread.Parse(written);
    EXPECT_EQ(XmlDamage::None, reread.Damage());
}

TEST(Xml, MutatedDocumentsNeverCrash)
{
    const std::wstring valid =
        L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<!DOCTYPE Parvel>\r\n<!-- settings -->\r\n"
        L"<Parvel>\r\n\t<Component version=\"1.1\">\r\n\t\t<Main Log=\"1\" LoadAtStartup=\"0\">\r\n"
        L"\t\t\t<LogFlags>ff</LogFlags>\r\n\t\t</Main>\r\n\t\t<Formats>\r\n\t\t\t<Item1>\r\n"
        L"\t\t\t\t<Name>Helm&amp;Co &#x41;</Name>\r\n\t\t\t\t<Template>%.3u,%.5u</Template>\r\n"
        L"\t\t\t</Item1>\r\n\t\t</Formats>\r\n\t</Component>\r\n</Parvel>\r\n";
    const wchar_t specials[] = L"<>/!?&;=\"' \r\n#x";
    std::mt19937 rng(20240531);
    CMemXML doc;
    for (int round = 0; round < 10000; ++round) {
        std::wstring text = valid;
        int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            std::size_t at = rng() % text.size();
            switch (rng() % 4) {
            case 0: text[at] = specials[rng() % (sizeof specials / sizeof specials[0] - 1)]; break;
            case 1: text.erase(at, 1 + rng() % 20); break;
            case 2: text.insert(at, 1, specials[rng() % (sizeof specials / sizeof specials[0] - 1)]); break;
            case 3: text.resize(at); break;
            }
        }
        doc.Parse(text);
        // Whatever was recognised writes out and reads back to the same document.
        std::wstring once = Serialized(doc);
        std::wstring twice = Parsed(once);
        ASSERT_EQ(once, Parsed(twice)) << "round " << round;
    }
}

TEST(Xml, LoadFileFailuresAndOddFiles)
{
    TestFolder folder;
    std::wstring missing = folder.File(L"missing.xml");
    CMemXML doc;
    doc.Parse(L"<Keep/>");
    try {
        doc.LoadFile(missing);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(CFileException::FileNotFound, e.GetCause());
        EXPECT_EQ(missing, e.FileName());
        EXPECT_NE(std::string::npos, std::string(e.what()).find(WideToAnsi(missing))) << e.what();
    }
    EXPECT_NE(nullptr, doc.Root().FindChild(L"Keep"));   // a failed load changes nothing

    // A folder is not a file.
    EXPECT_THROW(doc.LoadFile(folder.Path()), CFileException);

    struct Row { const char* what; std::string bytes; std::wstring written; };
    const Row rows[] = {
        {"empty file", "", L"<?xml?>\r\n"},
        {"byte-order mark only", "\xEF\xBB\xBF", L"<?xml?>\r\n"},
        {"without byte-order mark", "<A>\xD0\x96</A>", L"<?xml?>\r\n<A>\x0416</A>\r\n"},
        {"invalid UTF-8 is replaced", "\xEF\xBB\xBF<A>\xFF</A><B/>", L"<?xml?>\r\n<A>\xFFFD</A>\r\n<B/>\r\n"},
        {"NUL bytes are replaced", std::string("<A>\0</A><B/>", 12), L"<?xml?>\r\n<A>\xFFFD</A>\r\n<B/>\r\n"},
        {"truncated", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<Parvel>\r\n\t<Comp", L"<?xml version=\"1.0\"?>\r\n<Parvel/>\r\n"},
    };
    std::wstring path = folder.File(L"odd.xml");
    for (const Row& row : rows) {
        WriteBytes(path, row.bytes);
        doc.Parse(L"<Stale/>");
        doc.LoadFile(path);
        EXPECT_EQ(row.written, Serialized(doc)) << row.what;
    }

    // Random bytes: a best-effort document, never a crash.
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        std::string bytes(rng() % 600, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng() % 4 ? "<>/!?&;=\" ab"[rng() % 12] : rng());
        WriteBytes(path, bytes);
        doc.LoadFile(path);
    }
}

TEST(Xml, FailedSaveLeavesTheOldFileWhole)
{
    TestFolder folder;
    const std::string old = "\xEF\xBB\xBF<?xml?>\r\n<Old/>\r\n";
    CMemXML doc;
    doc.Parse(L"<New/>");

    // A read-only target.
    std::wstring readOnly = folder.File(L"ro.xml");
    WriteBytes(readOnly, old);
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    try {
        doc.SaveFile(readOnly);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(CFileException::AccessDenied, e.GetCause());
        EXPECT_EQ(readOnly, e.FileName());
    }
    EXPECT_EQ(old, ReadBytes(readOnly));
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);

    // A target that another program holds open without delete sharing: the new content is
    // written in full, then the replacement fails; the temporary file must go.
    std::wstring busy = folder.File(L"busy.xml");
    WriteBytes(busy, old);
    HANDLE holder = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    try {
        doc.SaveFile(busy);
        ADD_FAILURE() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(busy, e.FileName());
    }
    CloseHandle(holder);
    EXPECT_EQ(old, ReadBytes(busy));

    // A missing folder: nothing is created.
    std::wstring nowhere = folder.File(L"no-such-folder\\x.xml");
    EXPECT_THROW(doc.SaveFile(nowhere), CFileException);

    std::vector<std::wstring> files = FilesIn(folder.Path());
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<std::wstring>{L"busy.xml", L"ro.xml"}), files);

    // Once free, the same save replaces the file.
    doc.SaveFile(busy);
    EXPECT_EQ("\xEF\xBB\xBF<?xml?>\r\n<New/>\r\n", ReadBytes(busy));
}

TEST(Xml, ReportsWhetherTheDocumentWasReadWhole)
{
    struct Row { const wchar_t* text; XmlDamage damage; };
    const Row rows[] = {
        {L"", XmlDamage::None},
        {L"<?xml version=\"1.0\"?>\r\n<!-- c -->\r\n<A x=\"1\"><B>t</B><C/></A>\r\n", XmlDamage::None},
        {L"<A><B></B >\r\n</A>", XmlDamage::None},
        {L"<A><B>t</B>", XmlDamage::Truncated},            // A never closed
        {L"<A><B>t</B></A><C", XmlDamage::Truncated},      // a tag cut off
        {L"<A><!-- never ends </A>", XmlDamage::Truncated},
        {L"<A></A></A>", XmlDamage::Unbalanced},             // nothing left to close
        {L"<A><B></C></A>", XmlDamage::Unbalanced},          // the wrong name
        {L"<A/><B/>", XmlDamage::Roots},
        {L"no markup at all", XmlDamage::Roots},
    };
    CMemXML doc;
    for (const Row& row : rows) {
        doc.Parse(row.text);
        EXPECT_EQ(row.damage, doc.Damage()) << WideToAnsi(row.text);
    }
    // The reader stays lenient: a second root is still read.
    doc.Parse(L"<A/><B/>");
    EXPECT_EQ(2u, doc.Root().Children.size());
    // 20,000 unclosed levels stop at the limit, and what is written back stays small.
    std::wstring deep;
    for (int i = 0; i < 20000; ++i)
        deep += L"<a>";
    doc.Parse(deep);
    EXPECT_EQ(XmlDamage::TooDeep, doc.Damage());
    EXPECT_LT(Serialized(doc).size(), 2 * deep.size());
}

TEST(Xml, FileEncodingsOutsideUtf8AreReadOrReported)
{
    TestFolder folder;
    const std::wstring path = folder.File(L"enc.xml");
    CMemXML doc;

    // UTF-16 with its byte-order mark, either order, is read as UTF-16; it will be written as
    // UTF-8, so its declaration says so after the load.
    const std::wstring text = L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><Parvel><N>\x0416</N></Parvel>";
    std::string little("\xFF\xFE"), big("\xFE\xFF");
    for (wchar_t c : text) {
        little += static_cast<char>(c & 0xFF);
        little += static_cast<char>(c >> 8);
        big += static_cast<char>(c >> 8);
        big += static_cast<char>(c & 0xFF);
    }
    for (const std::string& bytes : {little, big}) {
        WriteBytes(path, bytes);
        doc.LoadFile(path);
        EXPECT_EQ(XmlDamage::None, doc.Damage());
        EXPECT_EQ(L"\x0416", doc.Root().GetNode(L"Parvel\\N")->Text);
        EXPECT_EQ(L"utf-8", doc.Root().GetAttribute(L"encoding"));
    }

    struct Row { const char* what; std::string bytes; XmlDamage damage; };
    const Row rows[] = {
        {"UTF-8 declared", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><A/>", XmlDamage::None},
        {"invalid UTF-8", "\xEF\xBB\xBF<A>\xFF</A>", XmlDamage::Encoding},
        {"UTF-16 without its mark", std::string("<\0A\0/\0>\0", 8), XmlDamage::Encoding},
        {"another encoding declared", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><A/>", XmlDamage::Encoding},
        {"UTF-16 declared in UTF-8", "<?xml version=\"1.0\" encoding=\"utf-16\"?><A/>", XmlDamage::Encoding},
        {"UTF-16 cut in a character", std::string("\xFF\xFE<\0A\0/\0>\0x", 11), XmlDamage::Truncated},
        {"NUL in a UTF-8 text", std::string("<A>a\0b</A>", 11), XmlDamage::Encoding},
        {"NUL in a UTF-16 text", std::string("\xFF\xFE<\0A\0>\0\0\0<\0/\0A\0>\0", 18), XmlDamage::Encoding},
    };
    // What is written back from a damaged file is read whole: otherwise every load would find the
    // program's own file damaged again, keep yet another copy and tell the user again.
    const std::wstring written = folder.File(L"written.xml");
    for (const Row& row : rows) {
        WriteBytes(path, row.bytes);
        doc.LoadFile(path);
        EXPECT_EQ(row.damage, doc.Damage()) << row.what;
        doc.SaveFile(written);
        CMemXML again;
        again.LoadFile(written);
        EXPECT_EQ(XmlDamage::None, again.Damage()) << row.what;
    }
}

// Another program holding the settings file for a moment (a virus scanner, a second reader) makes
// the replace fail for a while; the save waits that out, and reports only a hold that lasts.
TEST(Xml, SaveWaitsOutAFileHeldForAMomentAndReportsOneHeldLonger)
{
    TestFolder folder;
    const std::wstring path = folder.File(L"held.xml");
    WriteBytes(path, "old");
    CMemXML doc;
    doc.Root().AddChild(L"Parvel")->Text = L"new";

    auto hold = [&] {
        return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    };
    HANDLE held = hold();
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::thread release([held] {
        Sleep(300);
        CloseHandle(held);
    });
    EXPECT_NO_THROW(doc.SaveFile(path));
    release.join();
    EXPECT_NE(std::string::npos, ReadBytes(path).find("new"));

    held = hold();
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const DWORD start = GetTickCount();
    bool thrown = false;
    try {
        doc.SaveFile(path);
    } catch (const CFileException& e) {
        thrown = true;
        EXPECT_TRUE(e.OsError() == ERROR_ACCESS_DENIED || e.OsError() == ERROR_SHARING_VIOLATION) << e.OsError();
    }
    const DWORD took = GetTickCount() - start;
    CloseHandle(held);
    EXPECT_TRUE(thrown);
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 3000u);
}
