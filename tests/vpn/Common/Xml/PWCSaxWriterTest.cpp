#include "vpn/Common/Xml/PWCSaxWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "RecordingXmlMgr.h"
#include "support/ApiOverride.h"
#include "support/CreationRecorder.h"
#include "support/FileFaults.h"
#include "support/LoggedEntry.h"
#include "support/OverrideSet.h"
#include "support/RecordingEventLog.h"
#include "support/TempDirectory.h"
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

const std::string kFolderSddl = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const std::string kFileSddl = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

// Makes the system's random generator give the scripted byte patterns in turn (the last one
// again once the script is used up): the n-th name then ends in that pattern eight times. Lasts
// as long as the returned object.
ApiOverride<BOOLEAN(PVOID, ULONG)> ScriptRandomBytes(std::vector<unsigned char> patterns)
{
    auto next = std::make_shared<size_t>(0);
    return OverrideApi(&pw::PlatformApi::RtlGenRandom,
                       [patterns, next](PVOID buffer, ULONG size) -> BOOLEAN
                       {
                           const unsigned char pattern = patterns[std::min(*next, patterns.size() - 1)];
                           ++*next;
                           std::memset(buffer, pattern, size);
                           return TRUE;
                       });
}

std::wstring TemporaryName(const std::wstring& target, unsigned char pattern)
{
    wchar_t hex[3] = {};
    swprintf(hex, 3, L"%02x", pattern);
    std::wstring name = target + L".";
    for (int i = 0; i < 8; ++i)
    {
        name += hex;
    }
    return name + L".tmp";
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// The entry of a folder that the writer refuses to use, with the reason.
LoggedEntry Refusal(const std::wstring& folder, const std::string& reason)
{
    return Failure('E', "CFileSecurity::OpenTrustedFolder", "FileSecurity",
                   "CFileSecurity::OpenTrustedFolder", ERROR_ACCESS_DENIED,
                   "Refusing folder " + Narrow(folder) + ": " + reason);
}
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
        EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "PWCSaxWriter::characters", "PWCSaxWriter",
                                                   "PWCSaxWriter::characters", 0xFE000002u,
                                                   "Text holds a character that XML 1.0 cannot carry")},
                  LoggedEntries(log));
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

TEST(WriterFile, EmptyDirectoryIsRefusedRatherThanTheCurrentDirectory)
{
    // Regression: a policy whose folder was unknown used to land in whatever the current
    // directory was, and the write reported success.
    TempDirectory dir;
    ScopedCurrentDirectory cwd(dir.path());
    RecordingEventLog log;
    PWCSaxWriter writer(L"", L"out.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                                               "PWCSaxWriter::writeDocument", 0xFE000009u,
                                               "No folder for out.xml: it is not written to the current "
                                               "directory")},
              LoggedEntries(log));
}

TEST(WriterFile, LeadingBackslashCannotBeCreated)
{
    // The empty first prefix can be neither found nor created; the entry carries the error that
    // the creation gave.
    ::SetLastError(ERROR_SUCCESS);
    ASSERT_FALSE(::CreateDirectoryW(L"", nullptr));
    const DWORD creationError = ::GetLastError();
    ASSERT_NE(static_cast<DWORD>(ERROR_SUCCESS), creationError);

    RecordingEventLog log;
    std::vector<std::wstring> opened;
    const auto noFiles =
        OverrideApi(&pw::PlatformApi::CreateFileW,
                    [&opened](LPCWSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
                    {
                        opened.push_back(name);
                        return INVALID_HANDLE_VALUE;
                    });
    PWCSaxWriter writer(L"\\pw-no-such-root\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                                               "PWCSaxWriter::writeDocument", creationError,
                                               "Error creating needed directory")},
              LoggedEntries(log));
}

