#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "RecordingXmlMgr.h"
#include "support/RecordingEventLog.h"
#include "support/TempDirectory.h"
#include "vpn/Common/Xml/PWCSaxWriter.h"
#include "vpn/Common/Xml/XmlParser.h"

namespace
{
constexpr wchar_t kDeclaration[] = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// A writer whose document is the declaration and an empty root, ready for writeDocument.
void BuildSmallDocument(PWCSaxWriter& writer, const std::wstring& text = L"x")
{
    ASSERT_EQ(0u, writer.startDocument(nullptr));
    ASSERT_EQ(0u, writer.startElement(L"E", nullptr));
    ASSERT_EQ(0u, writer.characters(text));
    ASSERT_EQ(0u, writer.endElement(L"E"));
    ASSERT_EQ(0u, writer.endDocument());
}

const std::string kSmallDocumentBytes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<R>\r\n<E>x</E>\r\n</R>\r\n";
} // namespace

TEST(WriterDocument, WorkedExampleToTheCharacter)
{
    PWCSaxWriter writer(L"C:\\unused\\", L"f.xml", L"Root");
    AttributeList attributes;
    attributes.add(L"a", L"1");
    EXPECT_EQ(0u, writer.startDocument(&attributes));
    EXPECT_EQ(0u, writer.startElement(L"Outer", nullptr));
    EXPECT_EQ(0u, writer.startElement(L"Inner", nullptr));
    EXPECT_EQ(0u, writer.characters(L"x&y"));
    EXPECT_EQ(0u, writer.endElement(L"Inner"));
    EXPECT_EQ(0u, writer.endElement(L"Outer"));
    EXPECT_EQ(0u, writer.endDocument());
    EXPECT_EQ(std::wstring(kDeclaration) +
                  L"\n<Root a=\"1\">\n<Outer>\n<Inner><![CDATA[x&y]]></Inner></Outer>\n</Root>\n",
              writer.getDocument());
}

TEST(WriterDocument, AttributesInListOrderWithoutEscaping)
{
    PWCSaxWriter writer(L"", L"f.xml", L"R");
    AttributeList attributes;
    attributes.add(L"z", L"last>first");
    attributes.add(L"a", L"");
    attributes.add(L"m:n", L"x y");
    AttributeList none;
    ASSERT_EQ(0u, writer.startDocument(&none));
    ASSERT_EQ(0u, writer.startElement(L"E", &attributes));
    ASSERT_EQ(0u, writer.endElement(L"Other"));
    EXPECT_EQ(std::wstring(kDeclaration) + L"\n<R>\n<E z=\"last>first\" a=\"\" m:n=\"x y\"></Other>",
              writer.getDocument());
}

TEST(WriterDocument, StartDocumentDiscardsEverythingBefore)
{
    PWCSaxWriter writer(L"", L"f.xml", L"R");
    AttributeList first;
    first.add(L"n", L"1");
    AttributeList second;
    second.add(L"n", L"2");
    ASSERT_EQ(0u, writer.startDocument(&first));
    ASSERT_EQ(0u, writer.startElement(L"E", nullptr));
    ASSERT_EQ(0u, writer.startDocument(&second));
    EXPECT_EQ(std::wstring(kDeclaration) + L"\n<R n=\"2\">", writer.getDocument());
}

TEST(WriterCData, OnlyAmpersandLessThanAndSectionEndCallForASection)
{
    PWCSaxWriter writer(L"", L"f.xml", L"R");
    ASSERT_EQ(0u, writer.characters(L"a>b\"'"));
    const std::wstring plain = writer.getDocument();
    EXPECT_EQ(L"a>b\"'", plain);
    ASSERT_EQ(0u, writer.characters(L""));
    EXPECT_EQ(plain, writer.getDocument());
    ASSERT_EQ(0u, writer.characters(L"x<y"));
    EXPECT_EQ(plain + L"<![CDATA[x<y]]>", writer.getDocument());
}

