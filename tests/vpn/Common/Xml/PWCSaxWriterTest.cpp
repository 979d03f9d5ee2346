#include "vpn/Common/Xml/PWCSaxWriter.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "RecordingXmlMgr.h"
#include "support/CreationRecorder.h"
#include "support/LoggedEntry.h"
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

// What a fresh writer holds after it has accepted each of the texts in turn.
std::wstring AfterTexts(std::initializer_list<const wchar_t*> texts)
{
    PWCSaxWriter writer(L"", L"f.xml", L"R", {});
    for (const wchar_t* text : texts)
    {
        EXPECT_EQ(0u, writer.characters(text));
    }
    return writer.getDocument();
}
} // namespace

TEST(WriterDocument, WorkedExampleToTheCharacter)
{
    PWCSaxWriter writer(L"C:\\unused\\", L"f.xml", L"Root", {});
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
    PWCSaxWriter writer(L"", L"f.xml", L"R", {});
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
    PWCSaxWriter writer(L"", L"f.xml", L"R", {});
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
    PWCSaxWriter writer(L"", L"f.xml", L"R", {});
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
    EXPECT_EQ(L"<![CDATA[a]]]]><![CDATA[>b&]]>", AfterTexts({L"a]]>b&"}));

    EXPECT_EQ(L"<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>", PWCSaxWriter::wrapCData(L"]]>]]>"));
    EXPECT_EQ(L"<![CDATA[]]]]]>", PWCSaxWriter::wrapCData(L"]]]"));
    EXPECT_EQ(L"<![CDATA[]]>", PWCSaxWriter::wrapCData(L""));
}

// Regression: text holding "]]>" but neither "&" nor "<" was written as plain text, and the
// policy file it went into could not be parsed any more.
TEST(WriterCData, SectionEndInPlainTextBrokeTheDocument)
{
    EXPECT_EQ(L"<![CDATA[a]]]]><![CDATA[>b]]>", AfterTexts({L"a]]>b"}));
    // Brackets and ">" that do not form "]]>" stay plain, as before.
    EXPECT_EQ(L"]] > ]>]", AfterTexts({L"]] > ]>]"}));
}

// "]]>" can also form where the text meets plain text appended just before it.
TEST(WriterCData, SectionEndAcrossConsecutiveTextsIsSplit)
{
    EXPECT_EQ(L"a]]<![CDATA[>b]]>", AfterTexts({L"a]]", L">b"}));
    EXPECT_EQ(L"]<![CDATA[]>]]>", AfterTexts({L"]", L"]>"}));
    // After a section or a tag the next text starts fresh.
    EXPECT_EQ(L"<![CDATA[&]]]]>>", AfterTexts({L"&]]", L">"}));
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
    PWCSaxWriter writer(dir.path() + L"\\", L"texts.xml", L"R", CallerTrusted());
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
    ASSERT_EQ(0u, parser.invokeParser(ReadFileBytes(dir.join(L"texts.xml"))));
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
        PWCSaxWriter writer(L"", L"f.xml", L"R", {});
        ASSERT_EQ(0u, writer.characters(L"kept"));
        EXPECT_EQ(0xFE000002u, writer.characters(text));
        EXPECT_EQ(L"kept", writer.getDocument());
        EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "PWCSaxWriter::characters", "PWCSaxWriter",
                                                   "PWCSaxWriter::characters", 0xFE000002u,
                                                   "Text holds a character that XML 1.0 cannot carry")},
                  LoggedEntries(log));
    }

    // Tab, line feed, carriage return, a surrogate pair and the last characters below U+FFFE pass.
    EXPECT_EQ(L"\t\n\r\xD800\xDC00\xFFFD\uE000", AfterTexts({L"\t\n\r\xD800\xDC00\xFFFD\uE000"}));
}

TEST(WriterFile, Utf8WithoutMarkAndWithCrLf)
{
    TempDirectory dir;
    PWCSaxWriter writer(dir.path() + L"\\", L"out.xml", L"R", CallerTrusted());
    // e acute (2 bytes), euro sign (3 bytes), a character outside the basic plane (surrogate pair, 4 bytes)
    BuildSmallDocument(writer, L"\u00E9\u20AC\xD83D\xDE00");
    ASSERT_EQ(0u, writer.writeDocument());
    EXPECT_EQ("<?xml version=\"1.0\" "
              "encoding=\"UTF-8\"?>\r\n<R>\r\n<E>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</E>\r\n</R>\r\n",
              ReadFileBytes(dir.join(L"out.xml")));
}