// Regression: a folder that could not be created was logged with a generic code instead of the
// error that said why.
TEST(WriterFile, FolderThatCannotBeCreatedIsLoggedWithTheErrorOfTheCreation)
{
    TempDirectory dir;
    RecordingEventLog log;
    std::vector<std::wstring> attempted;
    const auto refused = OverrideApi(&pw::PlatformApi::CreateDirectoryW,
                                     [&attempted](LPCWSTR path, LPSECURITY_ATTRIBUTES)
                                     {
                                         attempted.push_back(path);
                                         ::SetLastError(ERROR_ACCESS_DENIED);
                                         return FALSE;
                                     });
    for (const std::wstring& base : {std::wstring(), dir.path()})
    {
        log.clear();
        attempted.clear();
        PWCSaxWriter writer(dir.join(L"a\\b\\"), L"out.xml", L"R", base);
        BuildSmallDocument(writer);
        EXPECT_EQ(0xFE000009u, writer.writeDocument());
        EXPECT_EQ(std::vector<std::wstring>{dir.join(L"a")}, attempted);
        EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                                                   "PWCSaxWriter::writeDocument", ERROR_ACCESS_DENIED,
                                                   "Error creating needed directory")},
                  LoggedEntries(log));
    }
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
}

TEST(WriterTemporaryFile, NameIsRandomAndCreatedNewWithTheFileRights)
{
    // Regression: the name was the target, the process id and ".tmp", opened with CREATE_ALWAYS, so
    // a user could plant it beforehand and own the policy that was renamed into place.
    TempDirectory dir;
    CreationRecorder calls;
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());
    ASSERT_EQ(0u, writer.writeDocument());
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(dir.join(L"out.xml")));
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));

    const std::vector<RecordedCreation> created = calls.files(CREATE_NEW);
    ASSERT_EQ(2u, created.size());
    EXPECT_NE(created[0].path, created[1].path);
    const std::regex pattern(
        std::regex_replace(Narrow(dir.join(L"out.xml")), std::regex(R"([\\.])"), R"(\$&)") +
        R"(\.[0-9a-f]{16}\.tmp)");
    for (const RecordedCreation& file : created)
    {
        EXPECT_TRUE(std::regex_match(Narrow(file.path), pattern)) << Narrow(file.path);
        EXPECT_EQ(kFileSddl, file.sddl);
        EXPECT_EQ(0u, file.share);
    }
    EXPECT_TRUE(calls.files(CREATE_ALWAYS).empty());
}

TEST(WriterTemporaryFile, NameComesFromTheSystemRandomGenerator)
{
    TempDirectory dir;
    CreationRecorder calls;
    const auto random = ScriptRandomBytes({0xa5});
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());
    ASSERT_EQ(1u, calls.files(CREATE_NEW).size());
    EXPECT_EQ(dir.join(L"out.xml.a5a5a5a5a5a5a5a5.tmp"), calls.files(CREATE_NEW)[0].path);
}

TEST(WriterTemporaryFile, ExistingNameIsNeverOpenedAndAnotherIsTaken)
{
    TempDirectory dir;
    const std::wstring target = dir.join(L"out.xml");
    const std::wstring planted = TemporaryName(target, 0x11);
    ASSERT_TRUE(WriteFileBytes(planted, "planted"));
    RecordingEventLog log;
    CreationRecorder calls;
    // Planted by someone else, so it is no leftover of an earlier run to remove.
    const auto plantedByAUser = OverrideFileOwner(L"S-1-5-21-7-7-7-1001");
    const auto random = ScriptRandomBytes({0x11, 0x22});
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());

    const std::vector<RecordedCreation> created = calls.files(CREATE_NEW);
    ASSERT_EQ(2u, created.size());
    EXPECT_EQ(planted, created[0].path);
    EXPECT_EQ(TemporaryName(target, 0x22), created[1].path);
    EXPECT_EQ("planted", ReadFileBytes(planted));
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(target));
    EXPECT_TRUE(log.entries().empty());
}