TEST(WriterCData, SectionsNeverHoldTheirOwnTerminator)
{
    PWCSaxWriter writer(L"", L"f.xml", L"R");
    ASSERT_EQ(0u, writer.characters(L"a]]>b&"));
    EXPECT_EQ(L"<![CDATA[a]]]]><![CDATA[>b&]]>", writer.getDocument());

    EXPECT_EQ(L"<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>", PWCSaxWriter::wrapCData(L"]]>]]>"));
    EXPECT_EQ(L"<![CDATA[]]]]]>", PWCSaxWriter::wrapCData(L"]]]"));
    EXPECT_EQ(L"<![CDATA[]]>", PWCSaxWriter::wrapCData(L""));
}

// Regression: text holding "]]>" but neither "&" nor "<" was written as plain text, and the
// policy file it went into could not be parsed any more.
TEST(WriterCData, SectionEndInPlainTextBrokeTheDocument)
{
    PWCSaxWriter writer(L"", L"f.xml", L"R");
    ASSERT_EQ(0u, writer.characters(L"a]]>b"));
    EXPECT_EQ(L"<![CDATA[a]]]]><![CDATA[>b]]>", writer.getDocument());

    // Brackets and ">" that do not form "]]>" stay plain, as before.
    PWCSaxWriter plain(L"", L"f.xml", L"R");
    ASSERT_EQ(0u, plain.characters(L"]] > ]>]"));
    EXPECT_EQ(L"]] > ]>]", plain.getDocument());
}

// "]]>" can also form where the text meets plain text appended just before it.
TEST(WriterCData, SectionEndAcrossConsecutiveTextsIsSplit)
{
    PWCSaxWriter twoBrackets(L"", L"f.xml", L"R");
    ASSERT_EQ(0u, twoBrackets.characters(L"a]]"));
    ASSERT_EQ(0u, twoBrackets.characters(L">b"));
    EXPECT_EQ(L"a]]<![CDATA[>b]]>", twoBrackets.getDocument());

    PWCSaxWriter oneBracket(L"", L"f.xml", L"R");
    ASSERT_EQ(0u, oneBracket.characters(L"]"));
    ASSERT_EQ(0u, oneBracket.characters(L"]>"));
    EXPECT_EQ(L"]<![CDATA[]>]]>", oneBracket.getDocument());

    // After a section or a tag the next text starts fresh.
    PWCSaxWriter afterSection(L"", L"f.xml", L"R");
    ASSERT_EQ(0u, afterSection.characters(L"&]]"));
    ASSERT_EQ(0u, afterSection.characters(L">"));
    EXPECT_EQ(L"<![CDATA[&]]]]>>", afterSection.getDocument());
}

// Every text that the writer accepts must come back from the platform's reader unchanged.
TEST(WriterCData, AcceptedTextsReadBackUnchanged)
{
    const std::vector<std::wstring> texts = {L"a]]>b",
                                             L"]]>",
                                             L"]]>]]>",
                                             L"]]]>>",
                                             L"x&]]><y",
                                             L"]",
                                             L"]]",
                                             L"a>b",
                                             L"\"q'\"",
                                             L"tab\tand\nline",
                                             L"\u00E9\u00DF\u03A9\xD83D\xDE00\xDBFF\xDFFF]]>"};
    TempDirectory dir;
    PWCSaxWriter writer(dir.path() + L"\\", L"texts.xml", L"R");
    ASSERT_EQ(0u, writer.startDocument(nullptr));
    for (const std::wstring& text : texts)
    {
        ASSERT_EQ(0u, writer.startElement(L"E", nullptr));
        ASSERT_EQ(0u, writer.characters(text));
        ASSERT_EQ(0u, writer.endElement(L"E"));
    }
    // Two texts in one element that meet in "]]>".
    ASSERT_EQ(0u, writer.startElement(L"E", nullptr));
    ASSERT_EQ(0u, writer.characters(L"]"));
    ASSERT_EQ(0u, writer.characters(L"]>"));
    ASSERT_EQ(0u, writer.endElement(L"E"));
    ASSERT_EQ(0u, writer.endDocument());
    ASSERT_EQ(0u, writer.writeDocument());

    RecordingXmlMgr reader;
    XmlParser parser(&reader);
    ASSERT_EQ(0u, parser.invokeParser(dir.join(L"texts.xml")));
    std::vector<std::wstring> expected = {L"start R", L"text \n"};
    for (const std::wstring& text : texts)
    {
        expected.insert(expected.end(), {L"start E", L"text " + text, L"end E", L"text \n"});
    }
    expected.insert(expected.end(), {L"start E", L"text ]]>", L"end E", L"text \n", L"end R"});
    EXPECT_EQ(expected, reader.normalized());
}