TEST(WriterTemporaryFile, GivesUpAfterEightTakenNamesAndKeepsTheOldFile)
{
    TempDirectory dir;
    const std::wstring target = dir.join(L"out.xml");
    const std::wstring planted = TemporaryName(target, 0x33);
    ASSERT_TRUE(WriteFileBytes(planted, "planted"));
    ASSERT_TRUE(WriteFileBytes(target, "old policy"));
    RecordingEventLog log;
    CreationRecorder calls;
    const auto plantedByAUser = OverrideFileOwner(L"S-1-5-21-7-7-7-1001");
    const auto random = ScriptRandomBytes({0x33});
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());

    EXPECT_EQ(8u, calls.files(CREATE_NEW).size());
    EXPECT_EQ("planted", ReadFileBytes(planted));
    EXPECT_EQ("old policy", ReadFileBytes(target));
    EXPECT_EQ(
        (std::vector<LoggedEntry>{
            Message('W', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                    Narrow(target) +
                        " belongs to S-1-5-21-7-7-7-1001, not to SYSTEM, Administrators, TrustedInstaller or "
                        "the user running this tool: it may have been planted, and is replaced"),
            Failure('E', "PWCSaxWriter::writeDocument", "AtomicFileWriter", "::CreateFile", ERROR_FILE_EXISTS,
                    "No unused temporary name beside " + Narrow(target) + " after 8 attempts")}),
        LoggedEntries(log));
}

TEST(WriterTemporaryFile, RandomGeneratorFailureFailsTheWrite)
{
    TempDirectory dir;
    ASSERT_TRUE(WriteFileBytes(dir.join(L"out.xml"), "old policy"));
    RecordingEventLog log;
    const auto noRandom =
        OverrideApi(&pw::PlatformApi::RtlGenRandom, [](PVOID, ULONG) -> BOOLEAN { return FALSE; });
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                                               "RtlGenRandom", 0xFE000009u)},
              LoggedEntries(log));
}

TEST(WriterTemporaryFile, DeletedByNameWhenDeletionByHandleIsRefused)
{
    TempDirectory dir;
    ASSERT_TRUE(WriteFileBytes(dir.join(L"out.xml"), "old policy"));
    RecordingEventLog log;
    int dispositions = 0;
    const auto refuseDisposition =
        OverrideApi(&pw::PlatformApi::SetFileInformationByHandle,
                    [&dispositions](HANDLE, FILE_INFO_BY_HANDLE_CLASS type, LPVOID, DWORD)
                    {
                        dispositions += type == FileDispositionInfo ? 1 : 0;
                        ::SetLastError(ERROR_ACCESS_DENIED);
                        return FALSE;
                    });
    const auto failFlush = OverrideApi(&pw::PlatformApi::FlushFileBuffers,
                                       [](HANDLE)
                                       {
                                           ::SetLastError(ERROR_IO_DEVICE);
                                           return FALSE;
                                       });
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());
    EXPECT_EQ(1, dispositions);
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));
    EXPECT_EQ("old policy", ReadFileBytes(dir.join(L"out.xml")));
}

TEST(WriterFolders, CreatedFoldersBelowTheBaseGetTheProtectedDacl)
{
    TempDirectory dir;
    CreationRecorder calls;
    PWCSaxWriter writer(dir.join(L"Maker\\Product\\"), L"out.xml", L"R", dir.path());
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(dir.join(L"Maker\\Product\\out.xml")));

    ASSERT_EQ(2u, calls.directories().size());
    EXPECT_EQ(dir.join(L"Maker"), calls.directories()[0].path);
    EXPECT_EQ(dir.join(L"Maker\\Product"), calls.directories()[1].path);
    for (const RecordedCreation& folder : calls.directories())
    {
        EXPECT_EQ(kFolderSddl, folder.sddl);
    }
    // Both folders are opened as links, without delete sharing, and checked; the base is not.
    std::vector<std::wstring> opened;
    for (const RecordedCreation& open : calls.files(OPEN_EXISTING))
    {
        if (open.path == dir.join(L"Maker\\Product\\out.xml"))
        {
            continue; // looked at for its owner, and not held against anyone
        }
        opened.push_back(open.path);
        EXPECT_NE(0u, open.flags & FILE_FLAG_OPEN_REPARSE_POINT);
        EXPECT_EQ(0u, open.share & FILE_SHARE_DELETE);
    }
    EXPECT_EQ((std::vector<std::wstring>{dir.join(L"Maker"), dir.join(L"Maker\\Product")}), opened);
}

TEST(WriterFolders, DirectoryOutsideTheBaseIsRefused)
{
    TempDirectory dir;
    TempDirectory other;
    RecordingEventLog log;
    PWCSaxWriter writer(other.path() + L"\\", L"out.xml", L"R", dir.path());
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());
    EXPECT_TRUE(ListDirectory(other.path()).empty());
    EXPECT_EQ(1u, log.entries().size());
}

// An existing folder below the base is used only when no one but SYSTEM, Administrators,
// TrustedInstaller or the caller could have planted it, and its rights are left as they are.
class WriterTrustedOwner : public ::testing::TestWithParam<const wchar_t*>
{
};

TEST_P(WriterTrustedOwner, ExistingFolderIsUsedAsItIs)
{
    TempDirectory dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.join(L"Maker").c_str(), nullptr));
    RecordingEventLog log;
    CreationRecorder calls;
    const auto owner = OverrideOwner(GetParam());
    PWCSaxWriter writer(dir.join(L"Maker\\"), L"out.xml", L"R", dir.path());
    BuildSmallDocument(writer);
    EXPECT_EQ(0u, writer.writeDocument());
    EXPECT_TRUE(calls.directories().empty());
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(dir.join(L"Maker\\out.xml")));
    EXPECT_TRUE(log.entries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Owners, WriterTrustedOwner,
    ::testing::Values(L"SY", L"BA", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"));

TEST(WriterUntrustedFolder, FolderOwnedByAnotherUserIsRefusedAndTheOldFileKept)
{
    TempDirectory dir;
    const std::wstring folder = dir.join(L"Maker");
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\out.xml", "old policy"));
    RecordingEventLog log;
    const auto owner = OverrideOwner(L"S-1-5-21-7-7-7-1001");
    PWCSaxWriter writer(folder + L"\\", L"out.xml", L"R", dir.path());
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());

    EXPECT_EQ("old policy", ReadFileBytes(folder + L"\\out.xml"));
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(folder));
    EXPECT_EQ(std::vector<LoggedEntry>{Refusal(folder, "its owner S-1-5-21-7-7-7-1001 is not SYSTEM, "
                                                       "Administrators, TrustedInstaller or the user running "
                                                       "this tool")},
              LoggedEntries(log));
}

TEST(WriterUntrustedFolder, ReparsePointIsRefusedAndTheOldFileKept)
{
    // Wine cannot make a junction; the folder is reported as one.
    TempDirectory dir;
    const std::wstring folder = dir.join(L"Maker");
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\out.xml", "old policy"));
    RecordingEventLog log;
    const auto reparsePoint = OverrideApi(&pw::PlatformApi::GetFileInformationByHandle,
                                          [](HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
                                          {
                                              const BOOL done =
                                                  ::GetFileInformationByHandle(file, information);
                                              information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                                              return done;
                                          });
    PWCSaxWriter writer(folder + L"\\", L"out.xml", L"R", dir.path());
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());

    EXPECT_EQ("old policy", ReadFileBytes(folder + L"\\out.xml"));
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(folder));
    EXPECT_EQ(std::vector<LoggedEntry>{Refusal(folder, "it is a reparse point (a junction, symbolic link or "
                                                       "mount point)")},
              LoggedEntries(log));
}

TEST(WriterUntrustedFolder, FileWhereAFolderBelongsIsRefused)
{
    TempDirectory dir;
    ASSERT_TRUE(WriteFileBytes(dir.join(L"Maker"), "not a folder"));
    RecordingEventLog log;
    PWCSaxWriter writer(dir.join(L"Maker\\"), L"out.xml", L"R", dir.path());
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());
    EXPECT_EQ("not a folder", ReadFileBytes(dir.join(L"Maker")));
    EXPECT_EQ(std::vector<LoggedEntry>{Refusal(dir.join(L"Maker"), "it is not a folder")},
              LoggedEntries(log));
}