TEST(WriterCData, TextXmlCannotCarryIsRefusedAndNothingAppended)
{
    const std::vector<std::wstring> refused = {std::wstring(L"a\x01"
                                                            L"b"),
                                               L"\x1F",
                                               L"\x0B&",
                                               L"\xFFFE",
                                               L"a\xFFFF",
                                               L"\xD800",
                                               L"\xD800x",
                                               L"\xDC00",
                                               L"\xDE00\xD83D"};
    for (const std::wstring& text : refused)
    {
        RecordingEventLog log;
        PWCSaxWriter writer(L"", L"f.xml", L"R");
        ASSERT_EQ(0u, writer.characters(L"kept"));
        EXPECT_EQ(0xFE000002u, writer.characters(text));
        EXPECT_EQ(L"kept", writer.getDocument());
        const auto entries = ParsedEntries(log);
        ASSERT_EQ(1u, entries.size());
        EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
        EXPECT_EQ("PWCSaxWriter::characters", entries[0].function);
        EXPECT_EQ("PWCSaxWriter::characters", entries[0].invoked);
        EXPECT_EQ(0xFE000002u, static_cast<unsigned>(entries[0].code));
    }

    // Tab, line feed, carriage return, a surrogate pair and the last characters below U+FFFE pass.
    PWCSaxWriter writer(L"", L"f.xml", L"R");
    EXPECT_EQ(0u, writer.characters(L"\t\n\r\xD800\xDC00\xFFFD\uE000"));
    EXPECT_EQ(L"\t\n\r\xD800\xDC00\xFFFD\uE000", writer.getDocument());
}

TEST(WriterFile, Utf8WithoutMarkAndWithCrLf)
{
    TempDirectory dir;
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R");
    // e acute (2 bytes), euro sign (3 bytes), a character outside the basic plane (surrogate pair, 4 bytes)
    BuildSmallDocument(writer, L"\u00E9\u20AC\xD83D\xDE00");
    ASSERT_EQ(0u, writer.writeDocument());
    EXPECT_EQ("<?xml version=\"1.0\" "
              "encoding=\"UTF-8\"?>\r\n<R>\r\n<E>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</E>\r\n</R>\r\n",
              ReadFileBytes(dir.join(L"out.xml")));
}

TEST(WriterFile, CreatesMissingDirectoriesAndReplacesTheFile)
{
    TempDirectory dir;
    const std::wstring nested = dir.join(L"a\\b c\\d\\");
    PWCSaxWriter writer(nested, L"out.xml", L"R");
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(nested + L"out.xml"));

    WriteFileBytes(nested + L"out.xml", std::string(5000, 'o'));
    ASSERT_EQ(0u, writer.writeDocument());
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(nested + L"out.xml"));
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(nested));
}

TEST(WriterFile, DirectoryWithoutTrailingBackslashIsJoinedToTheName)
{
    TempDirectory dir;
    PWCSaxWriter writer(dir.join(L"sub"), L"out.xml", L"R");
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());
    EXPECT_EQ(std::vector<std::wstring>{L"subout.xml"}, ListDirectory(dir.path()));
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(dir.join(L"subout.xml")));
}

TEST(WriterFile, EmptyDirectoryMeansTheCurrentDirectory)
{
    TempDirectory dir;
    ScopedCurrentDirectory cwd(dir.path());
    PWCSaxWriter writer(L"", L"out.xml", L"R");
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(dir.join(L"out.xml")));
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));
}