// A failure at any step of a write must not tear the policy file: the old file stays
// byte-for-byte, the temporary file is removed and the failing call is logged.
struct FailurePoint
{
    const char* name;
    const char* invoked;
    DWORD error;
    // The failure's fakes, which last as long as the returned set.
    OverrideSet (*inject)(DWORD error);
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
    const OverrideSet injected = point.inject(point.error);
    PWCSaxWriter writer(dir.path() + L"\\", L"policy.xml", L"R");
    BuildSmallDocument(writer, std::wstring(20000, L'n'));
    EXPECT_EQ(0xFE000009u, writer.writeDocument());

    EXPECT_EQ(oldBytes, ReadFileBytes(dir.join(L"policy.xml")));
    EXPECT_EQ(std::vector<std::wstring>{L"policy.xml"}, ListDirectory(dir.path()));
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                                               point.invoked, point.error)},
              LoggedEntries(log));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, WriterAtomicReplace,
    ::testing::Values(
        // A read-only or locked policy directory refuses the new file.
        FailurePoint{"Open", "::CreateFile", ERROR_ACCESS_DENIED,
                     [](DWORD error)
                     {
                         return std::move(
                             OverrideSet().add(&pw::PlatformApi::CreateFileW,
                                               [error](LPCWSTR name, DWORD access, DWORD share,
                                                       LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                                                       DWORD flags, HANDLE templateFile)
                                               {
                                                   if (disposition != CREATE_NEW)
                                                   {
                                                       return ::CreateFileW(name, access, share, attributes,
                                                                            disposition, flags, templateFile);
                                                   }
                                                   ::SetLastError(error);
                                                   return INVALID_HANDLE_VALUE;
                                               }));
                     }},
        // The disk fills up after part of the document reached the temporary file.
        FailurePoint{"Write", "::WriteFile", ERROR_DISK_FULL,
                     [](DWORD error)
                     {
                         return std::move(OverrideSet().add(&pw::PlatformApi::WriteFile,
                                                            [error](HANDLE file, LPCVOID data, DWORD size,
                                                                    LPDWORD done, LPOVERLAPPED overlapped)
                                                            {
                                                                if (size > 1000)
                                                                {
                                                                    return ::WriteFile(file, data, size / 2,
                                                                                       done, overlapped);
                                                                }
                                                                ::SetLastError(error);
                                                                return FALSE;
                                                            }));
                     }},
        FailurePoint{"Flush", "::FlushFileBuffers", ERROR_IO_DEVICE,
                     [](DWORD error)
                     {
                         return std::move(OverrideSet().add(&pw::PlatformApi::FlushFileBuffers,
                                                            [error](HANDLE)
                                                            {
                                                                ::SetLastError(error);
                                                                return FALSE;
                                                            }));
                     }},
        // Marking the new file for deletion while it is written is refused.
        FailurePoint{"MarkDeletePending", "::SetFileInformationByHandle", ERROR_INVALID_FUNCTION,
                     [](DWORD error)
                     {
                         return std::move(
                             OverrideSet().add(&pw::PlatformApi::SetFileInformationByHandle,
                                               [error](HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)
                                               {
                                                   ::SetLastError(error);
                                                   return FALSE;
                                               }));
                     }},
        // A read-only or locked policy file refuses to be replaced.
        FailurePoint{"Replace", "::SetFileInformationByHandle", ERROR_DISK_FULL,
                     [](DWORD error)
                     {
                         OverrideSet set;
                         set.add(&pw::PlatformApi::SetFileInformationByHandle, RenameRefuser(error));
                         return set;
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
    const auto countPauses = OverrideApi(&pw::PlatformApi::Sleep, [&pauses](DWORD) { ++pauses; });
    PWCSaxWriter writer(dir.path() + L"\\", L"policy.xml", L"R");
    BuildSmallDocument(writer);
    const ResultCode result = writer.writeDocument();
    ::CloseHandle(reader);
    EXPECT_EQ(19, pauses) << "a refused replace is tried 20 times";

    // The open file cannot be replaced (Wine refuses as Windows does).
    EXPECT_EQ(0xFE000009u, result);
    EXPECT_EQ(oldBytes, ReadFileBytes(dir.join(L"policy.xml")));
    // The code is one of the errors of a file in use, which are retried; Wine's Restart Manager
    // cannot name the holder, so a refused access (Wine's answer) is reported as such.
    EXPECT_THAT(LoggedEntries(log),
                ::testing::Contains(LoggedEntryLike(
                    Failure('E', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                            "::SetFileInformationByHandle", 0),
                    ::testing::AnyOf(DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_SHARING_VIOLATION},
                                     DWORD{ERROR_LOCK_VIOLATION}),
                    ::testing::AnyOf(Narrow(dir.join(L"policy.xml")) + " is in use by another program",
                                     Narrow(dir.join(L"policy.xml")) +
                                         " cannot be replaced: access to it was denied"))));
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
    const auto letGoOnSecondPause = OverrideApi(&pw::PlatformApi::Sleep,
                                                [&](DWORD ms)
                                                {
                                                    pauses.push_back(ms);
                                                    if (pauses.size() == 2)
                                                    {
                                                        ::CloseHandle(reader);
                                                    }
                                                });
    PWCSaxWriter writer(dir.path() + L"\\", L"policy.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0u, writer.writeDocument());
    EXPECT_EQ((std::vector<DWORD>{50, 50}), pauses);
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(dir.join(L"policy.xml")));
    EXPECT_TRUE(log.entries().empty());
}

// The replace asks for POSIX semantics, so that a reader that shares delete access keeps the old file
// and does not block it, and never overrides the read-only attribute. Where the class is unknown the
// classic rename follows in the same attempt: Wine 8 answers FileRenameInfoEx (as it answers
// FileDispositionInfoEx) with ERROR_INVALID_PARAMETER, as Windows before 10 and FAT volumes do.
TEST(WriterAtomicReplace, PosixRenameFirstAndTheClassicOneWhereItIsUnknown)
{
    for (const DWORD posixAnswer : {DWORD{ERROR_SUCCESS}, DWORD{ERROR_INVALID_PARAMETER}})
    {
        TempDirectory dir;
        WriteFileBytes(dir.join(L"policy.xml"), "old policy");
        std::vector<std::pair<int, DWORD>> renames; // class, flags (ReplaceIfExists for the classic one)
        const auto record =
            OverrideApi(&pw::PlatformApi::SetFileInformationByHandle,
                        [&](HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID data, DWORD size) -> BOOL
                        {
                            if (type != FileRenameInfo && type != pw::kFileRenameInfoEx)
                            {
                                return ::SetFileInformationByHandle(file, type, data, size);
                            }
                            DWORD flags = 0;
                            std::memcpy(&flags, data, type == FileRenameInfo ? 1 : sizeof(flags));
                            renames.emplace_back(type, flags);
                            if (type != FileRenameInfo && posixAnswer != ERROR_SUCCESS)
                            {
                                ::SetLastError(posixAnswer);
                                return FALSE;
                            }
                            // Wine has no POSIX rename: the classic one stands in for it (the flags'
                            // first byte reads as ReplaceIfExists).
                            return ::SetFileInformationByHandle(file, FileRenameInfo, data, size);
                        });
        PWCSaxWriter writer(dir.path() + L"\\", L"policy.xml", L"R");
        BuildSmallDocument(writer);
        EXPECT_EQ(0u, writer.writeDocument());
        EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(dir.join(L"policy.xml")));
        // FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS, nothing else.
        using Calls = std::vector<std::pair<int, DWORD>>;
        const Calls posix = {{pw::kFileRenameInfoEx, 0x3}};
        const Calls both = {{pw::kFileRenameInfoEx, 0x3}, {FileRenameInfo, TRUE}};
        EXPECT_EQ(posixAnswer == ERROR_SUCCESS ? posix : both, renames);
    }
}