TEST(WriterFile, LeadingBackslashCannotBeCreated)
{
    RecordingEventLog log;
    std::vector<std::wstring> opened;
    pw::Api().CreateFileW = [&opened](LPCWSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
    {
        opened.push_back(name);
        return INVALID_HANDLE_VALUE;
    };
    PWCSaxWriter writer(L"\\pw-no-such-root\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());
    EXPECT_TRUE(opened.empty());

    const auto entries = ParsedEntries(log);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
    EXPECT_EQ("PWCSaxWriter::writeDocument", entries[0].function);
    EXPECT_EQ("PWCSaxWriter", entries[0].file);
    EXPECT_EQ("PWCSaxWriter::writeDocument", entries[0].invoked);
    EXPECT_EQ("FE000009", entries[0].hexCode);
    EXPECT_EQ("Error creating needed directory", entries[0].text);
}

TEST(WriterFile, TemporaryFileIsNamedAfterTheProcess)
{
    TempDirectory dir;
    ScopedPlatformApi api;
    std::vector<std::wstring> opened;
    auto realCreate = pw::Api().CreateFileW;
    pw::Api().CreateFileW =
        [&](LPCWSTR name, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t)
    {
        opened.push_back(name);
        return realCreate(name, a, s, sa, d, f, t);
    };
    DWORD pid = 4242;
    pw::Api().GetCurrentProcessId = [&pid]() { return pid; };
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());
    pid = 77;
    ASSERT_EQ(0u, writer.writeDocument());
    EXPECT_EQ((std::vector<std::wstring>{dir.join(L"out.xml.4242.tmp"), dir.join(L"out.xml.77.tmp")}),
              opened);
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));
}

// A failure at any step of a write must not tear the policy file: the old file stays
// byte-for-byte, the temporary file is removed and the failing call is logged.
struct FailurePoint
{
    const char* name;
    const char* invoked;
    DWORD error;
    void (*inject)(DWORD error);
};

class WriterAtomicReplace : public ::testing::TestWithParam<FailurePoint>
{
};

TEST_P(WriterAtomicReplace, FailureKeepsTheOldFileAndLeavesNoTemporary)
{
    const FailurePoint& point = GetParam();
    TempDirectory dir;
    const std::string oldBytes = "<old>\r\n\xC3\xA9</old>\r\n";
    WriteFileBytes(dir.join(L"policy.xml"), oldBytes);

    RecordingEventLog log;
    point.inject(point.error);
    PWCSaxWriter writer(dir.path() + L"\\", L"policy.xml", L"R");
    BuildSmallDocument(writer, std::wstring(20000, L'n'));
    EXPECT_EQ(0xFE000009u, writer.writeDocument());

    EXPECT_EQ(oldBytes, ReadFileBytes(dir.join(L"policy.xml")));
    EXPECT_EQ(std::vector<std::wstring>{L"policy.xml"}, ListDirectory(dir.path()));
    const auto entries = ParsedEntries(log);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
    EXPECT_EQ("PWCSaxWriter::writeDocument", entries[0].function);
    EXPECT_EQ("PWCSaxWriter", entries[0].file);
    EXPECT_EQ(point.invoked, entries[0].invoked);
    EXPECT_EQ(static_cast<long long>(point.error), entries[0].code);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, WriterAtomicReplace,
    ::testing::Values(
        // A read-only or locked policy directory refuses the new file.
        FailurePoint{"Open", "::CreateFile", ERROR_ACCESS_DENIED,
                     [](DWORD error)
                     {
                         pw::Api().CreateFileW =
                             [error](LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
                         {
                             ::SetLastError(error);
                             return INVALID_HANDLE_VALUE;
                         };
                     }},
        // The disk fills up after part of the document reached the temporary file.
        FailurePoint{"Write", "::WriteFile", ERROR_DISK_FULL,
                     [](DWORD error)
                     {
                         pw::Api().WriteFile = [error](HANDLE file, LPCVOID data, DWORD size, LPDWORD done,
                                                       LPOVERLAPPED overlapped)
                         {
                             if (size > 1000)
                             {
                                 return ::WriteFile(file, data, size / 2, done, overlapped);
                             }
                             ::SetLastError(error);
                             return FALSE;
                         };
                     }},
        FailurePoint{"Flush", "::FlushFileBuffers", ERROR_IO_DEVICE,
                     [](DWORD error)
                     {
                         pw::Api().FlushFileBuffers = [error](HANDLE)
                         {
                             ::SetLastError(error);
                             return FALSE;
                         };
                     }},
        FailurePoint{"Close", "::CloseHandle", ERROR_IO_DEVICE,
                     [](DWORD error)
                     {
                         pw::Api().CloseHandle = [error](HANDLE handle)
                         {
                             ::CloseHandle(handle);
                             ::SetLastError(error);
                             return FALSE;
                         };
                     }},
        // A read-only or locked policy file refuses to be replaced.
        FailurePoint{"Replace", "::MoveFileEx", ERROR_ACCESS_DENIED,
                     [](DWORD error)
                     {
                         pw::Api().MoveFileExW = [error](LPCWSTR, LPCWSTR, DWORD)
                         {
                             ::SetLastError(error);
                             return FALSE;
                         };
                         pw::Api().Sleep = [](DWORD) {};
                     }}),
    [](const ::testing::TestParamInfo<FailurePoint>& info) { return std::string(info.param.name); });

TEST(WriterAtomicReplaceLocked, PolicyFileHeldOpenByAReaderIsNotTorn)
{
    TempDirectory dir;
    const std::string oldBytes = "old policy";
    WriteFileBytes(dir.join(L"policy.xml"), oldBytes);
    // Held open without delete sharing, as a reader of the policy file might.
    const HANDLE reader = ::CreateFileW(dir.join(L"policy.xml").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);

    RecordingEventLog log;
    int pauses = 0;
    pw::Api().Sleep = [&pauses](DWORD) { ++pauses; };
    PWCSaxWriter writer(dir.path() + L"\\", L"policy.xml", L"R");
    BuildSmallDocument(writer);
    const ResultCode result = writer.writeDocument();
    ::CloseHandle(reader);
    EXPECT_EQ(19, pauses) << "a refused replace is tried 20 times";

    // The open file cannot be replaced (Wine refuses as Windows does).
    EXPECT_EQ(0xFE000009u, result);
    EXPECT_EQ(oldBytes, ReadFileBytes(dir.join(L"policy.xml")));
    ASSERT_EQ(1u, log.entries().size());
    EXPECT_EQ("::MoveFileEx", ParsedEntries(log)[0].invoked);
    EXPECT_EQ(std::vector<std::wstring>{L"policy.xml"}, ListDirectory(dir.path()));
}

TEST(WriterAtomicReplaceLocked, ReaderThatLetsGoDuringTheRetriesDoesNotFailTheWrite)
{
    // Two runs at once: one run's read-back holds the file while the other replaces it.
    TempDirectory dir;
    WriteFileBytes(dir.join(L"policy.xml"), "old policy");
    HANDLE reader = ::CreateFileW(dir.join(L"policy.xml").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);

    RecordingEventLog log;
    std::vector<DWORD> pauses;
    pw::Api().Sleep = [&](DWORD ms)
    {
        pauses.push_back(ms);
        if (pauses.size() == 2)
        {
            ::CloseHandle(reader);
        }
    };
    PWCSaxWriter writer(dir.path() + L"\\", L"policy.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0u, writer.writeDocument());
    EXPECT_EQ((std::vector<DWORD>{50, 50}), pauses);
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(dir.join(L"policy.xml")));
    EXPECT_TRUE(log.entries().empty());
}

TEST(WriterAtomicReplaceLocked, OtherReplaceErrorsAreNotRetried)
{
    TempDirectory dir;
    RecordingEventLog log;
    int attempts = 0;
    pw::Api().MoveFileExW = [&attempts](LPCWSTR, LPCWSTR, DWORD)
    {
        ++attempts;
        ::SetLastError(ERROR_DISK_FULL);
        return FALSE;
    };
    PWCSaxWriter writer(dir.path() + L"\\", L"policy.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());
    EXPECT_EQ(1, attempts);
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
}