TEST(WriterAtomicReplaceLocked, OtherReplaceErrorsAreNotRetried)
{
    TempDirectory dir;
    RecordingEventLog log;
    const auto attempts = std::make_shared<int>(0);
    const auto diskFull = RefuseRename(ERROR_DISK_FULL, attempts);
    PWCSaxWriter writer(dir.path() + L"\\", L"policy.xml", L"R");
    BuildSmallDocument(writer);
    EXPECT_EQ(0xFE000009u, writer.writeDocument());
    EXPECT_EQ(1, *attempts);
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
}

namespace
{
// Runs a command line in another process and gives its exit code, or -1 when it cannot run.
DWORD RunProcess(std::wstring commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &process))
    {
        return static_cast<DWORD>(-1);
    }
    ::WaitForSingleObject(process.hProcess, 30000);
    DWORD code = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}
} // namespace

// Regression: the folders were held without data access, which pins nothing, so a folder that had
// passed its check could be renamed away and replaced while the file was written into it.
TEST(WriterFolders, CheckedFoldersCannotBeRenamedWhileTheFileIsWritten)
{
    TempDirectory dir;
    const std::wstring maker = dir.join(L"Maker");
    std::vector<DWORD> renames;
    const auto renameDuringTheWrite = OverrideApi(
        &pw::PlatformApi::CreateFileW,
        [&](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
            DWORD flags, HANDLE templateFile)
        {
            if (disposition == CREATE_NEW)
            {
                for (const std::wstring& folder : {maker, maker + L"\\Product"})
                {
                    renames.push_back(
                        RunProcess(L"cmd.exe /c move \"" + folder + L"\" \"" + dir.join(L"Moved") + L"\""));
                }
            }
            return ::CreateFileW(name, access, share, attributes, disposition, flags, templateFile);
        });
    PWCSaxWriter writer(maker + L"\\Product\\", L"out.xml", L"R", dir.path());
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());
    ASSERT_EQ(2u, renames.size());
    EXPECT_NE(0u, renames[0]);
    EXPECT_NE(0u, renames[1]);
    EXPECT_EQ(std::vector<std::wstring>{L"Maker"}, ListDirectory(dir.path()));
    EXPECT_EQ(kSmallDocumentBytes, ReadFileBytes(maker + L"\\Product\\out.xml"));
    // Once the file is in place the folders are let go.
    EXPECT_EQ(0u, RunProcess(L"cmd.exe /c move \"" + maker + L"\" \"" + dir.join(L"Moved") + L"\""));
}

// Temporary files of runs that were killed are removed by the next write, and nothing else is.
TEST(WriterLeftovers, TemporaryFilesOfEarlierRunsAreRemovedAndNothingElse)
{
    TempDirectory dir;
    const std::wstring target = dir.join(L"out.xml");
    const std::vector<std::wstring> kept = {L"out.xml.0123456789abcdef.tmp.bak",
                                            L"out.xml.0123456789abcde.tmp", L"out.xml.0123456789abcdeg.tmp",
                                            L"other.xml.0123456789abcdef.tmp"};
    for (const std::wstring& name : kept)
    {
        ASSERT_TRUE(WriteFileBytes(dir.join(name), "someone's"));
    }
    ASSERT_TRUE(WriteFileBytes(TemporaryName(target, 0x5a), "half a poli"));
    ASSERT_TRUE(WriteFileBytes(TemporaryName(target, 0xc3), ""));
    RecordingEventLog log;
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R");
    BuildSmallDocument(writer);
    ASSERT_EQ(0u, writer.writeDocument());

    std::vector<std::wstring> expected = kept;
    expected.push_back(L"out.xml");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, ListDirectory(dir.path()));
    // In the order the folder lists them.
    EXPECT_THAT(
        LoggedEntries(log),
        ::testing::UnorderedElementsAre(
            Message('I', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                    "Removed " + Narrow(TemporaryName(target, 0x5a)) + ", left behind by an earlier run"),
            Message('I', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                    "Removed " + Narrow(TemporaryName(target, 0xc3)) + ", left behind by an earlier run")));
}
